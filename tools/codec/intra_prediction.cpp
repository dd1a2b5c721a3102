#include "tools/codec/intra_prediction.h"

#include <algorithm>

#include "tools/codec/picture.h"

namespace kestrune::codec {

namespace {

bool usable(const MacroblockStates& states, int mbAddr, bool constrained)
{
    return mbAddr >= 0 && (!constrained || states[mbAddr].intra());
}

void fillBlock(std::uint8_t* pred, int predStride, int size, std::uint8_t value)
{
    for (int y = 0; y < size; ++y) std::fill_n(pred + y * predStride, size, value);
}

} // namespace

IntraAvailability macroblockIntraAvailability(const MacroblockStates& states, const MbNeighbours& n,
                                              bool constrained_intra_pred_flag)
{
    IntraAvailability a;
    a.left = usable(states, n.a, constrained_intra_pred_flag);
    a.top = usable(states, n.b, constrained_intra_pred_flag);
    a.topRight = usable(states, n.c, constrained_intra_pred_flag);
    a.topLeft = usable(states, n.d, constrained_intra_pred_flag);
    return a;
}

IntraAvailability intra4x4Availability(const MacroblockStates& states, const MbNeighbours& n, int mbAddr,
                                       int blkIdx, bool constrained_intra_pred_flag)
{
    const int x4 = kBlockX[blkIdx], y4 = kBlockY[blkIdx];
    auto at = [&](int xN, int yN) {
        const int addr = macroblockOfBlock(n, mbAddr, xN, yN);
        if (!usable(states, addr, constrained_intra_pred_flag)) return false;
        // Inside the current macroblock only blocks coded earlier are there.
        return addr != mbAddr || blockIndexAt(xN & 3, yN & 3) < blkIdx;
    };
    IntraAvailability a;
    a.left = at(x4 - 1, y4);
    a.top = at(x4, y4 - 1);
    a.topRight = at(x4 + 1, y4 - 1);
    a.topLeft = at(x4 - 1, y4 - 1);
    return a;
}

int predictedIntra4x4Mode(const MacroblockStates& states, const MbNeighbours& n, int mbAddr, int blkIdx,
                          bool constrained_intra_pred_flag)
{
    // Clause 8.3.1.1.
    NeighbourBlock a = leftLumaBlock(n, mbAddr, blkIdx);
    NeighbourBlock b = aboveLumaBlock(n, mbAddr, blkIdx);
    if (!usable(states, a.mbAddr, constrained_intra_pred_flag) || !usable(states, b.mbAddr, constrained_intra_pred_flag))
        return kIntra4x4Dc;
    auto mode = [&](const NeighbourBlock& nb) {
        const MacroblockState& mb = states[nb.mbAddr];
        return mb.mbType == MbType::I4x4 ? static_cast<int>(mb.intra4x4PredMode[static_cast<std::size_t>(nb.blkIdx)])
                                         : kIntra4x4Dc;
    };
    return std::min(mode(a), mode(b));
}

bool predictIntra4x4(int mode, const std::uint8_t* block, int stride, IntraAvailability avail, std::uint8_t* pred,
                     int predStride)
{
    const bool needsTop = mode == kI4Vertical || mode == kI4DiagonalDownLeft || mode == kI4VerticalLeft;
    const bool needsLeft = mode == kI4Horizontal || mode == kI4HorizontalUp;
    const bool needsAll = mode == kI4DiagonalDownRight || mode == kI4VerticalRight || mode == kI4HorizontalDown;
    if (mode < 0 || mode > 8 || (needsTop && !avail.top) || (needsLeft && !avail.left) ||
        (needsAll && !(avail.top && avail.left && avail.topLeft)))
        return false;

    // t[0] = p[-1,-1], t[1 + x] = p[x,-1] (x 0..7); l[0] = p[-1,-1], l[1 + y] = p[-1,y].
    // (One spare element before each: the unrolled loops below hold index
    // arithmetic the compiler cannot bound, though no position reaches it.)
    int topEdge[10] = {};
    int leftEdge[6] = {};
    int* const t = topEdge + 1;
    int* const l = leftEdge + 1;
    if (avail.topLeft) t[0] = l[0] = block[-stride - 1];
    if (avail.top) {
        for (int x = 0; x < 4; ++x) t[1 + x] = block[-stride + x];
        for (int x = 4; x < 8; ++x) t[1 + x] = avail.topRight ? block[-stride + x] : t[4];
    }
    if (avail.left)
        for (int y = 0; y < 4; ++y) l[1 + y] = block[y * stride - 1];
    auto p = [&](int x, int y) { return y < 0 ? t[1 + x] : l[1 + y]; };  // x == -1 or y == -1

    // The mode is chosen once; each mode's 4x4 loop unrolls with its
    // position tests resolved at compile time.
    std::uint8_t out[4][4];
    auto fill = [&](auto sample) {
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) out[y][x] = static_cast<std::uint8_t>(sample(x, y));
    };
    switch (mode) {
    case kI4Vertical: fill([&](int x, int) { return p(x, -1); }); break;
    case kI4Horizontal: fill([&](int, int y) { return p(-1, y); }); break;
    case kI4Dc: {
        int v;
        if (avail.top && avail.left)
            v = (t[1] + t[2] + t[3] + t[4] + l[1] + l[2] + l[3] + l[4] + 4) >> 3;
        else if (avail.left)
            v = (l[1] + l[2] + l[3] + l[4] + 2) >> 2;
        else if (avail.top)
            v = (t[1] + t[2] + t[3] + t[4] + 2) >> 2;
        else
            v = 128;
        fill([&](int, int) { return v; });
        break;
    }
    case kI4DiagonalDownLeft:
        fill([&](int x, int y) {
            return (x == 3 && y == 3) ? (p(6, -1) + 3 * p(7, -1) + 2) >> 2
                                      : (p(x + y, -1) + 2 * p(x + y + 1, -1) + p(x + y + 2, -1) + 2) >> 2;
        });
        break;
    case kI4DiagonalDownRight:
        fill([&](int x, int y) {
            if (x > y) return (p(x - y - 2, -1) + 2 * p(x - y - 1, -1) + p(x - y, -1) + 2) >> 2;
            if (x < y) return (p(-1, y - x - 2) + 2 * p(-1, y - x - 1) + p(-1, y - x) + 2) >> 2;
            return (p(0, -1) + 2 * p(-1, -1) + p(-1, 0) + 2) >> 2;
        });
        break;
    case kI4VerticalRight:
        fill([&](int x, int y) {
            const int z = 2 * x - y;
            if (z >= 0 && z % 2 == 0) return (p(x - (y >> 1) - 1, -1) + p(x - (y >> 1), -1) + 1) >> 1;
            if (z >= 0) return (p(x - (y >> 1) - 2, -1) + 2 * p(x - (y >> 1) - 1, -1) + p(x - (y >> 1), -1) + 2) >> 2;
            if (z == -1) return (p(-1, 0) + 2 * p(-1, -1) + p(0, -1) + 2) >> 2;
            return (p(-1, y - 1) + 2 * p(-1, y - 2) + p(-1, y - 3) + 2) >> 2;
        });
        break;
    case kI4HorizontalDown:
        fill([&](int x, int y) {
            const int z = 2 * y - x;
            if (z >= 0 && z % 2 == 0) return (p(-1, y - (x >> 1) - 1) + p(-1, y - (x >> 1)) + 1) >> 1;
            if (z >= 0) return (p(-1, y - (x >> 1) - 2) + 2 * p(-1, y - (x >> 1) - 1) + p(-1, y - (x >> 1)) + 2) >> 2;
            if (z == -1) return (p(-1, 0) + 2 * p(-1, -1) + p(0, -1) + 2) >> 2;
            return (p(x - 1, -1) + 2 * p(x - 2, -1) + p(x - 3, -1) + 2) >> 2;
        });
        break;
    case kI4VerticalLeft:
        fill([&](int x, int y) {
            if (y % 2 == 0) return (p(x + (y >> 1), -1) + p(x + (y >> 1) + 1, -1) + 1) >> 1;
            return (p(x + (y >> 1), -1) + 2 * p(x + (y >> 1) + 1, -1) + p(x + (y >> 1) + 2, -1) + 2) >> 2;
        });
        break;
    default:  // kI4HorizontalUp
        fill([&](int x, int y) {
            const int z = x + 2 * y;
            if (z > 5) return p(-1, 3);
            if (z == 5) return (p(-1, 2) + 3 * p(-1, 3) + 2) >> 2;
            if (z % 2 == 0) return (p(-1, y + (x >> 1)) + p(-1, y + (x >> 1) + 1) + 1) >> 1;
            return (p(-1, y + (x >> 1)) + 2 * p(-1, y + (x >> 1) + 1) + p(-1, y + (x >> 1) + 2) + 2) >> 2;
        });
        break;
    }
    for (int y = 0; y < 4; ++y) std::copy_n(out[y], 4, pred + y * predStride);
    return true;
}

