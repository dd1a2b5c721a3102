#include "tools/codec/residual.h"

#include <algorithm>

#include "tools/codec/macroblock_state.h"
#include "tools/codec/quantisation.h"
#include "tools/codec/transform.h"

namespace kestrune::codec {

namespace {

// CAVLC cannot produce larger levels from a conforming stream; clamping keeps
// damaged ones inside the transforms' integer range.
constexpr std::int32_t kMaxLevel = 1 << 20;

bool clampLevels(std::int32_t* levels, int from, int count)
{
    bool any = false;
    for (int k = from; k < count; ++k) {
        levels[k] = std::clamp(levels[k], -kMaxLevel, kMaxLevel);
        any |= levels[k] != 0;
    }
    return any;
}

// Whether any of levels[1..15] is non-zero. (4x4 levels need no clamping:
// scaling clamps its results to 16 bits.)
bool anyAc(const std::int32_t levels[16])
{
    std::int32_t any = levels[1] | levels[2] | levels[3];
    for (int k = 4; k < 16; ++k) any |= levels[k];
    return any != 0;
}

void copy4x4(std::uint8_t* dst, int dstStride, const std::uint8_t* pred, int predStride)
{
    if (dst == pred && dstStride == predStride) return;
    for (int y = 0; y < 4; ++y) std::copy_n(pred + y * predStride, 4, dst + y * dstStride);
}

// A block whose DC (already scaled) comes from a separate DC transform.
void reconstructWithDc(std::int32_t block[16], std::int32_t dc, int qp, std::uint8_t* dst, int dstStride,
                       const std::uint8_t* pred, int predStride)
{
    if (!anyAc(block)) {
        if (dc == 0)
            copy4x4(dst, dstStride, pred, predStride);
        else
            addDcResidual4x4(dc, dst, dstStride, pred, predStride);
        return;
    }
    block[0] = dc;
    dequantise4x4(block, qp, true);
    inverseTransformAdd4x4(block, dst, dstStride, pred, predStride);
}

} // namespace

void reconstructLuma4x4(std::int32_t levels[16], int qp, std::uint8_t* dst, int dstStride,
                        const std::uint8_t* pred, int predStride)
{
    const bool ac = anyAc(levels);
    if (!ac && levels[0] == 0) {
        copy4x4(dst, dstStride, pred, predStride);
        return;
    }
    dequantise4x4(levels, qp, false);
    if (ac)
        inverseTransformAdd4x4(levels, dst, dstStride, pred, predStride);
    else
        addDcResidual4x4(levels[0], dst, dstStride, pred, predStride);
}

void reconstructIntra16x16Luma(std::int32_t dcLevels[16], std::int32_t ac[16][16], int qp, std::uint8_t* dst,
                               int dstStride, const std::uint8_t* pred, int predStride)
{
    if (clampLevels(dcLevels, 0, 16)) {
        inverseLumaDcTransform(dcLevels);
        dequantiseLumaDc(dcLevels, qp);
    }
    for (int blk = 0; blk < 16; ++blk) {
        int x = 4 * kBlockX[blk], y = 4 * kBlockY[blk];
        reconstructWithDc(ac[blk], dcLevels[kBlockY[blk] * 4 + kBlockX[blk]], qp, dst + y * dstStride + x,
                          dstStride, pred + y * predStride + x, predStride);
    }
}

void reconstructChroma8x8(std::int32_t dcLevels[4], std::int32_t ac[4][16], int qpc, std::uint8_t* dst,
                          int dstStride, const std::uint8_t* pred, int predStride)
{
    if (clampLevels(dcLevels, 0, 4)) {
        chromaDcTransform(dcLevels);
        dequantiseChromaDc(dcLevels, qpc);
    }
    for (int blk = 0; blk < 4; ++blk) {
        int x = 4 * (blk % 2), y = 4 * (blk / 2);
        reconstructWithDc(ac[blk], dcLevels[blk], qpc, dst + y * dstStride + x, dstStride,
                          pred + y * predStride + x, predStride);
    }
}

} // namespace kestrune::codec
