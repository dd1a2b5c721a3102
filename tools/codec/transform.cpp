#include "tools/codec/transform.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrune::codec {

void inverseTransform4x4(std::int32_t b[16])
{
    // Clause 8.5.12.2: rows, then columns, the odd basis functions halved.
    for (int i = 0; i < 4; ++i) {
        std::int32_t* r = b + 4 * i;
        std::int32_t e0 = r[0] + r[2];
        std::int32_t e1 = r[0] - r[2];
        std::int32_t e2 = (r[1] >> 1) - r[3];
        std::int32_t e3 = r[1] + (r[3] >> 1);
        r[0] = e0 + e3;
        r[1] = e1 + e2;
        r[2] = e1 - e2;
        r[3] = e0 - e3;
    }
    for (int j = 0; j < 4; ++j) {
        std::int32_t g0 = b[j] + b[8 + j];
        std::int32_t g1 = b[j] - b[8 + j];
        std::int32_t g2 = (b[4 + j] >> 1) - b[12 + j];
        std::int32_t g3 = b[4 + j] + (b[12 + j] >> 1);
        b[j] = (g0 + g3 + 32) >> 6;
        b[4 + j] = (g1 + g2 + 32) >> 6;
        b[8 + j] = (g1 - g2 + 32) >> 6;
        b[12 + j] = (g0 - g3 + 32) >> 6;
    }
}

void forwardTransform4x4(std::int32_t b[16])
{
    for (int i = 0; i < 4; ++i) {
        std::int32_t* r = b + 4 * i;
        std::int32_t s03 = r[0] + r[3], d03 = r[0] - r[3];
        std::int32_t s12 = r[1] + r[2], d12 = r[1] - r[2];
        r[0] = s03 + s12;
        r[1] = 2 * d03 + d12;
        r[2] = s03 - s12;
        r[3] = d03 - 2 * d12;
    }
    for (int j = 0; j < 4; ++j) {
        std::int32_t s03 = b[j] + b[12 + j], d03 = b[j] - b[12 + j];
        std::int32_t s12 = b[4 + j] + b[8 + j], d12 = b[4 + j] - b[8 + j];
        b[j] = s03 + s12;
        b[4 + j] = 2 * d03 + d12;
        b[8 + j] = s03 - s12;
        b[12 + j] = d03 - 2 * d12;
    }
}

// f = H c H with H = [1 1 1 1; 1 1 -1 -1; 1 -1 -1 1; 1 -1 1 -1] (symmetric).
static void hadamard4x4(std::int32_t b[16])
{
    for (int i = 0; i < 4; ++i) {
        std::int32_t* r = b + 4 * i;
        std::int32_t s01 = r[0] + r[1], d01 = r[0] - r[1];
        std::int32_t s23 = r[2] + r[3], d23 = r[2] - r[3];
        r[0] = s01 + s23;
        r[1] = s01 - s23;
        r[2] = d01 - d23;
        r[3] = d01 + d23;
    }
    for (int j = 0; j < 4; ++j) {
        std::int32_t s01 = b[j] + b[4 + j], d01 = b[j] - b[4 + j];
        std::int32_t s23 = b[8 + j] + b[12 + j], d23 = b[8 + j] - b[12 + j];
        b[j] = s01 + s23;
        b[4 + j] = s01 - s23;
        b[8 + j] = d01 - d23;
        b[12 + j] = d01 + d23;
    }
}

void inverseLumaDcTransform(std::int32_t dc[16])
{
    hadamard4x4(dc);
}

void forwardLumaDcTransform(std::int32_t dc[16])
{
    hadamard4x4(dc);
    for (int i = 0; i < 16; ++i) dc[i] >>= 1;
}

void chromaDcTransform(std::int32_t dc[4])
{
    std::int32_t s0 = dc[0] + dc[1], d0 = dc[0] - dc[1];
    std::int32_t s1 = dc[2] + dc[3], d1 = dc[2] - dc[3];
    dc[0] = s0 + s1;
    dc[1] = d0 + d1;
    dc[2] = s0 - s1;
    dc[3] = d0 - d1;
}

void addResidual4x4(std::uint8_t* dst, int dstStride, const std::uint8_t* pred, int predStride,
                    const std::int32_t residual[16])
{
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            dst[y * dstStride + x] =
                static_cast<std::uint8_t>(std::clamp(pred[y * predStride + x] + residual[4 * y + x], 0, 255));
}

