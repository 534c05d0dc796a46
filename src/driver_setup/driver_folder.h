#pragma once
// Where the shipped driver package lives: the folder `drivers/vbcable` beside the program.
#include <filesystem>
#include <string_view>

#include "common/result.h"
#include "driver_setup/own_executable.h"

namespace quorle::setup {

// The driver folder relative to the application folder, in the platform's own separator. On
// Windows a path that starts with "\\?\" (the form the program may have been started with,
// which the own path keeps) is taken character for character, so "/" would not separate
// there; the backslash opens the same files with or without the prefix.
#ifdef _WIN32
inline constexpr std::string_view kDriverFolderRelative = "drivers\\vbcable";
#else
inline constexpr std::string_view kDriverFolderRelative = "drivers/vbcable";
#endif

// `folder` and `tail` joined as text: one platform separator in between unless `folder` is
// empty or already ends in a separator. Unlike the path operator, a rooted `tail` can never
// replace `folder`. `tail` is UTF-8.
[[nodiscard]] std::filesystem::path append_as_text(const std::filesystem::path& folder,
                                                   std::string_view tail);

// The folder holding `executable`, or "missing application folder" when the path is only a
// root or a drive prefix.
[[nodiscard]] Result<std::filesystem::path> application_folder_of(
    const std::filesystem::path& executable);

// The program's own path, its application folder and the driver folder inside it. A failed
// path lookup gives the platform's text for the error.
[[nodiscard]] Result<std::filesystem::path> locate_driver_folder(OwnExecutable& own);

}  // namespace quorle::setup
