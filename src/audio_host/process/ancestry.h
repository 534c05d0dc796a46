#pragma once
// Whether a capture request may run: the host must be the translator's child, and the
// chosen process tree must neither include the translator nor belong to it.
#include <cstdint>

#include "audio_host/cli/arguments.h"
#include "audio_host/process/process_map.h"
#include "common/result.h"

namespace quorle::host {

// Walks up from `start` through the parents in `map`: true when `sought` is `start` or one
// of its ancestors, false when the walk reaches id 0 or an id missing from the map, and
// "cyclic process ancestry" when the walk comes back to an id it has visited.
[[nodiscard]] Result<bool> is_ancestor_or_self(const ProcessMap& map, std::uint32_t sought,
                                               std::uint32_t start);

// Checks, in this order: the host (`own_pid`) is a child of the request's excluded pid; that
// pid is present; for a process target, the target is present, is not the translator or
// below it, and is not above it.
[[nodiscard]] Status check_ancestry(const ProcessMap& map, const CaptureRequest& request,
                                    std::uint32_t own_pid);

}  // namespace quorle::host
