#pragma once
// Conversion of interleaved float frames to mono signed 16-bit little-endian PCM. The
// arithmetic is fixed to the last bit: per frame, sum = -0.0 plus each channel in order (float
// additions, left to right), mean = sum / channels (a true float division), clamp to
// [-1, 1] (NaN passes through), times 32767.0f, truncation toward zero, NaN as 0.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/result.h"

namespace quorle::capture {

// n interleaved samples of `channels` channels to 2 * n / channels bytes. Fails with
// "incomplete audio frame" when channels is 0 or n is not a whole number of frames.
[[nodiscard]] Result<std::vector<std::uint8_t>> downmix_to_s16le(const float* samples,
                                                                 std::size_t n,
                                                                 std::uint16_t channels);

// The same conversion into a caller's buffer of at least 2 * frames bytes, for callers that
// reuse one buffer. Requires channels >= 1 and samples to hold frames * channels samples.
void downmix_frames_to_s16le(const float* samples, std::size_t frames, std::uint16_t channels,
                             std::uint8_t* out);

}  // namespace quorle::capture
