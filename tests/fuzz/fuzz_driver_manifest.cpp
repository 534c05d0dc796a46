// Fuzzes the digest manifest reader, the bundled-name rule and the integrity check over them
// (files come from a fake reader, so nothing touches the disk).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/text.h"
#include "driver_setup/driver_integrity.h"
#include "driver_setup/manifest_reader.h"
#include "driver_setup/windows_path_components.h"

namespace {

// Every file's content is its own path text, so some entries match and most do not.
class EchoReader final : public quorle::setup::FileReader {
  public:
    std::expected<void, quorle::setup::FileReadError> hold_folder(
        const std::filesystem::path&) override {
        return {};
    }
    std::expected<std::string, quorle::setup::FileReadError> read_regular_file(
        const std::filesystem::path& path, std::size_t) override {
        const std::string text = path.string();
        if (text.size() % 3 == 0) {
            return std::unexpected(
                quorle::setup::FileReadError{quorle::setup::FileReadError::Kind::open, 2});
        }
        return text;
    }
    // The integrity check never asks for it.
    std::expected<std::filesystem::path, std::uint32_t> held_folder_final_path() const override {
        return std::unexpected(std::uint32_t{120});
    }
};

void require(bool condition) {
    if (!condition) std::abort();
}

bool starts_with(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

void check_name_rule(std::string_view name) {
    const std::size_t count = quorle::setup::windows_path_component_count(name);
    require((count == 0) == name.empty());
    require(count <= name.size());
    require(quorle::setup::is_single_path_component(name) == (count == 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check_name_rule(text);

    const quorle::Result<quorle::setup::DigestManifest> manifest =
        quorle::setup::read_manifest(text);
    if (!manifest) {
        // A message is one line of valid UTF-8.
        require(quorle::is_valid_utf8(manifest.error()));
        require(manifest.error().find('\n') == std::string::npos);
        require(starts_with(manifest.error(), "[json.exception."));
        return 0;
    }
    for (const auto& [name, digest] : *manifest)
        check_name_rule(name);

    EchoReader reader;
    const quorle::Status status = quorle::setup::verify_driver_files("/pkg", text, reader);
    if (!status) {
        const std::string& message = status.error();
        require(message == "invalid bundled file name" ||
                starts_with(message, "missing bundled driver file ") ||
                starts_with(message, "bundled driver integrity check failed: "));
    }
    return 0;
}
