#include "audio/capture/capture_pipeline.h"

#include <utility>

namespace quorle::capture {

Result<PipelineParts> create_capture_pipeline(std::uint16_t channels, std::uint32_t sample_rate,
                                              std::uint64_t capacity) {
    if (channels == 0 || channels > kMaxChannels || sample_rate == 0 || capacity == 0 ||
        capacity > kMaxRingCapacity) {
        return fail("invalid capture format or capacity");
    }
    RingEnds ring = make_capture_ring(capacity);
    auto shared = std::make_shared<CaptureShared>();
    PipelineParts parts{CaptureSink(std::move(ring.writer), shared, channels),
                        WorkerSide{std::move(ring.reader), shared, channels, sample_rate}};
    return parts;
}

}  // namespace quorle::capture
