#include "tools/codec/x86/sse2_kernels.h"

#include <emmintrin.h>

namespace kestrune::codec::sse2 {

void scaleLevels4x4(std::int32_t block[16], const std::int16_t normAdjust[16], int shift)
{
    // Levels saturate to 16 bits first: one beyond that scales past 16 bits
    // whatever normAdjust is (>= 10), so the clamped result is the same.
    __m128i* rows = reinterpret_cast<__m128i*>(block);
    const __m128i count = _mm_cvtsi32_si128(shift);
    for (int half = 0; half < 2; ++half) {
        const __m128i c = _mm_packs_epi32(_mm_loadu_si128(rows + 2 * half), _mm_loadu_si128(rows + 2 * half + 1));
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(normAdjust + 8 * half));
        const __m128i lo = _mm_mullo_epi16(c, s);
        const __m128i hi = _mm_mulhi_epi16(c, s);
        const __m128i p0 = _mm_sll_epi32(_mm_unpacklo_epi16(lo, hi), count);
        const __m128i p1 = _mm_sll_epi32(_mm_unpackhi_epi16(lo, hi), count);
        const __m128i d = _mm_packs_epi32(p0, p1);  // the clamp to 16 bits
        _mm_storeu_si128(rows + 2 * half, _mm_srai_epi32(_mm_unpacklo_epi16(d, d), 16));
        _mm_storeu_si128(rows + 2 * half + 1, _mm_srai_epi32(_mm_unpackhi_epi16(d, d), 16));
    }
}

} // namespace kestrune::codec::sse2
