#include "tools/baseline_encoder/block_cost.h"

#include <bit>
#include <cmath>
#include <cstdlib>

namespace kestrune::codec {

int sad(const std::uint8_t* a, int strideA, const std::uint8_t* b, int strideB, int w, int h)
{
    int sum = 0;
    for (int y = 0; y < h; ++y, a += strideA, b += strideB)
        for (int x = 0; x < w; ++x) sum += std::abs(a[x] - b[x]);
    return sum;
}

namespace {

int satd4x4(const std::uint8_t* a, int strideA, const std::uint8_t* b, int strideB)
{
    int d[16];
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) d[y * 4 + x] = a[y * strideA + x] - b[y * strideB + x];
    int t[16];
    for (int y = 0; y < 4; ++y) {
        const int s01 = d[y * 4] + d[y * 4 + 1], d01 = d[y * 4] - d[y * 4 + 1];
        const int s23 = d[y * 4 + 2] + d[y * 4 + 3], d23 = d[y * 4 + 2] - d[y * 4 + 3];
        t[y * 4] = s01 + s23;
        t[y * 4 + 1] = s01 - s23;
        t[y * 4 + 2] = d01 - d23;
        t[y * 4 + 3] = d01 + d23;
    }
    int sum = 0;
    for (int x = 0; x < 4; ++x) {
        const int s01 = t[x] + t[4 + x], d01 = t[x] - t[4 + x];
        const int s23 = t[8 + x] + t[12 + x], d23 = t[8 + x] - t[12 + x];
        sum += std::abs(s01 + s23) + std::abs(s01 - s23) + std::abs(d01 - d23) + std::abs(d01 + d23);
    }
    return (sum + 1) >> 1;
}

} // namespace

int satd(const std::uint8_t* a, int strideA, const std::uint8_t* b, int strideB, int w, int h)
{
    int sum = 0;
    for (int y = 0; y < h; y += 4)
        for (int x = 0; x < w; x += 4) sum += satd4x4(a + y * strideA + x, strideA, b + y * strideB + x, strideB);
    return sum;
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
    return 2 * (std::bit_width(value + 1u) - 1) + 1;
}

int seBits(int value)
{
    return ueBits(value <= 0 ? static_cast<unsigned>(-2 * value) : static_cast<unsigned>(2 * value - 1));
}

} // namespace kestrune::codec
