// Differential fuzzing of the downmix: arbitrary float bit patterns and channel counts through
// downmix_to_s16le and every stereo vector path, each held against the plain per-frame loop.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/capture/downmix.h"
#include "audio/capture/downmix_paths.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    // First two bytes: the channel count (0 included, to reach the failure).
    const auto channels = static_cast<std::uint16_t>((data[0] | (data[1] << 8)) % 1100);
    std::vector<float> samples((size - 2) / sizeof(float));
    if (!samples.empty())
        std::memcpy(samples.data(), data + 2, samples.size() * sizeof(float));

    using namespace quorle::capture;
    const auto bytes = downmix_to_s16le(samples.data(), samples.size(), channels);
    const bool whole = channels != 0 && samples.size() % channels == 0;
    if (bytes.has_value() != whole)
        std::abort();
    if (!whole) {
        if (bytes.error() != "incomplete audio frame")
            std::abort();
        return 0;
    }
    const std::size_t frames = samples.size() / channels;
    if (bytes->size() != 2 * frames)
        std::abort();
    std::vector<std::uint8_t> plain(2 * frames);
    detail::downmix_plain(samples.data(), frames, channels, plain.data());
    if (*bytes != plain)
        std::abort();
    for (std::size_t i = 0; i + 1 < plain.size(); i += 2) {
        if (plain[i] == 0x00 && plain[i + 1] == 0x80)
            std::abort();  // -32768 is never produced
    }
    if (channels == 2) {
        using Path = std::size_t (*)(const float*, std::size_t, std::uint8_t*);
        const Path paths[] = {
            detail::stereo_sse2_available() ? &detail::downmix_stereo_sse2 : nullptr,
            detail::stereo_avx2_available() ? &detail::downmix_stereo_avx2 : nullptr};
        for (const Path path : paths) {
            if (path == nullptr)
                continue;
            std::vector<std::uint8_t> out(2 * frames);
            const std::size_t done = path(samples.data(), frames, out.data());
            detail::downmix_plain(samples.data() + 2 * done, frames - done, 2,
                                  out.data() + 2 * done);
            if (out != plain)
                std::abort();
        }
    }
    return 0;
}
