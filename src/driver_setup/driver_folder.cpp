#include "driver_setup/driver_folder.h"

#include "common/platform_error.h"
#include "common/text.h"

namespace quorle::setup {
namespace {

using PathString = std::filesystem::path::string_type;

bool is_separator(std::filesystem::path::value_type c) {
    return c == '/' || c == std::filesystem::path::preferred_separator;
}

PathString native_text(std::string_view utf8) {
#ifdef _WIN32
    const std::u16string wide = utf8_to_utf16z(utf8);
    // Drop the terminating NUL that utf8_to_utf16z keeps inside the contents.
    return PathString(wide.begin(), wide.end() - 1);
#else
    return PathString(utf8);
#endif
}

}  // namespace

std::filesystem::path append_as_text(const std::filesystem::path& folder, std::string_view tail) {
    PathString text = folder.native();
    if (!text.empty() && !is_separator(text.back())) {
        text += std::filesystem::path::preferred_separator;
    }
    text += native_text(tail);
    return std::filesystem::path(std::move(text));
}

Result<std::filesystem::path> application_folder_of(const std::filesystem::path& executable) {
    if (!executable.has_relative_path()) return fail("missing application folder");
    return executable.parent_path();
}

Result<std::filesystem::path> locate_driver_folder(OwnExecutable& own) {
    const std::expected<std::filesystem::path, std::uint32_t> executable = own.path();
    if (!executable) return fail(os_error_message("", static_cast<int>(executable.error())));
    QUORLE_ASSIGN_OR_RETURN(const std::filesystem::path folder, application_folder_of(*executable));
    return append_as_text(folder, kDriverFolderRelative);
}

}  // namespace quorle::setup
