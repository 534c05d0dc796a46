#pragma once
// A one-shot map from every process id to its parent's id.
#include <cstdint>
#include <map>

#include "audio_host/process/process_platform.h"
#include "common/result.h"

namespace quorle::host {

// pid -> parent pid, from one snapshot; an id reported twice keeps its last parent.
using ProcessMap = std::map<std::uint32_t, std::uint32_t>;

// Takes a snapshot of all processes and maps each id to its parent id.
// Failures: "process snapshot: <text>" (no snapshot), "first process: <text>" (no first
// entry). The first failing next-entry call ends the walk without a failure.
[[nodiscard]] Result<ProcessMap> snapshot_process_map(ProcessPlatform& platform);

}  // namespace quorle::host
