#include "audio/capture/downmix.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

#include "audio/capture/downmix_paths.h"

namespace quorle::capture {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// The conversion written out plainly, one frame at a time, as the reference that every
// path of downmix_to_s16le must match byte for byte.
std::vector<std::uint8_t> reference(const std::vector<float>& samples, std::uint16_t channels) {
    std::vector<std::uint8_t> out;
    for (std::size_t f = 0; f < samples.size() / channels; ++f) {
        float sum = -0.0f;
        for (std::size_t c = 0; c < channels; ++c)
            sum = sum + samples[f * channels + c];
        float mean = sum / static_cast<float>(channels);
        if (mean < -1.0f)
            mean = -1.0f;
        if (mean > 1.0f)
            mean = 1.0f;
        const float scaled = mean * 32767.0f;
        std::int32_t value = 0;
        if (!std::isnan(scaled))
            value = static_cast<std::int32_t>(std::trunc(scaled));
        const auto bits = static_cast<std::uint16_t>(static_cast<std::int16_t>(value));
        out.push_back(static_cast<std::uint8_t>(bits & 0xFF));
        out.push_back(static_cast<std::uint8_t>(bits >> 8));
    }
    return out;
}

std::vector<std::uint8_t> convert(const std::vector<float>& samples, std::uint16_t channels) {
    auto bytes = downmix_to_s16le(samples.data(), samples.size(), channels);
    EXPECT_TRUE(bytes) << bytes.error();
    return bytes ? *bytes : std::vector<std::uint8_t>{};
}

TEST(Downmix, WorkedStereoValues) {
    struct Row {
        float left, right;
        std::uint8_t low, high;
    };
    const Row rows[] = {
        {0.5f, 0.5f, 0xFF, 0x3F},   {1.0f, 1.0f, 0xFF, 0x7F},  {-1.0f, -1.0f, 0x01, 0x80},
        {1.0f, -1.0f, 0x00, 0x00},  {0.25f, 0.0f, 0xFF, 0x0F}, {-0.25f, 0.0f, 0x01, 0xF0},
        {3.0f, 3.0f, 0xFF, 0x7F},   {kInf, 0.0f, 0xFF, 0x7F},  {kInf, -kInf, 0x00, 0x00},
        {kNaN, 1.0f, 0x00, 0x00},   {-kInf, 0.0f, 0x01, 0x80}, {-0.0f, -0.0f, 0x00, 0x00},
        {-3.0f, -5.0f, 0x01, 0x80}, {1.0f, kNaN, 0x00, 0x00},
    };
    for (const Row& row : rows) {
        // Alone, and at every lane of a run long enough for the vectorised path.
        for (std::size_t at = 0; at < 19; ++at) {
            std::vector<float> samples(2 * 19, 0.0f);
            samples[2 * at] = row.left;
            samples[2 * at + 1] = row.right;
            const auto bytes = convert(samples, 2);
            ASSERT_EQ(bytes.size(), 2u * 19);
            EXPECT_EQ(bytes[2 * at], row.low) << row.left << "," << row.right << " at " << at;
            EXPECT_EQ(bytes[2 * at + 1], row.high) << row.left << "," << row.right << " at " << at;
        }
    }
}

TEST(Downmix, RejectsIncompleteFramesAndConvertsNothingToNothing) {
    struct Row {
        std::size_t n;
        std::uint16_t channels;
        bool ok;
    };
    const Row rows[] = {{0, 2, true},  {3, 2, false}, {0, 0, false}, {4, 0, false},
                        {7, 3, false}, {6, 3, true},  {1, 1, true},  {1023, 1024, false}};
    const std::vector<float> samples(2048, 0.25f);
    for (const Row& row : rows) {
        const auto bytes = downmix_to_s16le(samples.data(), row.n, row.channels);
        ASSERT_EQ(bytes.has_value(), row.ok) << row.n << " samples, " << row.channels;
        if (bytes) {
            EXPECT_EQ(bytes->size(), 2 * row.n / row.channels);
        } else {
            EXPECT_EQ(bytes.error(), "incomplete audio frame");
        }
    }
    EXPECT_TRUE(downmix_to_s16le(nullptr, 0, 2));
}

// Values that stress each rule: signed zeros, subnormals, the clamp boundaries and their
// neighbours, truncation edges, infinities, NaNs and huge magnitudes.
std::vector<float> special_values() {
    std::vector<float> values = {0.0f,
                                 -0.0f,
                                 std::numeric_limits<float>::denorm_min(),
                                 -std::numeric_limits<float>::denorm_min(),
                                 std::numeric_limits<float>::min(),
                                 -std::numeric_limits<float>::min(),
                                 1.0f,
                                 -1.0f,
                                 std::nextafter(1.0f, 2.0f),
                                 std::nextafter(1.0f, 0.0f),
                                 std::nextafter(-1.0f, -2.0f),
                                 std::nextafter(-1.0f, 0.0f),
                                 0.5f,
                                 -0.5f,
                                 1.0f / 32767.0f,
                                 -1.0f / 32767.0f,
                                 32766.5f / 32767.0f,
                                 kInf,
                                 -kInf,
                                 kNaN,
                                 -kNaN,
                                 std::bit_cast<float>(0x7F800001u),  // signalling NaN
                                 std::numeric_limits<float>::max(),
                                 -std::numeric_limits<float>::max(),
                                 1e30f,
                                 -1e30f,
                                 3.0f,
                                 0.1f};
    return values;
}

TEST(Downmix, MatchesThePlainLoopByteForByte) {
    std::mt19937 random(20240611);
    const std::vector<float> specials = special_values();
    std::uniform_int_distribution<std::size_t> pick(0, specials.size() - 1);
    std::uniform_real_distribution<float> audio(-1.5f, 1.5f);
    std::uniform_int_distribution<std::uint32_t> bits;
    const std::uint16_t channel_counts[] = {1, 2, 3, 4, 5, 6, 8, 1024};
    for (const std::uint16_t channels : channel_counts) {
        // Every length up to several vector steps plus each possible tail; wide frames need few.
        const std::size_t longest = channels <= 8 ? 70 : 5;
        for (std::size_t frames = 0; frames <= longest; ++frames) {
            for (int kind = 0; kind < 4; ++kind) {
                std::vector<float> samples(frames * channels);
                for (float& s : samples) {
                    switch (kind) {
                        case 0:
                            s = audio(random);
                            break;
                        case 1:
                            s = specials[pick(random)];
                            break;
                        case 2:
                            s = std::bit_cast<float>(bits(random));
                            break;
                        default:
                            s = random() % 3 == 0 ? specials[pick(random)] : audio(random);
                    }
                }
                const auto bytes = convert(samples, channels);
                ASSERT_EQ(bytes, reference(samples, channels))
                    << channels << " channels, " << frames << " frames, kind " << kind;
            }
        }
    }
}

TEST(Downmix, EveryPairOfSpecialValuesMatchesAndNeverGivesMinus32768) {
    const std::vector<float> specials = special_values();
    std::vector<float> samples;
    for (const float a : specials) {
        for (const float b : specials) {
            samples.push_back(a);
            samples.push_back(b);
        }
    }
    const auto bytes = convert(samples, 2);
    ASSERT_EQ(bytes, reference(samples, 2));
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        EXPECT_FALSE(bytes[i] == 0x00 && bytes[i + 1] == 0x80) << "frame " << i / 2;
    }
}

