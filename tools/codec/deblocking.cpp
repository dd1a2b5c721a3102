#include "tools/codec/deblocking.h"

#include <algorithm>
#include <cstdlib>

#include "tools/codec/kernels.h"
#include "tools/codec/quantisation.h"

namespace kestrune::codec {

namespace {

// Table 8-16 (alpha', beta') and Table 8-17 (tC0' for bS 1, 2, 3), indexed by indexA/indexB.
constexpr std::uint8_t kAlpha[52] = {0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,   0,   0,   0,   0,   0,   4,   4,
                                     5,  6,  7,  8,  9,  10, 12, 13, 15, 17, 20,  22,  25,  28,  32,  36,  40,  45,
                                     50, 56, 63, 71, 80, 90, 101, 113, 127, 144, 162, 182, 203, 226, 255, 255};
constexpr std::uint8_t kBeta[52] = {0, 0, 0, 0, 0, 0, 0, 0,  0,  0,  0,  0,  0,  0,  0,  0,  2,  2,
                                    2, 3, 3, 3, 3, 4, 4, 4,  6,  6,  7,  7,  8,  8,  9,  9,  10, 10,
                                    11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 17, 17, 18, 18};
constexpr std::uint8_t kTc0[52][3] = {
    {0, 0, 0},   {0, 0, 0},   {0, 0, 0},   {0, 0, 0},    {0, 0, 0},    {0, 0, 0},    {0, 0, 0},   {0, 0, 0},
    {0, 0, 0},   {0, 0, 0},   {0, 0, 0},   {0, 0, 0},    {0, 0, 0},    {0, 0, 0},    {0, 0, 0},   {0, 0, 0},
    {0, 0, 0},   {0, 0, 1},   {0, 0, 1},   {0, 0, 1},    {0, 0, 1},    {0, 1, 1},    {0, 1, 1},   {1, 1, 1},
    {1, 1, 1},   {1, 1, 1},   {1, 1, 1},   {1, 1, 2},    {1, 1, 2},    {1, 1, 2},    {1, 1, 2},   {1, 2, 3},
    {1, 2, 3},   {2, 2, 3},   {2, 2, 4},   {2, 3, 4},    {2, 3, 4},    {3, 3, 5},    {3, 4, 6},   {3, 4, 6},
    {4, 5, 7},   {4, 5, 8},   {4, 6, 9},   {5, 7, 10},   {6, 8, 11},   {6, 8, 13},   {7, 10, 14}, {8, 11, 16},
    {9, 12, 18}, {10, 13, 20}, {11, 15, 23}, {13, 17, 25}};

// Filters one line across the edge (clauses 8.7.2.3 and 8.7.2.4); q points at q0.
template <bool chroma>
inline void filterLine(std::uint8_t* q, int step, int bS, int alpha, int beta, int tc0)
{
    const int p0 = q[-step], p1 = q[-2 * step], q0 = q[0], q1 = q[step];
    if (!(std::abs(p0 - q0) < alpha && std::abs(p1 - p0) < beta && std::abs(q1 - q0) < beta)) return;
    if constexpr (chroma) {
        if (bS < 4) {
            const int tc = tc0 + 1;
            const int delta = std::clamp((((q0 - p0) << 2) + (p1 - q1) + 4) >> 3, -tc, tc);
            q[-step] = clip1(p0 + delta);
            q[0] = clip1(q0 - delta);
        } else {
            q[-step] = static_cast<std::uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
            q[0] = static_cast<std::uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
        }
        return;
    }
    const int p2 = q[-3 * step], q2 = q[2 * step];
    const bool ap = std::abs(p2 - p0) < beta, aq = std::abs(q2 - q0) < beta;
    if (bS < 4) {
        const int tc = tc0 + ap + aq;
        const int delta = std::clamp((((q0 - p0) << 2) + (p1 - q1) + 4) >> 3, -tc, tc);
        q[-step] = clip1(p0 + delta);
        q[0] = clip1(q0 - delta);
        if (ap) q[-2 * step] = static_cast<std::uint8_t>(p1 + std::clamp((p2 + ((p0 + q0 + 1) >> 1) - (p1 << 1)) >> 1, -tc0, tc0));
        if (aq) q[step] = static_cast<std::uint8_t>(q1 + std::clamp((q2 + ((p0 + q0 + 1) >> 1) - (q1 << 1)) >> 1, -tc0, tc0));
        return;
    }
    const bool strong = std::abs(p0 - q0) < ((alpha >> 2) + 2);
    if (ap && strong) {
        const int p3 = q[-4 * step];
        q[-step] = static_cast<std::uint8_t>((p2 + 2 * p1 + 2 * p0 + 2 * q0 + q1 + 4) >> 3);
        q[-2 * step] = static_cast<std::uint8_t>((p2 + p1 + p0 + q0 + 2) >> 2);
        q[-3 * step] = static_cast<std::uint8_t>((2 * p3 + 3 * p2 + p1 + p0 + q0 + 4) >> 3);
    } else {
        q[-step] = static_cast<std::uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
    }
    if (aq && strong) {
        const int q3 = q[3 * step];
        q[0] = static_cast<std::uint8_t>((p1 + 2 * p0 + 2 * q0 + 2 * q1 + q2 + 4) >> 3);
        q[step] = static_cast<std::uint8_t>((p0 + q0 + q1 + q2 + 2) >> 2);
        q[2 * step] = static_cast<std::uint8_t>((2 * q3 + 3 * q2 + q1 + q0 + p0 + 4) >> 3);
    } else {
        q[0] = static_cast<std::uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
    }
}

// bS of an edge between two inter 4x4 blocks (clause 8.7.2.1, bS 2 to 0).
inline int interStrength(const MacroblockState& mbP, int blkP, const MacroblockState& mbQ, int blkQ)
{
    if (mbP.totalCoeff[static_cast<std::size_t>(blkP)] != 0 || mbQ.totalCoeff[static_cast<std::size_t>(blkQ)] != 0)
        return 2;
    if (mbP.refPicIdOfBlock(blkP) != mbQ.refPicIdOfBlock(blkQ)) return 1;
    const MotionVector& a = mbP.mv[static_cast<std::size_t>(blkP)];
    const MotionVector& b = mbQ.mv[static_cast<std::size_t>(blkQ)];
    return std::abs(a.x - b.x) >= 4 || std::abs(a.y - b.y) >= 4 ? 1 : 0;
}

// bS of the four 4-line segments of one edge, one byte each (segment k in
// bits 8k..8k+7): a whole edge is tested for zero and passed in a register.
constexpr std::uint32_t packStrengths(const std::uint8_t bS[4])
{
    return static_cast<std::uint32_t>(bS[0]) | static_cast<std::uint32_t>(bS[1]) << 8 |
           static_cast<std::uint32_t>(bS[2]) << 16 | static_cast<std::uint32_t>(bS[3]) << 24;
}

int segmentStrength(std::uint32_t bS, int k)
{
    return static_cast<int>((bS >> (8 * k)) & 0xFF);
}

// Luma blocks with coefficients as a 16-bit mask, bit 4 * y + x.
unsigned codedBlocksRaster(const MacroblockState& mb)
{
    unsigned byIndex = 0;  // bit luma4x4BlkIdx
    for (int k = 0; k < 16; ++k)
        if (mb.totalCoeff[static_cast<std::size_t>(k)] != 0) byIndex |= 1u << k;
    // In each half (8 blocks, two quadrants) index bits 2, 3 are raster bits 4, 5 and vice versa.
    return (byIndex & 0xC3C3u) | ((byIndex & 0x3030u) >> 2) | ((byIndex & 0x0C0Cu) << 2);
}

// The 4x4 bit matrix transposed: bit 4 * y + x becomes bit 4 * x + y.
unsigned transposeBits(unsigned m)
{
    unsigned t = (m ^ (m >> 3)) & 0x0A0Au;
    m ^= t ^ (t << 3);
    t = (m ^ (m >> 6)) & 0x00CCu;
    return m ^ t ^ (t << 6);
}

// One luma or chroma edge sample by sample (clauses 8.7.2.3/8.7.2.4).
template <bool chroma>
void filterEdgeLines(std::uint8_t* q0, int sampleStep, int lineStep, std::uint32_t bS, const EdgeThresholds& t)
{
    constexpr int linesPerSegment = chroma ? 2 : 4;
    for (int k = 0; k < 4; ++k) {
        const int s = segmentStrength(bS, k);
        if (s == 0) continue;
        const int tc0 = s < 4 ? t.tc0[s - 1] : 0;
        for (int line = k * linesPerSegment; line < (k + 1) * linesPerSegment; ++line)
            filterLine<chroma>(q0 + line * lineStep, sampleStep, s, t.alpha, t.beta, tc0);
    }
}

// Alpha or beta 0 means no sample can pass |p0 - q0| < alpha,
// |p1 - p0| < beta, so the edge is left alone.
bool filtersAnything(const EdgeThresholds& t)
{
    return t.alpha != 0 && t.beta != 0;
}

int filterQp(const MacroblockState& mb)
{
    return mb.mbType == MbType::IPCM ? 0 : mb.qp;
}

// The thresholds of an edge between macroblocks with filter QPs qpP and qpQ
// (already mapped to chroma where needed): indexA and indexB of clause 8.7.2.2.
EdgeThresholds thresholdsBetween(int qpP, int qpQ, const DeblockingParams& params)
{
    const int qpAv = (qpP + qpQ + 1) >> 1;
    return edgeThresholds(std::clamp(qpAv + params.filterOffsetA, 0, 51), std::clamp(qpAv + params.filterOffsetB, 0, 51));
}

} // namespace

EdgeThresholds edgeThresholds(int indexA, int indexB)
{
    return {kAlpha[indexA], kBeta[indexB], {kTc0[indexA][0], kTc0[indexA][1], kTc0[indexA][2]}};
}

namespace plain {

void filterLumaEdge(std::uint8_t* q0, int sampleStep, int lineStep, std::uint32_t bS, const EdgeThresholds& t)
{
    filterEdgeLines<false>(q0, sampleStep, lineStep, bS, t);
}

void filterLumaInnerVerticalEdges(std::uint8_t* origin, int stride, const std::uint32_t bS[4], const EdgeThresholds& t)
{
    for (int e = 1; e < 4; ++e)
        if (bS[e] != 0) filterEdgeLines<false>(origin + 4 * e, 1, stride, bS[e], t);
}

void filterChromaEdges(std::uint8_t* cb, std::uint8_t* cr, int sampleStep, int lineStep, std::uint32_t bS,
                       const EdgeThresholds& t)
{
    filterEdgeLines<true>(cb, sampleStep, lineStep, bS, t);
    if (cr != cb) filterEdgeLines<true>(cr, sampleStep, lineStep, bS, t);
}

void interEdgeStrengths(const MacroblockState& l, const MacroblockState& t, const MacroblockState& q, unsigned codedV,
                        unsigned codedH, MacroblockEdgeStrengths& s)
{
    for (int e = 0; e < 4; ++e)
        for (int k = 0; k < 4; ++k) {
            const int bit = 4 * e + k;
            s.vertical[e][k] = static_cast<std::uint8_t>(
                codedV >> bit & 1 ? 2 : interStrength(e == 0 ? l : q, blockIndexAt(e == 0 ? 3 : e - 1, k), q, blockIndexAt(e, k)));
            s.horizontal[e][k] = static_cast<std::uint8_t>(
                codedH >> bit & 1 ? 2 : interStrength(e == 0 ? t : q, blockIndexAt(k, e == 0 ? 3 : e - 1), q, blockIndexAt(k, e)));
        }
}

} // namespace plain

void filterEdgeForTests(std::uint8_t* q0, int sampleStep, int lineStep, const int bS[4], int indexA, int indexB, bool chroma)
{
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(bS[0]), static_cast<std::uint8_t>(bS[1]),
                                   static_cast<std::uint8_t>(bS[2]), static_cast<std::uint8_t>(bS[3])};
    const EdgeThresholds t = edgeThresholds(indexA, indexB);
    if (!filtersAnything(t)) return;
    const CodecKernels& k = codecKernels();
    if (chroma)
        k.filterChromaEdges(q0, q0, sampleStep, lineStep, packStrengths(bytes), t);
    else
        k.filterLumaEdge(q0, sampleStep, lineStep, packStrengths(bytes), t);
}

