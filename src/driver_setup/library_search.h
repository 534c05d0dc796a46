#pragma once
// The program runs elevated from a folder the user may be able to write to, so libraries
// loaded after start must never be looked for there.
#include <cstdint>

namespace quorle::setup {

// Windows: limits every later library load to System32 (SetDefaultDllDirectories). Returns
// 0, or the Windows error code of the failed call. Elsewhere there is nothing to limit and it
// returns 0.
[[nodiscard]] std::uint32_t restrict_library_search();

}  // namespace quorle::setup
