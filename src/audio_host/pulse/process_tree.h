#pragma once
// Which playback streams a capture takes, decided by the process that owns each stream.
//
// The process of a stream comes from the server's description of the stream and of its
// client (see stream_process). Whatever its source, it is trusted only as far as the system
// confirms it: the process must exist now, and its ancestry is read from the system, never
// from the server.
#include <cstdint>
#include <optional>
#include <string_view>

#include "audio_host/pulse/loopback_types.h"

namespace quorle::pulse {

// The system's view of processes.
class ProcessLookup {
  public:
    virtual ~ProcessLookup() = default;
    // The parent of a running process; empty when `pid` names no process (or it vanished).
    [[nodiscard]] virtual std::optional<std::uint32_t> parent_of(std::uint32_t pid) const = 0;
};

// True when `pid` is `root` or one of its descendants. The walk up stops at a process
// without parent, a missing process, a loop or 4096 generations.
[[nodiscard]] bool in_process_tree(const ProcessLookup& processes, std::uint32_t pid,
                                   std::uint32_t root);

// What the server says about who plays a stream; each value is a parsed process id property,
// empty when the property is missing or not a process id.
struct StreamOwner {
    // The client's `pipewire.sec.pid`: PipeWire takes it from the credentials of the
    // client's socket, so the program cannot forge it. Absent under PulseAudio.
    std::optional<std::uint32_t> client_sec_pid;
    // The stream's `application.process.id`, supplied by the program.
    std::optional<std::uint32_t> stream_process_id;
    // The client's `application.process.id`, supplied by the program (PipeWire's own
    // programs set it on the client only).
    std::optional<std::uint32_t> client_process_id;
};

// The process of a stream: the client's secure pid, else the stream's process id, else the
// client's. `relay_pid` is the secure pid of the capture's own connection: a server that
// relays the PulseAudio protocol (pipewire-pulse) is itself the socket peer of every client
// it relays, so that pid names the relay, not the program, and is passed over.
[[nodiscard]] std::optional<std::uint32_t> stream_process(const StreamOwner& owner,
                                                          std::optional<std::uint32_t> relay_pid);

// The capture decision for a stream whose owner is `stream_pid` (empty: the stream names
// none, or the text is not a process id):
// - IncludeTargetTree: only a confirmed process inside the target's tree;
// - ExcludeTargetTree: everything except a confirmed process inside the target's tree.
[[nodiscard]] bool captures_stream(const ProcessLookup& processes, LoopbackTarget target,
                                   std::optional<std::uint32_t> stream_pid);

// A process id property: decimal digits only, no sign, no leading zero, not 0, within
// 32 bits (the form of a /proc directory name).
[[nodiscard]] std::optional<std::uint32_t> parse_process_id(std::string_view text);

// The lookup over /proc (/proc/<pid>/stat, read as the process list reads it).
class ProcLookup final : public ProcessLookup {
  public:
    [[nodiscard]] std::optional<std::uint32_t> parent_of(std::uint32_t pid) const override;
};

}  // namespace quorle::pulse