// Each stereo path this machine can run, held against the plain loop on its own, whichever
// path downmix_to_s16le would pick here.
TEST(Downmix, EveryStereoPathMatchesThePlainLoop) {
    using Path = std::size_t (*)(const float*, std::size_t, std::uint8_t*);
    struct Candidate {
        const char* name;
        bool available;
        Path path;
    };
    const Candidate candidates[] = {
        {"sse2", detail::stereo_sse2_available(), &detail::downmix_stereo_sse2},
        {"avx2", detail::stereo_avx2_available(), &detail::downmix_stereo_avx2},
    };
    std::mt19937 random(99);
    const std::vector<float> specials = special_values();
    std::uniform_int_distribution<std::size_t> pick(0, specials.size() - 1);
    std::uniform_int_distribution<std::uint32_t> bits;
    int ran = 0;
    for (const Candidate& candidate : candidates) {
        if (!candidate.available)
            continue;
        ++ran;
        for (std::size_t frames = 0; frames <= 100; ++frames) {
            std::vector<float> samples(2 * frames);
            for (float& s : samples) {
                s = random() % 2 == 0 ? specials[pick(random)] : std::bit_cast<float>(bits(random));
            }
            std::vector<std::uint8_t> out(2 * frames, 0xAA);
            const std::size_t done = candidate.path(samples.data(), frames, out.data());
            ASSERT_LE(done, frames);
            detail::downmix_plain(samples.data() + 2 * done, frames - done, 2,
                                  out.data() + 2 * done);
            ASSERT_EQ(out, reference(samples, 2)) << candidate.name << ", " << frames << " frames";
        }
    }
    std::printf("stereo paths checked on this machine: %d\n", ran);
}

TEST(Downmix, IntoCallerBufferMatchesTheAllocatingForm) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> audio(-1.2f, 1.2f);
    std::vector<float> samples(1920);
    for (float& s : samples)
        s = audio(random);
    std::vector<std::uint8_t> out(960 * 2, 0xAA);
    downmix_frames_to_s16le(samples.data(), 960, 2, out.data());
    EXPECT_EQ(out, convert(samples, 2));
}

}  // namespace
}  // namespace quorle::capture
