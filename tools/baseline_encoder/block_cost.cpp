#include "tools/baseline_encoder/block_cost.h"

#include <bit>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace kestrune::codec {

namespace {

// Fixed widths let the compiler unroll and vectorise the inner loop.
template <int W>
int sadFixed(const std::uint8_t* a, int strideA, const std::uint8_t* b, int strideB, int h)
{
    int sum = 0;
    for (int y = 0; y < h; ++y, a += strideA, b += strideB) {
        int row = 0;
        for (int x = 0; x < W; ++x) row += std::abs(a[x] - b[x]);
        sum += row;
    }
    return sum;
}

} // namespace

int sad(const std::uint8_t* a, int strideA, const std::uint8_t* b, int strideB, int w, int h)
{
#if defined(__SSE2__)
    // psadbw sums the absolute differences of 8 bytes in one step.
    if (w == 16) {
        __m128i sum = _mm_setzero_si128();
        for (int y = 0; y < h; ++y, a += strideA, b += strideB)
            sum = _mm_add_epi64(sum, _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)),
                                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(b))));
        return _mm_cvtsi128_si32(sum) + _mm_cvtsi128_si32(_mm_srli_si128(sum, 8));
    }
    if (w == 8) {
        __m128i sum = _mm_setzero_si128();
        for (int y = 0; y < h; ++y, a += strideA, b += strideB)
            sum = _mm_add_epi64(sum, _mm_sad_epu8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)),
                                                  _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b))));
        return _mm_cvtsi128_si32(sum);
    }
#endif
    switch (w) {
    case 16: return sadFixed<16>(a, strideA, b, strideB, h);
    case 8: return sadFixed<8>(a, strideA, b, strideB, h);
    case 4: return sadFixed<4>(a, strideA, b, strideB, h);
    default: break;
    }
    int sum = 0;
    for (int y = 0; y < h; ++y, a += strideA, b += strideB)
        for (int x = 0; x < w; ++x) sum += std::abs(a[x] - b[x]);
    return sum;
}