int boundaryStrengthForTests(const MacroblockState& mbP, int blkP, const MacroblockState& mbQ, int blkQ, bool mbEdge)
{
    // Clause 8.7.2.1 for frame macroblocks without SP/SI slices.
    if (mbP.intra() || mbQ.intra()) return mbEdge ? 4 : 3;
    return interStrength(mbP, blkP, mbQ, blkQ);
}

MacroblockEdgeStrengths macroblockEdgeStrengths(const MacroblockState* left, const MacroblockState* top,
                                                const MacroblockState& q)
{
    MacroblockEdgeStrengths s;
    if (q.intra()) {
        for (int e = 0; e < 4; ++e) {
            const std::uint8_t v = e == 0 ? 4 : 3;
            std::fill_n(s.vertical[e], 4, e > 0 || left ? v : 0);
            std::fill_n(s.horizontal[e], 4, e > 0 || top ? v : 0);
        }
        return s;
    }
    // Edge 0 is worked out against q itself when there is no neighbour, then cleared.
    const MacroblockState& l = left ? *left : q;
    const MacroblockState& t = top ? *top : q;
    // Coded blocks: nibble e of each mask marks the pairs across edge e whose p
    // or q block has coefficients (vertical: bit 4e + y, horizontal: 4e + x).
    const unsigned codedQ = codedBlocksRaster(q);
    const unsigned codedQColumns = transposeBits(codedQ);
    const unsigned codedV = (codedQColumns | codedQColumns << 4 | transposeBits(codedBlocksRaster(l)) >> 12) & 0xFFFFu;
    const unsigned codedH = (codedQ | codedQ << 4 | codedBlocksRaster(t) >> 12) & 0xFFFFu;
    codecKernels().interEdgeStrengths(l, t, q, codedV, codedH, s);
    if (!left || left->intra()) std::fill_n(s.vertical[0], 4, left ? 4 : 0);
    if (!top || top->intra()) std::fill_n(s.horizontal[0], 4, top ? 4 : 0);
    return s;
}