namespace {

// The shared part of Intra_16x16 (size 16) and chroma (size 8) prediction:
// vertical, horizontal and plane. Reads the neighbours first, so pred may be
// the block itself.
bool predictDirectional(int size, bool vertical, bool horizontal, bool plane, const std::uint8_t* block, int stride,
                        IntraAvailability avail, std::uint8_t* pred, int predStride)
{
    int top[16], left[16];
    if (avail.top)
        for (int x = 0; x < size; ++x) top[x] = block[-stride + x];
    if (avail.left)
        for (int y = 0; y < size; ++y) left[y] = block[y * stride - 1];
    if (vertical) {
        if (!avail.top) return false;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) pred[y * predStride + x] = static_cast<std::uint8_t>(top[x]);
        return true;
    }
    if (horizontal) {
        if (!avail.left) return false;
        for (int y = 0; y < size; ++y) std::fill_n(pred + y * predStride, size, static_cast<std::uint8_t>(left[y]));
        return true;
    }
    if (plane) {
        if (!(avail.top && avail.left && avail.topLeft)) return false;
        const int corner = block[-stride - 1];
        const int half = size / 2;
        auto topAt = [&](int x) { return x < 0 ? corner : top[x]; };
        auto leftAt = [&](int y) { return y < 0 ? corner : left[y]; };
        int h = 0, v = 0;
        for (int k = 0; k < half; ++k) {
            h += (k + 1) * (topAt(half + k) - topAt(half - 2 - k));
            v += (k + 1) * (leftAt(half + k) - leftAt(half - 2 - k));
        }
        // Clause 8.3.3.4 (16x16) and 8.3.4.4 with xCF = yCF = 0 (4:2:0 chroma).
        const int scale = size == 16 ? 5 : 34;
        const int a = 16 * (left[size - 1] + top[size - 1]);
        const int b = (scale * h + 32) >> 6;
        const int c = (scale * v + 32) >> 6;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                pred[y * predStride + x] = clip1((a + b * (x - (half - 1)) + c * (y - (half - 1)) + 16) >> 5);
        return true;
    }
    return false;
}

} // namespace

