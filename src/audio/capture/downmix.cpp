#include "audio/capture/downmix.h"

// This file's arithmetic must be evaluated exactly as written. The build passes
// -ffp-contract=off -fno-fast-math (/fp:precise for MSVC) for it on every compiler; these
// guards make a build that lost them fail instead of producing different samples.
#if defined(__FAST_MATH__)
#error "downmix.cpp must not be built with fast-math"
#endif
#if defined(__clang__)
#pragma clang fp contract(off)
#pragma clang fp reassociate(off)
#endif
#if defined(_MSC_VER) && !defined(__clang__)
#pragma float_control(precise, on)
#pragma fp_contract(off)
#endif

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUORLE_DOWNMIX_SSE2 1
#endif
// The AVX2 path is compiled for its own function only and chosen at run time.
#if defined(QUORLE_DOWNMIX_SSE2) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QUORLE_DOWNMIX_AVX2 1
#endif

#include "audio/capture/downmix_paths.h"

namespace quorle::capture {
namespace {

std::int16_t convert_frame(const float* frame, std::uint16_t channels) {
    float sum = -0.0f;
    for (std::uint16_t c = 0; c < channels; ++c)
        sum = sum + frame[c];
    float mean = sum / static_cast<float>(channels);
    if (mean < -1.0f)
        mean = -1.0f;
    if (mean > 1.0f)
        mean = 1.0f;
    const float scaled = mean * 32767.0f;
    // NaN fails every comparison; after the clamp no other value leaves the 16-bit range,
    // but keep the conversion defined for any input.
    if (!(scaled == scaled))
        return 0;
    if (scaled >= 32767.0f)
        return 32767;
    if (scaled <= -32768.0f)
        return -32768;
    return static_cast<std::int16_t>(scaled);  // truncation toward zero
}

void store_le(std::uint8_t* out, std::int16_t value) {
    const auto bits = static_cast<std::uint16_t>(value);
    out[0] = static_cast<std::uint8_t>(bits & 0xFFu);
    out[1] = static_cast<std::uint8_t>(bits >> 8);
}

}  // namespace

namespace detail {

void downmix_plain(const float* samples, std::size_t frames, std::uint16_t channels,
                   std::uint8_t* out) {
    for (std::size_t f = 0; f < frames; ++f) {
        store_le(out + 2 * f, convert_frame(samples + f * channels, channels));
    }
}

#if defined(QUORLE_DOWNMIX_SSE2)
// Two channels, eight frames per step. Bit-exact with convert_frame:
// - -0.0 + l == l for every l (also -0.0, +0.0, infinities and NaN), so the sum is l + r;
// - sum / 2 and sum * 0.5 are both the correctly rounded value of the same real number;
// - NaN lanes are zeroed before the clamp, which gives 0 as the scalar NaN rule does;
// - max/min clamp equals the two comparisons once NaN is gone;
// - after the clamp the scaled values lie in [-32767, 32767], so truncating to 32 bits and
//   packing to 16 bits with saturation changes nothing.
// x86 is little-endian, so the packed 16-bit lanes are already the output bytes.
std::size_t downmix_stereo_sse2(const float* samples, std::size_t frames, std::uint8_t* out) {
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 lower = _mm_set1_ps(-1.0f);
    const __m128 upper = _mm_set1_ps(1.0f);
    const __m128 scale = _mm_set1_ps(32767.0f);
    std::size_t f = 0;
    for (; f + 8 <= frames; f += 8) {
        const float* in = samples + 2 * f;
        const __m128 a0 = _mm_loadu_ps(in);       // l0 r0 l1 r1
        const __m128 a1 = _mm_loadu_ps(in + 4);   // l2 r2 l3 r3
        const __m128 b0 = _mm_loadu_ps(in + 8);   // l4 r4 l5 r5
        const __m128 b1 = _mm_loadu_ps(in + 12);  // l6 r6 l7 r7
        const __m128 left_a = _mm_shuffle_ps(a0, a1, _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 right_a = _mm_shuffle_ps(a0, a1, _MM_SHUFFLE(3, 1, 3, 1));
        const __m128 left_b = _mm_shuffle_ps(b0, b1, _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 right_b = _mm_shuffle_ps(b0, b1, _MM_SHUFFLE(3, 1, 3, 1));
        __m128 mean_a = _mm_mul_ps(_mm_add_ps(left_a, right_a), half);
        __m128 mean_b = _mm_mul_ps(_mm_add_ps(left_b, right_b), half);
        mean_a = _mm_andnot_ps(_mm_cmpunord_ps(mean_a, mean_a), mean_a);
        mean_b = _mm_andnot_ps(_mm_cmpunord_ps(mean_b, mean_b), mean_b);
        mean_a = _mm_min_ps(_mm_max_ps(mean_a, lower), upper);
        mean_b = _mm_min_ps(_mm_max_ps(mean_b, lower), upper);
        const __m128i ints_a = _mm_cvttps_epi32(_mm_mul_ps(mean_a, scale));
        const __m128i ints_b = _mm_cvttps_epi32(_mm_mul_ps(mean_b, scale));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * f), _mm_packs_epi32(ints_a, ints_b));
    }
    return f;
}
bool stereo_sse2_available() {
    return true;
}
#else
std::size_t downmix_stereo_sse2(const float*, std::size_t, std::uint8_t*) {
    return 0;
}
bool stereo_sse2_available() {
    return false;
}
#endif

#if defined(QUORLE_DOWNMIX_AVX2)
// The SSE2 steps on eight lanes, sixteen frames per step. The in-lane shuffles and packs leave
// the 16-bit results in units of two frames ordered 0 2 4 6 1 3 5 7; one cross-lane
// permutation puts them back in stream order. Same arithmetic, same results.
__attribute__((target("avx2"))) std::size_t downmix_stereo_avx2(const float* samples,
                                                                std::size_t frames,
                                                                std::uint8_t* out) {
    const __m256 half = _mm256_set1_ps(0.5f);
    const __m256 lower = _mm256_set1_ps(-1.0f);
    const __m256 upper = _mm256_set1_ps(1.0f);
    const __m256 scale = _mm256_set1_ps(32767.0f);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    std::size_t f = 0;
    for (; f + 16 <= frames; f += 16) {
        const float* in = samples + 2 * f;
        const __m256 a0 = _mm256_loadu_ps(in);       // frames 0-3
        const __m256 a1 = _mm256_loadu_ps(in + 8);   // frames 4-7
        const __m256 b0 = _mm256_loadu_ps(in + 16);  // frames 8-11
        const __m256 b1 = _mm256_loadu_ps(in + 24);  // frames 12-15
        const __m256 left_a = _mm256_shuffle_ps(a0, a1, _MM_SHUFFLE(2, 0, 2, 0));
        const __m256 right_a = _mm256_shuffle_ps(a0, a1, _MM_SHUFFLE(3, 1, 3, 1));
        const __m256 left_b = _mm256_shuffle_ps(b0, b1, _MM_SHUFFLE(2, 0, 2, 0));
        const __m256 right_b = _mm256_shuffle_ps(b0, b1, _MM_SHUFFLE(3, 1, 3, 1));
        __m256 mean_a = _mm256_mul_ps(_mm256_add_ps(left_a, right_a), half);
        __m256 mean_b = _mm256_mul_ps(_mm256_add_ps(left_b, right_b), half);
        mean_a = _mm256_andnot_ps(_mm256_cmp_ps(mean_a, mean_a, _CMP_UNORD_Q), mean_a);
        mean_b = _mm256_andnot_ps(_mm256_cmp_ps(mean_b, mean_b, _CMP_UNORD_Q), mean_b);
        mean_a = _mm256_min_ps(_mm256_max_ps(mean_a, lower), upper);
        mean_b = _mm256_min_ps(_mm256_max_ps(mean_b, lower), upper);
        const __m256i ints_a = _mm256_cvttps_epi32(_mm256_mul_ps(mean_a, scale));
        const __m256i ints_b = _mm256_cvttps_epi32(_mm256_mul_ps(mean_b, scale));
        const __m256i packed = _mm256_packs_epi32(ints_a, ints_b);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * f),
                            _mm256_permutevar8x32_epi32(packed, order));
    }
    return f;
}
bool stereo_avx2_available() {
    static const bool available = __builtin_cpu_supports("avx2") != 0;
    return available;
}
#else
std::size_t downmix_stereo_avx2(const float*, std::size_t, std::uint8_t*) {
    return 0;
}
bool stereo_avx2_available() {
    return false;
}
#endif

}  // namespace detail

void downmix_frames_to_s16le(const float* samples, std::size_t frames, std::uint16_t channels,
                             std::uint8_t* out) {
    std::size_t done = 0;
    if (channels == 2) {
        if (detail::stereo_avx2_available()) {
            done = detail::downmix_stereo_avx2(samples, frames, out);
        } else if (detail::stereo_sse2_available()) {
            done = detail::downmix_stereo_sse2(samples, frames, out);
        }
    }
    detail::downmix_plain(samples + done * channels, frames - done, channels, out + 2 * done);
}

Result<std::vector<std::uint8_t>> downmix_to_s16le(const float* samples, std::size_t n,
                                                   std::uint16_t channels) {
    if (channels == 0 || n % channels != 0) {
        return fail("incomplete audio frame");
    }
    const std::size_t frames = n / channels;
    std::vector<std::uint8_t> bytes(2 * frames);
    if (frames != 0) {
        downmix_frames_to_s16le(samples, frames, channels, bytes.data());
    }
    return bytes;
}

}  // namespace quorle::capture
