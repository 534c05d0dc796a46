#include "driver_setup/driver_integrity.h"

#include <optional>
#include <string>

#include "driver_setup/driver_folder.h"
#include "driver_setup/manifest_reader.h"
#include "driver_setup/sha256_digest.h"
#include "driver_setup/windows_path_components.h"

namespace quorle::setup {

Status verify_driver_files(const std::filesystem::path& driver_folder,
                           std::string_view manifest_text, FileReader& reader) {
    QUORLE_ASSIGN_OR_RETURN(const DigestManifest manifest, read_manifest(manifest_text));
    for (const auto& [name, expected] : manifest) {
        if (!is_single_path_component(name)) return fail("invalid bundled file name");
        std::optional<std::string> actual;
        {
            // The content lives only inside this block: one file in memory at a time.
            const std::expected<std::string, FileReadError> content =
                reader.read_regular_file(append_as_text(driver_folder, name), kMaxBundledFileBytes);
            if (!content) return fail("missing bundled driver file " + name);
            actual = sha256_hex(*content);
        }
        // A digest that could not be computed proves nothing, so it fails like a mismatch.
        if (!actual || *actual != expected) {
            return fail("bundled driver integrity check failed: " + name);
        }
    }
    return {};
}

Status verify_driver_files(const std::filesystem::path& driver_folder,
                           std::string_view manifest_text) {
    return verify_driver_files(driver_folder, manifest_text, system_file_reader());
}

}  // namespace quorle::setup
