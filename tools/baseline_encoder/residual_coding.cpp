#include "tools/baseline_encoder/residual_coding.h"

#include "tools/codec/quantisation.h"
#include "tools/codec/residual.h"
#include "tools/codec/transform.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kestrune::codec {
namespace {

// How much a block of levels is worth keeping (higher: keep): isolated +-1
// levels late in the scan cost more bits than the error they remove.
int decimationScore(const std::int32_t levels[16])
{
    static constexpr int kRunScore[16] = {3, 2, 2, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    int idx = 15;
    while (idx >= 0 && levels[kZigZag4x4[idx]] == 0) --idx;
    int score = 0;
    while (idx >= 0) {
        if (std::abs(levels[kZigZag4x4[idx]]) > 1) return 9;
        --idx;
        int run = 0;
        while (idx >= 0 && levels[kZigZag4x4[idx]] == 0) {
            --idx;
            ++run;
        }
        score += kRunScore[run];
    }
    return score;
}

// Baseline codes a level with level_prefix at most 15, which always reaches
// +-2047 (clause 9.2.2.1); only very low QPs produce more.
void clipToBaseline(std::int32_t* levels, int count)
{
    for (int i = 0; i < count; ++i) levels[i] = std::clamp(levels[i], -2047, 2047);
}

int countNonZero(const std::int32_t* levels, int first)
{
    int n = 0;
    for (int i = first; i < 16; ++i) n += levels[i] != 0;
    return n;
}

const std::uint8_t* blockAt(const std::uint8_t* origin, int stride, int blk)
{
    return origin + kBlockY[blk] * 4 * stride + kBlockX[blk] * 4;
}

} // namespace

int codeLumaBlock(std::int32_t levels[16], const std::uint8_t* src, int srcStride, const std::uint8_t* pred,
                  int predStride, int qp, bool intra)
{
    subtractPrediction4x4(src, srcStride, pred, predStride, levels);
    forwardTransform4x4(levels);
    const int nonZero = quantise4x4(levels, qp, intra ? kIntraRounding : kInterRounding, false);
    clipToBaseline(levels, 16);
    return nonZero;
}

void codeInterLuma(MacroblockCode& code, const std::uint8_t* src, int srcStride, const std::uint8_t* pred,
                   int predStride, int qp)
{
    int quadrantScore[4] = {0, 0, 0, 0};
    for (int blk = 0; blk < 16; ++blk) {
        codeLumaBlock(code.luma[blk], blockAt(src, srcStride, blk), srcStride, blockAt(pred, predStride, blk),
                      predStride, qp, false);
        quadrantScore[blk / 4] += decimationScore(code.luma[blk]);
    }
    const int total = quadrantScore[0] + quadrantScore[1] + quadrantScore[2] + quadrantScore[3];
    code.cbp &= ~15;
    for (int q = 0; q < 4; ++q) {
        const bool drop = quadrantScore[q] < 4 || total < 6;
        bool any = false;
        for (int blk = 4 * q; blk < 4 * q + 4; ++blk) {
            if (drop) std::fill(std::begin(code.luma[blk]), std::end(code.luma[blk]), 0);
            code.totalCoeff[blk] = static_cast<std::uint8_t>(countNonZero(code.luma[blk], 0));
            any = any || code.totalCoeff[blk] != 0;
        }
        if (any) code.cbp |= 1 << q;
    }
}

void reconstructLuma(const MacroblockCode& code, int qp, std::uint8_t* dst, int dstStride, const std::uint8_t* pred,
                     int predStride)
{
    for (int blk = 0; blk < 16; ++blk) {
        std::int32_t levels[16];
        std::memcpy(levels, code.luma[blk], sizeof levels);
        reconstructLuma4x4(levels, qp, dst + kBlockY[blk] * 4 * dstStride + kBlockX[blk] * 4, dstStride,
                           blockAt(pred, predStride, blk), predStride);
    }
}

void codeIntra16x16Luma(MacroblockCode& code, const std::uint8_t* src, int srcStride, const std::uint8_t* pred,
                        int predStride, int qp)
{
    bool anyAc = false;
    for (int blk = 0; blk < 16; ++blk) {
        std::int32_t* block = code.luma[blk];
        subtractPrediction4x4(blockAt(src, srcStride, blk), srcStride, blockAt(pred, predStride, blk), predStride, block);
        forwardTransform4x4(block);
        code.lumaDc[kBlockY[blk] * 4 + kBlockX[blk]] = block[0];
        const int nonZero = quantise4x4(block, qp, kIntraRounding, true);
        clipToBaseline(block, 16);
        anyAc = anyAc || nonZero != 0;
    }
    forwardLumaDcTransform(code.lumaDc);
    quantiseLumaDc(code.lumaDc, qp, kIntraRounding);
    clipToBaseline(code.lumaDc, 16);
    code.cbp = (code.cbp & ~15) | (anyAc ? 15 : 0);
    for (int blk = 0; blk < 16; ++blk) code.totalCoeff[blk] = static_cast<std::uint8_t>(countNonZero(code.luma[blk], 1));
}

void reconstructIntra16x16(const MacroblockCode& code, int qp, std::uint8_t* dst, int dstStride,
                           const std::uint8_t* pred, int predStride)
{
    std::int32_t dc[16];
    std::int32_t ac[16][16];
    std::memcpy(dc, code.lumaDc, sizeof dc);
    std::memcpy(ac, code.luma, sizeof ac);
    reconstructIntra16x16Luma(dc, ac, qp, dst, dstStride, pred, predStride);
}

void codeChroma(MacroblockCode& code, const std::uint8_t* const src[2], int srcStride, const std::uint8_t* const pred[2],
                int predStride, int qpc, bool intra)
{
    const int rounding = intra ? kIntraRounding : kInterRounding;
    bool anyDc = false, anyAc = false;
    for (int c = 0; c < 2; ++c) {
        for (int blk = 0; blk < 4; ++blk) {
            const int x = (blk % 2) * 4, y = (blk / 2) * 4;
            std::int32_t* block = code.chromaAc[c][blk];
            subtractPrediction4x4(src[c] + y * srcStride + x, srcStride, pred[c] + y * predStride + x, predStride, block);
            forwardTransform4x4(block);
            code.chromaDc[c][blk] = block[0];
            anyAc = quantise4x4(block, qpc, rounding, true) != 0 || anyAc;
            clipToBaseline(block, 16);
        }
        chromaDcTransform(code.chromaDc[c]);
        anyDc = quantiseChromaDc(code.chromaDc[c], qpc, rounding) != 0 || anyDc;
        clipToBaseline(code.chromaDc[c], 4);
    }
    const int cbpChroma = anyAc ? 2 : anyDc ? 1 : 0;
    code.cbp = (code.cbp & 15) | (cbpChroma << 4);
    for (int c = 0; c < 2; ++c)
        for (int blk = 0; blk < 4; ++blk) {
            if (cbpChroma < 2) std::fill(std::begin(code.chromaAc[c][blk]), std::end(code.chromaAc[c][blk]), 0);
            code.totalCoeff[16 + 4 * c + blk] = static_cast<std::uint8_t>(countNonZero(code.chromaAc[c][blk], 1));
        }
}

void reconstructChroma(const MacroblockCode& code, int qpc, std::uint8_t* const dst[2], int dstStride,
                       const std::uint8_t* const pred[2], int predStride)
{
    for (int c = 0; c < 2; ++c) {
        std::int32_t dc[4];
        std::int32_t ac[4][16];
        std::memcpy(dc, code.chromaDc[c], sizeof dc);
        std::memcpy(ac, code.chromaAc[c], sizeof ac);
        reconstructChroma8x8(dc, ac, qpc, dst[c], dstStride, pred[c], predStride);
    }
}

} // namespace kestrune::codec
