#pragma once
// The counters of one capture and the flag that ends it, shared by the capture side and the
// worker thread for the capture's whole life.
#include <atomic>
#include <cstdint>

namespace quorle::capture {

// Running totals; they only grow. Written with relaxed atomic adds (each is a plain tally);
// read without ordering for the diagnostics line.
struct CaptureCounters {
    // Frames the ring took (capture side).
    std::atomic<std::uint64_t> accepted_frames{0};
    // Frames refused by a full ring or cut off as an incomplete run (capture side).
    std::atomic<std::uint64_t> dropped_frames{0};
    // Packets flagged as a data discontinuity (capture side, for the packet loop).
    std::atomic<std::uint64_t> discontinuities{0};
};

// What both sides of one capture pipeline share.
struct CaptureShared {
    // True until shutdown clears it (release) once; both sides read it with acquire. While
    // clear, the capture side ignores samples and the worker ends.
    std::atomic<bool> running{true};
    CaptureCounters counters;
};

}  // namespace quorle::capture