#if defined(__SSE2__)
namespace {

// Four rows of 4 int32 become four columns, in place.
[[gnu::always_inline]] inline void transpose4x4(__m128i& r0, __m128i& r1, __m128i& r2, __m128i& r3)
{
    const __m128i t0 = _mm_unpacklo_epi32(r0, r1);
    const __m128i t1 = _mm_unpacklo_epi32(r2, r3);
    const __m128i t2 = _mm_unpackhi_epi32(r0, r1);
    const __m128i t3 = _mm_unpackhi_epi32(r2, r3);
    r0 = _mm_unpacklo_epi64(t0, t1);
    r1 = _mm_unpackhi_epi64(t0, t1);
    r2 = _mm_unpacklo_epi64(t2, t3);
    r3 = _mm_unpackhi_epi64(t2, t3);
}

// Two rows of 4 predicted samples as 8 int16.
[[gnu::always_inline]] inline __m128i loadPredRows(const std::uint8_t* pred, int predStride)
{
    std::int32_t a, b;
    std::memcpy(&a, pred, 4);
    std::memcpy(&b, pred + predStride, 4);
    return _mm_unpacklo_epi8(_mm_unpacklo_epi32(_mm_cvtsi32_si128(a), _mm_cvtsi32_si128(b)), _mm_setzero_si128());
}

[[gnu::always_inline]] inline void storeRows(__m128i samples, std::uint8_t* dst, int dstStride)
{
    const std::int32_t a = _mm_cvtsi128_si32(samples);
    const std::int32_t b = _mm_cvtsi128_si32(_mm_srli_si128(samples, 4));
    std::memcpy(dst, &a, 4);
    std::memcpy(dst + dstStride, &b, 4);
}

// pred + residual (8 int16 each for two rows), clipped, for rows 0-1 and 2-3;
// both pairs are loaded before either is stored, so dst may equal pred.
[[gnu::always_inline]] inline void addRows(__m128i r01, __m128i r23, std::uint8_t* dst, int dstStride,
                                           const std::uint8_t* pred, int predStride)
{
    const __m128i p01 = loadPredRows(pred, predStride);
    const __m128i p23 = loadPredRows(pred + 2 * predStride, predStride);
    const __m128i out = _mm_packus_epi16(_mm_adds_epi16(p01, r01), _mm_adds_epi16(p23, r23));
    storeRows(out, dst, dstStride);
    storeRows(_mm_srli_si128(out, 8), dst + 2 * dstStride, dstStride);
}

} // namespace
#endif

void inverseTransformAdd4x4(const std::int32_t d[16], std::uint8_t* dst, int dstStride, const std::uint8_t* pred,
                            int predStride)
{
#if defined(__SSE2__)
    // Rows are loaded and turned into columns, so the row pass is four
    // vertical butterflies; a second turn gives rows for the column pass.
    __m128i c0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
    __m128i c1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 4));
    __m128i c2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 8));
    __m128i c3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 12));
    transpose4x4(c0, c1, c2, c3);
    const __m128i e0 = _mm_add_epi32(c0, c2);
    const __m128i e1 = _mm_sub_epi32(c0, c2);
    const __m128i e2 = _mm_sub_epi32(_mm_srai_epi32(c1, 1), c3);
    const __m128i e3 = _mm_add_epi32(c1, _mm_srai_epi32(c3, 1));
    __m128i r0 = _mm_add_epi32(e0, e3);
    __m128i r1 = _mm_add_epi32(e1, e2);
    __m128i r2 = _mm_sub_epi32(e1, e2);
    __m128i r3 = _mm_sub_epi32(e0, e3);
    transpose4x4(r0, r1, r2, r3);
    const __m128i round = _mm_set1_epi32(32);
    const __m128i g0 = _mm_add_epi32(_mm_add_epi32(r0, r2), round);
    const __m128i g1 = _mm_add_epi32(_mm_sub_epi32(r0, r2), round);
    const __m128i g2 = _mm_sub_epi32(_mm_srai_epi32(r1, 1), r3);
    const __m128i g3 = _mm_add_epi32(r1, _mm_srai_epi32(r3, 1));
    const __m128i h0 = _mm_srai_epi32(_mm_add_epi32(g0, g3), 6);
    const __m128i h1 = _mm_srai_epi32(_mm_add_epi32(g1, g2), 6);
    const __m128i h2 = _mm_srai_epi32(_mm_sub_epi32(g1, g2), 6);
    const __m128i h3 = _mm_srai_epi32(_mm_sub_epi32(g0, g3), 6);
    addRows(_mm_packs_epi32(h0, h1), _mm_packs_epi32(h2, h3), dst, dstStride, pred, predStride);
#else
    std::int32_t r[16];
    std::copy(d, d + 16, r);
    inverseTransform4x4(r);
    addResidual4x4(dst, dstStride, pred, predStride, r);
#endif
}

void addDcResidual4x4(std::int32_t dc, std::uint8_t* dst, int dstStride, const std::uint8_t* pred, int predStride)
{
    const std::int32_t r = (dc + 32) >> 6;
#if defined(__SSE2__)
    const __m128i residual = _mm_set1_epi16(static_cast<std::int16_t>(std::clamp(r, -32768, 32767)));
    addRows(residual, residual, dst, dstStride, pred, predStride);
#else
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            dst[y * dstStride + x] = static_cast<std::uint8_t>(std::clamp(pred[y * predStride + x] + r, 0, 255));
#endif
}

void subtractPrediction4x4(const std::uint8_t* src, int srcStride, const std::uint8_t* pred, int predStride,
                           std::int32_t out[16])
{
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) out[4 * y + x] = src[y * srcStride + x] - pred[y * predStride + x];
}

} // namespace kestrune::codec
