#include "tools/codec/x86/sse2_kernels.h"

#include <algorithm>
#include <cstring>

#include <emmintrin.h>

namespace kestrune::codec::sse2 {

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

void inverseTransformAdd4x4(const std::int32_t d[16], std::uint8_t* dst, int dstStride, const std::uint8_t* pred,
                            int predStride)
{
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
}

void addDcResidual4x4(std::int32_t dc, std::uint8_t* dst, int dstStride, const std::uint8_t* pred, int predStride)
{
    // The residual saturates to 16 bits: pred + anything beyond clips the same.
    const std::int32_t r = (dc + 32) >> 6;
    const __m128i residual = _mm_set1_epi16(static_cast<std::int16_t>(std::clamp(r, -32768, 32767)));
    addRows(residual, residual, dst, dstStride, pred, predStride);
}

} // namespace kestrune::codec::sse2