namespace {

// Four rows of W columns (W / 4 blocks side by side): the vertical
// butterflies run across all columns at once, which the compiler vectorises.
template <int W>
int satdRows(const std::uint8_t* a, int strideA, const std::uint8_t* b, int strideB)
{
    std::int16_t d[4][W];
    for (int r = 0; r < 4; ++r)
        for (int x = 0; x < W; ++x) d[r][x] = static_cast<std::int16_t>(a[r * strideA + x] - b[r * strideB + x]);
    std::int16_t v[4][W];
    for (int x = 0; x < W; ++x) {
        const int s01 = d[0][x] + d[1][x], d01 = d[0][x] - d[1][x];
        const int s23 = d[2][x] + d[3][x], d23 = d[2][x] - d[3][x];
        v[0][x] = static_cast<std::int16_t>(s01 + s23);
        v[1][x] = static_cast<std::int16_t>(s01 - s23);
        v[2][x] = static_cast<std::int16_t>(d01 - d23);
        v[3][x] = static_cast<std::int16_t>(d01 + d23);
    }
    int sum = 0;
    for (int r = 0; r < 4; ++r)
        for (int g = 0; g < W; g += 4) {
            const int s01 = v[r][g] + v[r][g + 1], d01 = v[r][g] - v[r][g + 1];
            const int s23 = v[r][g + 2] + v[r][g + 3], d23 = v[r][g + 2] - v[r][g + 3];
            sum += std::abs(s01 + s23) + std::abs(s01 - s23) + std::abs(d01 - d23) + std::abs(d01 + d23);
        }
    return sum;
}

#if defined(__SSE2__)
__m128i widen8(const std::uint8_t* p)
{
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
}

__m128i absolute16(__m128i v)
{
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

__m128i widen4(const std::uint8_t* p)
{
    std::int32_t word;
    std::memcpy(&word, p, sizeof word);
    return _mm_unpacklo_epi8(_mm_cvtsi32_si128(word), _mm_setzero_si128());
}

// Two 4x4 blocks side by side (or one, the other lanes zero): vertical
// butterflies on rows, a transpose so that columns become lanes, horizontal
// butterflies, sum of magnitudes.
template <int W>
int satdStrip(const std::uint8_t* a, int strideA, const std::uint8_t* b, int strideB)
{
    auto widen = [](const std::uint8_t* p) { return W == 8 ? widen8(p) : widen4(p); };
    const __m128i d0 = _mm_sub_epi16(widen(a), widen(b));
    const __m128i d1 = _mm_sub_epi16(widen(a + strideA), widen(b + strideB));
    const __m128i d2 = _mm_sub_epi16(widen(a + 2 * strideA), widen(b + 2 * strideB));
    const __m128i d3 = _mm_sub_epi16(widen(a + 3 * strideA), widen(b + 3 * strideB));
    const __m128i s01 = _mm_add_epi16(d0, d1), t01 = _mm_sub_epi16(d0, d1);
    const __m128i s23 = _mm_add_epi16(d2, d3), t23 = _mm_sub_epi16(d2, d3);
    const __m128i v0 = _mm_add_epi16(s01, s23), v1 = _mm_sub_epi16(s01, s23);
    const __m128i v2 = _mm_sub_epi16(t01, t23), v3 = _mm_add_epi16(t01, t23);
    const __m128i a0 = _mm_unpacklo_epi16(v0, v1), a1 = _mm_unpacklo_epi16(v2, v3);
    const __m128i a2 = _mm_unpackhi_epi16(v0, v1), a3 = _mm_unpackhi_epi16(v2, v3);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a1), b1 = _mm_unpackhi_epi32(a0, a1);
    const __m128i b2 = _mm_unpacklo_epi32(a2, a3), b3 = _mm_unpackhi_epi32(a2, a3);
    const __m128i c0 = _mm_unpacklo_epi64(b0, b2), c1 = _mm_unpackhi_epi64(b0, b2);
    const __m128i c2 = _mm_unpacklo_epi64(b1, b3), c3 = _mm_unpackhi_epi64(b1, b3);
    const __m128i e01 = _mm_add_epi16(c0, c1), f01 = _mm_sub_epi16(c0, c1);
    const __m128i e23 = _mm_add_epi16(c2, c3), f23 = _mm_sub_epi16(c2, c3);
    const __m128i sum16 = _mm_add_epi16(
        _mm_add_epi16(absolute16(_mm_add_epi16(e01, e23)), absolute16(_mm_sub_epi16(e01, e23))),
        _mm_add_epi16(absolute16(_mm_sub_epi16(f01, f23)), absolute16(_mm_add_epi16(f01, f23))));
    __m128i sum32 = _mm_madd_epi16(sum16, _mm_set1_epi16(1));
    sum32 = _mm_add_epi32(sum32, _mm_srli_si128(sum32, 8));
    sum32 = _mm_add_epi32(sum32, _mm_srli_si128(sum32, 4));
    return _mm_cvtsi128_si32(sum32);
}
#endif

} // namespace

int satd(const std::uint8_t* a, int strideA, const std::uint8_t* b, int strideB, int w, int h)
{
    int sum = 0;
    for (int y = 0; y < h; y += 4, a += 4 * strideA, b += 4 * strideB) {
#if defined(__SSE2__)
        if (w == 16) {
            sum += satdStrip<8>(a, strideA, b, strideB) + satdStrip<8>(a + 8, strideA, b + 8, strideB);
            continue;
        }
        if (w == 8) {
            sum += satdStrip<8>(a, strideA, b, strideB);
            continue;
        }
        if (w == 4) {
            sum += satdStrip<4>(a, strideA, b, strideB);
            continue;
        }
#endif
        switch (w) {
        case 16: sum += satdRows<16>(a, strideA, b, strideB); break;
        case 8: sum += satdRows<8>(a, strideA, b, strideB); break;
        default:
            for (int x = 0; x < w; x += 4) sum += satdRows<4>(a + x, strideA, b + x, strideB);
            break;
        }
    }
    return (sum + 1) >> 1;
}

std::int64_t ssd(const std::uint8_t* a, int strideA, const std::uint8_t* b, int strideB, int w, int h)
{
    std::int64_t sum = 0;
    for (int y = 0; y < h; ++y, a += strideA, b += strideB)
        for (int x = 0; x < w; ++x) {
            const int d = a[x] - b[x];
            sum += d * d;
        }
    return sum;
}

double modeLambda(int qp)
{
    return 0.85 * std::pow(2.0, (qp - 12) / 3.0);
}

double motionLambda(int qp)
{
    return std::sqrt(modeLambda(qp));
}

} // namespace kestrune::codec
