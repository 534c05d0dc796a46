#pragma once
// The component rule of a Windows path, decided on the UTF-8 text alone so that a bundled
// file name is judged the same way on every platform.
#include <cstddef>
#include <string_view>

namespace quorle::setup {

// Counts the components of `path` read as a Windows path:
// - `\` and `/` both separate; runs of separators and a trailing separator add nothing;
// - a drive prefix (an ASCII letter and `:`) is one component;
// - a share prefix (`\\server\share`) or a namespace prefix (`\\?\...`, `\\.\...`) is one
//   component and carries an implied root, which is another;
// - a leading root separator is one component;
// - a `.` piece counts only at the very start of the relative part (`.`, `./a`, `C:.`);
//   everywhere else it is dropped; every `..` counts.
[[nodiscard]] std::size_t windows_path_component_count(std::string_view path);

// True when `name` is exactly one Windows path component: the only shape of a bundled file
// name that cannot reach outside the folder it is looked up in (a lone `.`, `..`, drive
// prefix or separator passes here and then fails to read as a file).
[[nodiscard]] bool is_single_path_component(std::string_view name);

}  // namespace quorle::setup