void deblockPicture(Picture& picture, const MacroblockStates& states, std::span<const DeblockingParams> slices)
{
    const CodecKernels& k = codecKernels();
    const int w = states.widthInMbs();
    PlaneView luma = picture.plane(kLuma);
    PlaneView cb = picture.plane(kCb), cr = picture.plane(kCr);
    for (int mbAddr = 0; mbAddr < states.size(); ++mbAddr) {
        const MacroblockState& q = states[mbAddr];
        if (q.sliceNum < 0 || static_cast<std::size_t>(q.sliceNum) >= slices.size()) continue;
        const DeblockingParams& params = slices[static_cast<std::size_t>(q.sliceNum)];
        if (params.disable_deblocking_filter_idc == 1) continue;
        // A neighbour edge is filtered when the neighbour was coded, and with
        // idc 2 only inside the slice.
        auto edgeNeighbour = [&](bool inside, int addr) -> const MacroblockState* {
            if (!inside) return nullptr;
            const MacroblockState& p = states[addr];
            if (p.sliceNum < 0 || (params.disable_deblocking_filter_idc == 2 && p.sliceNum != q.sliceNum)) return nullptr;
            return &p;
        };
        const int mbX = mbAddr % w, mbY = mbAddr / w;
        const MacroblockState* left = edgeNeighbour(mbX > 0, mbAddr - 1);
        const MacroblockState* top = edgeNeighbour(mbY > 0, mbAddr - w);

        const MacroblockEdgeStrengths bs = macroblockEdgeStrengths(left, top, q);        std::uint32_t bsV[4], bsH[4];
        std::uint32_t any = 0;
        for (int e = 0; e < 4; ++e) {
            bsV[e] = packStrengths(bs.vertical[e]);
            bsH[e] = packStrengths(bs.horizontal[e]);
            any |= bsV[e] | bsH[e];
        }
        if (any == 0) continue;  // typical of skipped areas

        // Internal edges average q's QP with itself.
        const int qpQ = filterQp(q);
        const int chromaQpQ = chromaQp(qpQ, params.chroma_qp_index_offset);
        const EdgeThresholds inner = thresholdsBetween(qpQ, qpQ, params);
        const EdgeThresholds innerChroma = thresholdsBetween(chromaQpQ, chromaQpQ, params);
        auto lumaThresholds = [&](const MacroblockState* p) { return p ? thresholdsBetween(filterQp(*p), qpQ, params) : inner; };
        auto chromaThresholds = [&](const MacroblockState* p) {
            return p ? thresholdsBetween(chromaQp(filterQp(*p), params.chroma_qp_index_offset), chromaQpQ, params) : innerChroma;
        };

        std::uint8_t* yOrigin = luma.row(16 * mbY) + 16 * mbX;
        if (bsV[0] != 0) {
            const EdgeThresholds t = lumaThresholds(left);
            if (filtersAnything(t)) k.filterLumaEdge(yOrigin, 1, luma.stride, bsV[0], t);
        }
        if (filtersAnything(inner)) k.filterLumaInnerVerticalEdges(yOrigin, luma.stride, bsV, inner);
        for (int e = 0; e < 4; ++e) {
            if (bsH[e] == 0) continue;
            const EdgeThresholds t = lumaThresholds(e == 0 ? top : nullptr);
            if (filtersAnything(t)) k.filterLumaEdge(yOrigin + 4 * e * luma.stride, luma.stride, 1, bsH[e], t);
        }
        // Chroma edges 0 and 4 take the bS of luma edges 0 and 8.
        // Both planes have the same stride, bS and thresholds.
        std::uint8_t* cbOrigin = cb.row(8 * mbY) + 8 * mbX;
        std::uint8_t* crOrigin = cr.row(8 * mbY) + 8 * mbX;
        const int cStride = cb.stride;
        for (int e = 0; e < 4; e += 2) {
            if (bsV[e] == 0) continue;
            const EdgeThresholds t = chromaThresholds(e == 0 ? left : nullptr);
            if (filtersAnything(t)) k.filterChromaEdges(cbOrigin + 2 * e, crOrigin + 2 * e, 1, cStride, bsV[e], t);
        }
        for (int e = 0; e < 4; e += 2) {
            if (bsH[e] == 0) continue;
            const EdgeThresholds t = chromaThresholds(e == 0 ? top : nullptr);
            if (filtersAnything(t))
                k.filterChromaEdges(cbOrigin + 2 * e * cStride, crOrigin + 2 * e * cStride, cStride, 1, bsH[e], t);
        }
    }
}

} // namespace kestrune::codec
