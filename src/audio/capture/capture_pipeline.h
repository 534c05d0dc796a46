#pragma once
// Creation of one capture pipeline: the ring, the running flag and the counters, split into
// the capture side's share (the sink) and the worker's share.
#include <cstdint>
#include <memory>

#include "audio/capture/capture_counters.h"
#include "audio/capture/capture_ring.h"
#include "audio/capture/capture_sink.h"
#include "common/result.h"

namespace quorle::capture {

// What the worker thread owns of a pipeline.
struct WorkerSide {
    RingReader reader;                      // the ring's reading end
    std::shared_ptr<CaptureShared> shared;  // running flag and counters
    std::uint16_t channels = 0;
    std::uint32_t sample_rate = 0;
};

struct PipelineParts {
    CaptureSink sink;
    WorkerSide worker_side;
};

// Fails with "invalid capture format or capacity" when channels is 0 or above 1024, the
// sample rate is 0, or the capacity is 0 (or above kMaxRingCapacity).
[[nodiscard]] Result<PipelineParts> create_capture_pipeline(std::uint16_t channels,
                                                            std::uint32_t sample_rate,
                                                            std::uint64_t capacity);

}  // namespace quorle::capture
