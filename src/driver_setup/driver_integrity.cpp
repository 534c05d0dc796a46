#include "driver_setup/driver_integrity.h"

#include <optional>
#include <string>

#include "driver_setup/driver_folder.h"
#include "driver_setup/manifest_reader.h"
#include "driver_setup/sha256_digest.h"
#include "driver_setup/windows_path_components.h"

namespace quorle::setup {

namespace {

// The folders the files are found through, outer first, so that neither can be renamed,
// removed or re-pointed between the check and the installation.
bool hold_driver_folders(const std::filesystem::path& driver_folder, FileReader& reader) {
    return reader.hold_folder(driver_folder.parent_path()).has_value() &&
           reader.hold_folder(driver_folder).has_value();
}

}  // namespace

Status verify_driver_files(const std::filesystem::path& driver_folder,
                           std::string_view manifest_text, FileReader& reader) {
    QUORLE_ASSIGN_OR_RETURN(const DigestManifest manifest, read_manifest(manifest_text));
    bool folders_held = false;
    for (const auto& [name, expected] : manifest) {
        if (!is_single_path_component(name)) return fail("invalid bundled file name");
        if (!folders_held) {
            if (!hold_driver_folders(driver_folder, reader)) {
                return fail("missing bundled driver file " + name);
            }
            folders_held = true;
        }
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

}  // namespace quorle::setup
