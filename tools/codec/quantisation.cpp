#include "tools/codec/quantisation.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "tools/codec/kernels.h"

namespace kestrune::codec {

namespace {

// normAdjust4x4 of clause 8.5.9 (flat scaling): v[qP % 6][class] with class 0
// for (even, even) positions, 1 for (odd, odd), 2 otherwise.
constexpr int kNormAdjust[6][3] = {{10, 16, 13}, {11, 18, 14}, {13, 20, 16},
                                   {14, 23, 18}, {16, 25, 20}, {18, 29, 23}};
// Forward multipliers: kQuantScale[m][c] * kNormAdjust[m][c] * (Cf norm) ~ 2^15.
constexpr int kQuantScale[6][3] = {{13107, 5243, 8066}, {11916, 4660, 7490}, {10082, 4194, 6554},
                                   {9362, 3647, 5825},  {8192, 3355, 5243},  {7282, 2893, 4559}};

constexpr int positionClass(int idx)
{
    int i = idx / 4, j = idx % 4;
    return (i % 2 == 0 && j % 2 == 0) ? 0 : (i % 2 == 1 && j % 2 == 1) ? 1 : 2;
}

// normAdjust per raster position for each qP % 6.
constexpr auto kLevelScale = [] {
    std::array<std::array<std::int16_t, 16>, 6> t{};
    for (int m = 0; m < 6; ++m)
        for (int k = 0; k < 16; ++k)
            t[static_cast<std::size_t>(m)][static_cast<std::size_t>(k)] = static_cast<std::int16_t>(kNormAdjust[m][positionClass(k)]);
    return t;
}();

constexpr std::int32_t clamp16(std::int64_t v)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, -32768, 32767));
}

// Table 8-15 for qPI 30..51.
constexpr std::uint8_t kChromaQpAbove29[22] = {29, 30, 31, 32, 32, 33, 34, 34, 35, 35, 36,
                                               36, 37, 37, 37, 38, 38, 38, 39, 39, 39, 39};

int quantiseValue(std::int32_t w, int scale, int shift, std::int64_t offset)
{
    std::int64_t level = (std::llabs(w) * scale + offset) >> shift;
    return static_cast<int>(w < 0 ? -level : level);
}

} // namespace

int chromaQp(int qpY, int chroma_qp_index_offset)
{
    int qpi = std::clamp(qpY + chroma_qp_index_offset, 0, 51);
    return qpi < 30 ? qpi : kChromaQpAbove29[qpi - 30];
}

namespace plain {

void scaleLevels4x4(std::int32_t block[16], const std::int16_t normAdjust[16], int shift)
{
    for (int k = 0; k < 16; ++k)
        if (block[k] != 0)  // most levels are zero
            block[k] = clamp16((static_cast<std::int64_t>(block[k]) * normAdjust[k]) << shift);
}

} // namespace plain

void dequantise4x4(std::int32_t block[16], int qp, bool separateDc)
{
    // With flat LevelScale4x4 = 16 * normAdjust both branches of clause
    // 8.5.12.1 reduce to c * normAdjust << (qP / 6).
    const std::int32_t dc = block[0];
    codecKernels().scaleLevels4x4(block, kLevelScale[static_cast<std::size_t>(qp % 6)].data(), qp / 6);
    if (separateDc) block[0] = dc;
}

void dequantiseLumaDc(std::int32_t dc[16], int qp)
{
    std::int64_t scale = 16 * kNormAdjust[qp % 6][0];
    int q6 = qp / 6;
    for (int k = 0; k < 16; ++k) {
        std::int64_t f = dc[k];
        dc[k] = clamp16(qp >= 36 ? (f * scale) << (q6 - 6) : (f * scale + (1 << (5 - q6))) >> (6 - q6));
    }
}

void dequantiseChromaDc(std::int32_t dc[4], int qpc)
{
    std::int64_t scale = 16 * kNormAdjust[qpc % 6][0];
    for (int k = 0; k < 4; ++k) dc[k] = clamp16(((dc[k] * scale) << (qpc / 6)) >> 5);
}

int quantise4x4(std::int32_t block[16], int qp, int rounding, bool separateDc)
{
    const int* mf = kQuantScale[qp % 6];
    int qbits = 15 + qp / 6;
    std::int64_t offset = static_cast<std::int64_t>(rounding) << (qbits - 8);
    int nonZero = 0;
    if (separateDc) block[0] = 0;
    for (int k = separateDc ? 1 : 0; k < 16; ++k) {
        block[k] = quantiseValue(block[k], mf[positionClass(k)], qbits, offset);
        nonZero += block[k] != 0;
    }
    return nonZero;
}

static int quantiseDc(std::int32_t* dc, int count, int qp, int rounding)
{
    int qbits = 16 + qp / 6;
    std::int64_t offset = static_cast<std::int64_t>(rounding) << (qbits - 8);
    int scale = kQuantScale[qp % 6][0];
    int nonZero = 0;
    for (int k = 0; k < count; ++k) {
        dc[k] = quantiseValue(dc[k], scale, qbits, offset);
        nonZero += dc[k] != 0;
    }
    return nonZero;
}

int quantiseLumaDc(std::int32_t dc[16], int qp, int rounding)
{
    return quantiseDc(dc, 16, qp, rounding);
}

int quantiseChromaDc(std::int32_t dc[4], int qpc, int rounding)
{
    return quantiseDc(dc, 4, qpc, rounding);
}

} // namespace kestrune::codec
