#include "driver_setup/manifest_reader.h"

#include <nlohmann/json.hpp>

#include "common/text.h"

namespace quorle::setup {

Result<DigestManifest> read_manifest(std::string_view text) {
    // The JSON library reports errors only by exception; they end here as the message.
    try {
        const nlohmann::json document = nlohmann::json::parse(text.begin(), text.end());
        // The library's own conversion rejects a non-object document and non-string values
        // with its own texts.
        return document.get<DigestManifest>();
    } catch (const nlohmann::json::exception& error) {
        // The reader quotes the bytes it stopped at, which may be cut UTF-8; a message is
        // always valid UTF-8, so such bytes become U+FFFD.
        return fail(bytes_to_utf8(error.what()));
    }
}

}  // namespace quorle::setup
