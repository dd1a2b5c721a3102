#include "tools/baseline_encoder/block_cost.h"

#include <bit>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cmath>
#include <cstdlib>

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

} // namespace

int satd(const std::uint8_t* a, int strideA, const std::uint8_t* b, int strideB, int w, int h)
{
    int sum = 0;
    for (int y = 0; y < h; y += 4, a += 4 * strideA, b += 4 * strideB) {
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

int ueBits(unsigned value)
{
    return 2 * std::bit_width(value + 1u) - 1;
}

int seBits(int value)
{
    return ueBits(value <= 0 ? static_cast<unsigned>(-2 * value) : static_cast<unsigned>(2 * value - 1));
}

} // namespace kestrune::codec
