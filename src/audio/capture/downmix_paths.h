#pragma once
// The vectorised stereo paths of the downmix, visible so that tests can hold each one against
// the plain loop on every machine that can run it. Each converts whole groups of frames from
// the start of the run and returns how many frames it converted; the caller finishes the rest
// with the plain loop.
#include <cstddef>
#include <cstdint>

namespace quorle::capture::detail {

// The plain per-frame loop, for any channel count.
void downmix_plain(const float* samples, std::size_t frames, std::uint16_t channels,
                   std::uint8_t* out);

// True when this build and this processor can run the path.
[[nodiscard]] bool stereo_sse2_available();
[[nodiscard]] bool stereo_avx2_available();

std::size_t downmix_stereo_sse2(const float* samples, std::size_t frames, std::uint8_t* out);
std::size_t downmix_stereo_avx2(const float* samples, std::size_t frames, std::uint8_t* out);

}  // namespace quorle::capture::detail