bool predictIntra16x16(int mode, const std::uint8_t* block, int stride, IntraAvailability avail, std::uint8_t* pred,
                       int predStride)
{
    if (mode == kI16Dc) {
        int sumTop = 0, sumLeft = 0;
        if (avail.top)
            for (int x = 0; x < 16; ++x) sumTop += block[-stride + x];
        if (avail.left)
            for (int y = 0; y < 16; ++y) sumLeft += block[y * stride - 1];
        int dc = avail.top && avail.left ? (sumTop + sumLeft + 16) >> 5
                 : avail.left           ? (sumLeft + 8) >> 4
                 : avail.top            ? (sumTop + 8) >> 4
                                        : 128;
        fillBlock(pred, predStride, 16, static_cast<std::uint8_t>(dc));
        return true;
    }
    return predictDirectional(16, mode == kI16Vertical, mode == kI16Horizontal, mode == kI16Plane, block, stride,
                              avail, pred, predStride);
}

bool predictIntraChroma(int mode, const std::uint8_t* block, int stride, IntraAvailability avail, std::uint8_t* pred,
                        int predStride)
{
    if (mode == kChromaDc) {
        // Clause 8.3.4.1-8.3.4.3: each 4x4 chroma block prefers a different side.
        int dc[4];
        for (int blk = 0; blk < 4; ++blk) {
            const int xO = 4 * (blk % 2), yO = 4 * (blk / 2);
            int sumTop = 0, sumLeft = 0;
            if (avail.top)
                for (int x = 0; x < 4; ++x) sumTop += block[-stride + xO + x];
            if (avail.left)
                for (int y = 0; y < 4; ++y) sumLeft += block[(yO + y) * stride - 1];
            const bool topFirst = xO > 0 && yO == 0;
            const bool leftFirst = xO == 0 && yO > 0;
            if (!topFirst && !leftFirst && avail.top && avail.left)
                dc[blk] = (sumTop + sumLeft + 4) >> 3;
            else if (topFirst && avail.top)
                dc[blk] = (sumTop + 2) >> 2;
            else if (avail.left)
                dc[blk] = (sumLeft + 2) >> 2;
            else if (avail.top)
                dc[blk] = (sumTop + 2) >> 2;
            else
                dc[blk] = 128;
        }
        for (int blk = 0; blk < 4; ++blk) {
            std::uint8_t* out = pred + 4 * (blk / 2) * predStride + 4 * (blk % 2);
            fillBlock(out, predStride, 4, static_cast<std::uint8_t>(dc[blk]));
        }
        return true;
    }
    return predictDirectional(8, mode == kChromaVertical, mode == kChromaHorizontal, mode == kChromaPlane, block,
                              stride, avail, pred, predStride);
}

} // namespace kestrune::codec
