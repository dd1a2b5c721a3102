// The deblocking filter (clause 8.7) on hand-made edges, values worked out
// by hand from the standard's equations.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <random>
#include <cstdint>
#include <utility>
#include <vector>

#include "tools/codec/deblocking.h"
#include "tools/codec/quantisation.h"

namespace kestrune::codec {
namespace {

// One line p3 p2 p1 p0 | q0 q1 q2 q3 = 60 60 60 60 | 70 70 70 70, filtered
// as one of 16 (luma) or 8 (chroma) identical lines across a vertical edge.
std::array<int, 8> filterStep(int bS, int indexA, int indexB, bool chroma)
{
    std::vector<std::uint8_t> s(16 * 8);
    for (int line = 0; line < 16; ++line)
        for (int x = 0; x < 8; ++x) s[static_cast<std::size_t>(line * 8 + x)] = x < 4 ? 60 : 70;
    const int bs[4] = {bS, bS, bS, bS};
    filterEdgeForTests(s.data() + 4, 1, 8, bs, indexA, indexB, chroma);
    std::array<int, 8> line{};
    for (int x = 0; x < 8; ++x) line[static_cast<std::size_t>(x)] = s[static_cast<std::size_t>(x)];
    for (int l = 1; l < (chroma ? 8 : 16); ++l)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(s[static_cast<std::size_t>(l * 8 + x)], line[static_cast<std::size_t>(x)]);
    return line;
}

TEST(DeblockingTest, SampleFiltersOnAStepEdge)
{
    // indexA = indexB = 40: alpha 80, beta 13, tC0 4 / 5 / 7.
    EXPECT_EQ(filterStep(4, 40, 40, false), (std::array<int, 8>{60, 61, 63, 64, 66, 68, 69, 70}));  // strong
    EXPECT_EQ(filterStep(2, 40, 40, false), (std::array<int, 8>{60, 60, 62, 64, 66, 67, 70, 70}));  // tC 7, delta 4
    EXPECT_EQ(filterStep(1, 40, 40, false), (std::array<int, 8>{60, 60, 62, 64, 66, 67, 70, 70}));  // p1/q1 within tC0 4
    EXPECT_EQ(filterStep(2, 40, 40, true), (std::array<int, 8>{60, 60, 60, 64, 66, 70, 70, 70}));
    EXPECT_EQ(filterStep(4, 40, 40, true), (std::array<int, 8>{60, 60, 60, 63, 68, 70, 70, 70}));
    // indexA 23 (alpha 10): a step of 10 is taken for a real edge.
    EXPECT_EQ(filterStep(4, 23, 40, false), (std::array<int, 8>{60, 60, 60, 60, 70, 70, 70, 70}));
    // bS 1 at indexA 26 (tC0 1, tC 3): delta clipped to 3, p1/q1 by 1.
    EXPECT_EQ(filterStep(1, 26, 40, false), (std::array<int, 8>{60, 60, 61, 63, 67, 69, 70, 70}));
}

// Clauses 8.7.2.3 and 8.7.2.4 on one line of samples p3..p0 q0..q3, as the
// standard writes them, for the optimised edge filter to match.
void referenceFilterLine(int (&p)[4], int (&q)[4], int bS, int indexA, int indexB, bool chroma)
{
    static const int alphaTable[52] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4, 5, 6, 7, 8, 9, 10, 12, 13,
                                       15, 17, 20, 22, 25, 28, 32, 36, 40, 45, 50, 56, 63, 71, 80, 90, 101, 113, 127,
                                       144, 162, 182, 203, 226, 255, 255};
    static const int betaTable[52] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4,
                                      6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16,
                                      17, 17, 18, 18};
    static const int tc0Table[3][52] = {
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1,
         1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 6, 6, 7, 8, 9, 10, 11, 13},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1,
         1, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 4, 4, 5, 5, 6, 7, 8, 8, 10, 11, 12, 13, 15, 17},
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1,
         1, 2, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 6, 6, 7, 8, 9, 10, 11, 13, 14, 16, 18, 20, 23, 25}};
    const int alpha = alphaTable[indexA], beta = betaTable[indexB];
    const int p0 = p[0], p1 = p[1], p2 = p[2], p3 = p[3], q0 = q[0], q1 = q[1], q2 = q[2], q3 = q[3];
    const bool filterSamplesFlag = bS != 0 && std::abs(p0 - q0) < alpha && std::abs(p1 - p0) < beta && std::abs(q1 - q0) < beta;
    if (!filterSamplesFlag) return;
    const int ap = std::abs(p2 - p0), aq = std::abs(q2 - q0);
    auto clip1 = [](int v) { return std::clamp(v, 0, 255); };
    if (bS < 4) {
        const int tC0 = tc0Table[bS - 1][indexA];
        const int tC = chroma ? tC0 + 1 : tC0 + (ap < beta ? 1 : 0) + (aq < beta ? 1 : 0);
        const int delta = std::clamp((((q0 - p0) << 2) + (p1 - q1) + 4) >> 3, -tC, tC);
        p[0] = clip1(p0 + delta);
        q[0] = clip1(q0 - delta);
        if (!chroma && ap < beta) p[1] = p1 + std::clamp((p2 + ((p0 + q0 + 1) >> 1) - (p1 << 1)) >> 1, -tC0, tC0);
        if (!chroma && aq < beta) q[1] = q1 + std::clamp((q2 + ((p0 + q0 + 1) >> 1) - (q1 << 1)) >> 1, -tC0, tC0);
        return;
    }
    const bool strongP = !chroma && ap < beta && std::abs(p0 - q0) < ((alpha >> 2) + 2);
    const bool strongQ = !chroma && aq < beta && std::abs(p0 - q0) < ((alpha >> 2) + 2);
    if (strongP) {
        p[0] = (p2 + 2 * p1 + 2 * p0 + 2 * q0 + q1 + 4) >> 3;
        p[1] = (p2 + p1 + p0 + q0 + 2) >> 2;
        p[2] = (2 * p3 + 3 * p2 + p1 + p0 + q0 + 4) >> 3;
    } else {
        p[0] = (2 * p1 + p0 + q1 + 2) >> 2;
    }
    if (strongQ) {
        q[0] = (p1 + 2 * p0 + 2 * q0 + 2 * q1 + q2 + 4) >> 3;
        q[1] = (p0 + q0 + q1 + q2 + 2) >> 2;
        q[2] = (2 * q3 + 3 * q2 + q1 + q0 + p0 + 4) >> 3;
    } else {
        q[0] = (2 * q1 + q0 + p1 + 2) >> 2;
    }
}

TEST(DeblockingTest, EdgeFilterMatchesTheStandardsEquationsOnRandomEdges)
{
    // Lines close to a random level with small and occasionally large steps,
    // so every branch (no filtering, normal, strong, clipping) is taken.
    std::mt19937 rng(17);
    for (int trial = 0; trial < 20000; ++trial) {
        const bool chroma = trial % 3 == 0;
        const bool vertical = trial % 2 == 0;  // edge between columns, lines are rows
        const int lines = chroma ? 8 : 16;
        const int indexA = static_cast<int>(rng() % 52), indexB = static_cast<int>(rng() % 52);
        int bS[4];
        for (int& b : bS) b = static_cast<int>(rng() % 5);
        const int level = static_cast<int>(rng() % 256);
        const int spread = 1 + static_cast<int>(rng() % (trial % 5 == 0 ? 80 : 12));
        std::array<std::uint8_t, 16 * 8> area{};  // 16 lines of 8 samples p3..q3 (vertical) or transposed
        for (auto& v : area) v = static_cast<std::uint8_t>(std::clamp(level + static_cast<int>(rng() % (2 * spread + 1)) - spread, 0, 255));
        if (rng() % 4 == 0) {  // a real step between the sides
            const int step = static_cast<int>(rng() % 60);
            for (int l = 0; l < 16; ++l)
                for (int k = 4; k < 8; ++k) {
                    auto& v = area[static_cast<std::size_t>(vertical ? l * 8 + k : k * 16 + l)];
                    v = static_cast<std::uint8_t>(std::min(255, v + step));
                }
        }
        auto expected = area;
        for (int l = 0; l < lines; ++l) {
            int p[4], q[4];
            auto at = [&](std::array<std::uint8_t, 128>& a, int k) -> std::uint8_t& {
                return a[static_cast<std::size_t>(vertical ? l * 8 + k : k * 16 + l)];
            };
            for (int k = 0; k < 4; ++k) {
                p[k] = at(expected, 3 - k);
                q[k] = at(expected, 4 + k);
            }
            referenceFilterLine(p, q, bS[l / (chroma ? 2 : 4)], indexA, indexB, chroma);
            for (int k = 0; k < 4; ++k) {
                at(expected, 3 - k) = static_cast<std::uint8_t>(p[k]);
                at(expected, 4 + k) = static_cast<std::uint8_t>(q[k]);
            }
        }
        if (vertical)
            filterEdgeForTests(area.data() + 4, 1, 8, bS, indexA, indexB, chroma);
        else
            filterEdgeForTests(area.data() + 4 * 16, 16, 1, bS, indexA, indexB, chroma);
        ASSERT_EQ(area, expected) << "trial " << trial << " indexA " << indexA << " indexB " << indexB;
    }
}

TEST(DeblockingTest, BoundaryStrength)
{
    MacroblockState intra, p, q;
    intra.sliceNum = p.sliceNum = q.sliceNum = 0;
    intra.mbType = MbType::I4x4;
    p.mbType = q.mbType = MbType::P16x16;
    p.refIdx = q.refIdx = {0, 0, 0, 0};
    p.refPicId = q.refPicId = {7, 7, 7, 7};
    EXPECT_EQ(boundaryStrengthForTests(intra, 5, q, 0, true), 4);
    EXPECT_EQ(boundaryStrengthForTests(q, 5, intra, 0, false), 3);
    EXPECT_EQ(boundaryStrengthForTests(p, 5, q, 0, true), 0);
    q.totalCoeff[0] = 1;
    EXPECT_EQ(boundaryStrengthForTests(p, 5, q, 0, true), 2);
    EXPECT_EQ(boundaryStrengthForTests(p, 5, q, 1, true), 0);
    q.mv[1] = {3, -3};
    EXPECT_EQ(boundaryStrengthForTests(p, 5, q, 1, true), 0);
    q.mv[1] = {3, -4};
    EXPECT_EQ(boundaryStrengthForTests(p, 5, q, 1, true), 1);
    q.mv[1] = {};
    q.refPicId[0] = 8;  // same refIdx, other picture
    EXPECT_EQ(boundaryStrengthForTests(p, 5, q, 1, true), 1);
}

// Random neighbourhoods: vectors near the 4-quarter-sample threshold and at
// the ends of their range, mixed references, coded and uncoded blocks,
// intra and missing neighbours. Every segment of the whole-macroblock
// derivation must equal the per-block one.
TEST(DeblockingTest, MacroblockEdgeStrengthsMatchPerBlockDerivation)
{
    std::mt19937 rng(29);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto randomMacroblock = [&]() {
        MacroblockState mb;
        mb.sliceNum = 0;
        const MbType types[] = {MbType::I4x4, MbType::I16x16, MbType::IPCM, MbType::P16x16, MbType::P16x8,
                                MbType::P8x16, MbType::P8x8, MbType::PSkip};
        mb.mbType = types[pick(8)];
        const bool uncoded = pick(3) == 0;
        for (auto& c : mb.totalCoeff) c = static_cast<std::uint8_t>(uncoded || pick(3) > 0 ? 0 : 1 + pick(16));
        const std::int16_t baseX = static_cast<std::int16_t>(pick(40) - 20), baseY = static_cast<std::int16_t>(pick(40) - 20);
        for (auto& mv : mb.mv) {
            if (pick(20) == 0) {  // the extremes, where a wrapping difference would lie
                mv = {static_cast<std::int16_t>(pick(2) ? 32767 : -32768), static_cast<std::int16_t>(pick(2) ? 32767 : -32768)};
            } else {
                mv = {static_cast<std::int16_t>(baseX + pick(11) - 5), static_cast<std::int16_t>(baseY + pick(11) - 5)};
            }
        }
        if (pick(4) == 0) mb.mv.fill(mb.mv[0]);
        for (auto& r : mb.refPicId) r = pick(4) == 0 ? pick(3) : 1;
        if (mb.intra()) {
            mb.refPicId.fill(-1);
            mb.mv.fill({});
        }
        return mb;
    };
    for (int trial = 0; trial < 20000; ++trial) {
        const MacroblockState left = randomMacroblock(), top = randomMacroblock(), q = randomMacroblock();
        const MacroblockState* leftOrNull = pick(6) == 0 ? nullptr : &left;
        const MacroblockState* topOrNull = pick(6) == 0 ? nullptr : &top;
        const MacroblockEdgeStrengths s = macroblockEdgeStrengths(leftOrNull, topOrNull, q);
        for (int e = 0; e < 4; ++e)
            for (int k = 0; k < 4; ++k) {
                const MacroblockState* pV = e == 0 ? leftOrNull : &q;
                const MacroblockState* pH = e == 0 ? topOrNull : &q;
                const int expectedV = pV ? boundaryStrengthForTests(*pV, blockIndexAt(e == 0 ? 3 : e - 1, k), q, blockIndexAt(e, k), e == 0) : 0;
                const int expectedH = pH ? boundaryStrengthForTests(*pH, blockIndexAt(k, e == 0 ? 3 : e - 1), q, blockIndexAt(k, e), e == 0) : 0;
                ASSERT_EQ(s.vertical[e][k], expectedV) << "trial " << trial << " vertical edge " << e << " segment " << k;
                ASSERT_EQ(s.horizontal[e][k], expectedH) << "trial " << trial << " horizontal edge " << e << " segment " << k;
            }
    }
}

// Clause 8.7 line by line: for each macroblock in address order its vertical
// then horizontal luma edges, then the chroma edges 0 and 4, every line with
// its own bS, indices and the standard's equations.
void referenceDeblockPicture(Picture& pic, const MacroblockStates& states, const std::vector<DeblockingParams>& slices)
{
    const int w = states.widthInMbs();
    for (int mbAddr = 0; mbAddr < states.size(); ++mbAddr) {
        const MacroblockState& q = states[mbAddr];
        if (q.sliceNum < 0) continue;
        const DeblockingParams& params = slices[static_cast<std::size_t>(q.sliceNum)];
        if (params.disable_deblocking_filter_idc == 1) continue;
        auto neighbour = [&](bool inside, int addr) -> const MacroblockState* {
            if (!inside || states[addr].sliceNum < 0) return nullptr;
            if (params.disable_deblocking_filter_idc == 2 && states[addr].sliceNum != q.sliceNum) return nullptr;
            return &states[addr];
        };
        const int mbX = mbAddr % w, mbY = mbAddr / w;
        const MacroblockState* left = neighbour(mbX > 0, mbAddr - 1);
        const MacroblockState* top = neighbour(mbY > 0, mbAddr - w);
        auto qpOf = [](const MacroblockState& mb, bool chroma, int offset) {
            const int qp = mb.mbType == MbType::IPCM ? 0 : mb.qp;
            return chroma ? chromaQp(qp, offset) : qp;
        };
        for (int plane : {kLuma, kCb, kCr}) {
            const bool chroma = plane != kLuma;
            PlaneView v = pic.plane(plane);
            const int size = chroma ? 8 : 16;
            for (int vertical = 1; vertical >= 0; --vertical)
                for (int e = 0; e < 4; e += chroma ? 2 : 1) {
                    const MacroblockState* p = e > 0 ? &q : vertical ? left : top;
                    if (!p) continue;
                    const int qpAv = (qpOf(*p, chroma, params.chroma_qp_index_offset) + qpOf(q, chroma, params.chroma_qp_index_offset) + 1) >> 1;
                    const int indexA = std::clamp(qpAv + params.filterOffsetA, 0, 51);
                    const int indexB = std::clamp(qpAv + params.filterOffsetB, 0, 51);
                    for (int line = 0; line < size; ++line) {
                        const int k = line / (chroma ? 2 : 4);  // 4x4 luma block along the edge
                        const int blkQ = vertical ? blockIndexAt(e, k) : blockIndexAt(k, e);
                        const int blkP = vertical ? blockIndexAt(e == 0 ? 3 : e - 1, k) : blockIndexAt(k, e == 0 ? 3 : e - 1);
                        const int bS = boundaryStrengthForTests(*p, blkP, q, blkQ, e == 0);
                        const int edge = (chroma ? 2 : 4) * e;
                        auto sample = [&](int i) -> std::uint8_t& {  // i = 0 is q0, -1 is p0
                            return vertical ? v.at(mbX * size + edge + i, mbY * size + line) : v.at(mbX * size + line, mbY * size + edge + i);
                        };
                        int ps[4], qs[4];
                        for (int i = 0; i < 4; ++i) {
                            const bool inPicture = chroma ? i < 2 : true;  // chroma reads p1..q1 only
                            ps[i] = inPicture ? sample(-1 - i) : 0;
                            qs[i] = inPicture ? sample(i) : 0;
                        }
                        referenceFilterLine(ps, qs, bS, indexA, indexB, chroma);
                        for (int i = 0; i < (chroma ? 2 : 3); ++i) {
                            sample(-1 - i) = static_cast<std::uint8_t>(ps[i]);
                            sample(i) = static_cast<std::uint8_t>(qs[i]);
                        }
                    }
                }
        }
    }
}

// Random pictures of 5x4 macroblocks: blocky content with noise, every
// macroblock type, coded and uncoded blocks, vectors near the threshold,
// lost macroblocks and several slices with their own filter settings.
TEST(DeblockingTest, PictureFilterMatchesLineByLineReference)
{
    std::mt19937 rng(41);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    for (int trial = 0; trial < 300; ++trial) {
        Picture pic{5, 4};
        MacroblockStates states{5, 4};
        for (int plane : {kLuma, kCb, kCr}) {
            PlaneView v = pic.plane(plane);
            const int block = plane == kLuma ? 4 : 2;
            std::vector<int> levels(static_cast<std::size_t>((v.width / block) * (v.height / block)));
            for (auto& l : levels) l = pick(4) == 0 ? pick(256) : 100 + pick(30);
            const int noise = 1 + pick(trial % 4 == 0 ? 40 : 6);
            for (int y = 0; y < v.height; ++y)
                for (int x = 0; x < v.width; ++x)
                    v.at(x, y) = static_cast<std::uint8_t>(std::clamp(
                        levels[static_cast<std::size_t>((y / block) * (v.width / block) + x / block)] + pick(2 * noise + 1) - noise, 0, 255));
        }
        std::vector<DeblockingParams> slices(3);
        for (auto& sp : slices) {
            sp.disable_deblocking_filter_idc = pick(5) == 0 ? 1 : pick(3) == 0 ? 2 : 0;
            sp.filterOffsetA = 2 * (pick(13) - 6);
            sp.filterOffsetB = 2 * (pick(13) - 6);
            sp.chroma_qp_index_offset = pick(25) - 12;
        }
        const MbType types[] = {MbType::I4x4, MbType::I16x16, MbType::IPCM, MbType::P16x16, MbType::P16x8,
                                MbType::P8x16, MbType::P8x8, MbType::PSkip};
        for (int mbAddr = 0; mbAddr < states.size(); ++mbAddr) {
            MacroblockState& mb = states[mbAddr];
            mb.sliceNum = pick(10) == 0 ? -1 : std::min(2, mbAddr / 7 + (pick(4) == 0 ? 1 : 0));
            mb.mbType = types[pick(8)];
            mb.qp = static_cast<std::int8_t>(15 + pick(37));
            for (auto& c : mb.totalCoeff) c = static_cast<std::uint8_t>(pick(3) == 0 ? 1 + pick(16) : 0);
            const int baseX = pick(24) - 12, baseY = pick(24) - 12;
            for (auto& mv : mb.mv) mv = {static_cast<std::int16_t>(baseX + pick(7) - 3), static_cast<std::int16_t>(baseY + pick(7) - 3)};
            if (pick(3) == 0) mb.mv.fill(mb.mv[0]);
            for (auto& r : mb.refPicId) r = pick(5) == 0 ? 2 : 1;
            if (mb.intra()) {
                mb.refPicId.fill(-1);
                mb.mv.fill({});
            }
        }
        Picture expected = pic;
        referenceDeblockPicture(expected, states, slices);
        deblockPicture(pic, states, slices);
        for (int plane : {kLuma, kCb, kCr}) {
            const ConstPlaneView got = std::as_const(pic).plane(plane), want = std::as_const(expected).plane(plane);
            for (int y = 0; y < got.height; ++y)
                for (int x = 0; x < got.width; ++x)
                    ASSERT_EQ(got.at(x, y), want.at(x, y)) << "trial " << trial << " plane " << plane << " at " << x << "," << y;
        }
    }
}

// Two macroblocks side by side, luma and chroma 60 on the left and 70 on the
// right, both P16x16 at QP 40 with vectors 4 quarter samples apart.
struct TwoMacroblocks {
    Picture pic{2, 1};
    MacroblockStates states{2, 1};
    TwoMacroblocks()
    {
        for (int plane : {kLuma, kCb, kCr}) {
            PlaneView v = pic.plane(plane);
            for (int y = 0; y < v.height; ++y)
                for (int x = 0; x < v.width; ++x) v.at(x, y) = x < v.width / 2 ? 60 : 70;
        }
        for (int i = 0; i < 2; ++i) {
            states[i].sliceNum = i;
            states[i].mbType = MbType::P16x16;
            states[i].qp = 40;
            states[i].refIdx = {0, 0, 0, 0};
            states[i].refPicId = {3, 3, 3, 3};
        }
        states[1].mv.fill({4, 0});
    }
    std::array<int, 8> lumaAcross(int row) const
    {
        std::array<int, 8> out{};
        for (int x = 0; x < 8; ++x) out[static_cast<std::size_t>(x)] = pic.plane(kLuma).at(12 + x, row);
        return out;
    }
    std::array<int, 2> chromaAcross(int plane, int row) const
    {
        return {pic.plane(plane).at(7, row), pic.plane(plane).at(8, row)};
    }
};

TEST(DeblockingTest, PictureFilterUsesEachSlicesParameters)
{
    const std::array<int, 8> unfiltered{60, 60, 60, 60, 70, 70, 70, 70};
    {
        TwoMacroblocks t;
        std::vector<DeblockingParams> slices(2);
        deblockPicture(t.pic, t.states, slices);
        // bS 1 at indexA 40 (as the edge test above); chroma at QPc 36: tC 3.
        for (int row : {0, 7, 15}) EXPECT_EQ(t.lumaAcross(row), (std::array<int, 8>{60, 60, 62, 64, 66, 67, 70, 70}));
        for (int row : {0, 7}) {
            EXPECT_EQ(t.chromaAcross(kCb, row), (std::array<int, 2>{63, 67}));
            EXPECT_EQ(t.chromaAcross(kCr, row), (std::array<int, 2>{63, 67}));
        }
    }
    {
        // The right macroblock's slice says 2: its left edge is a slice edge.
        TwoMacroblocks t;
        std::vector<DeblockingParams> slices(2);
        slices[1].disable_deblocking_filter_idc = 2;
        deblockPicture(t.pic, t.states, slices);
        EXPECT_EQ(t.lumaAcross(3), unfiltered);
        // Same slice: filtered.
        TwoMacroblocks same;
        same.states[1].sliceNum = 0;
        deblockPicture(same.pic, same.states, slices);
        EXPECT_NE(same.lumaAcross(3), unfiltered);
    }
    {
        // The filter offsets of the slice holding q0 count: alpha 0 below index 16.
        TwoMacroblocks t;
        std::vector<DeblockingParams> slices(2);
        slices[1].filterOffsetA = -30;
        deblockPicture(t.pic, t.states, slices);
        EXPECT_EQ(t.lumaAcross(3), unfiltered);
        TwoMacroblocks off;
        slices[1] = DeblockingParams{1, 0, 0, 0};
        deblockPicture(off.pic, off.states, slices);
        EXPECT_EQ(off.lumaAcross(3), unfiltered);
    }
    {
        // Intra on the left: bS 4 and the strong filter; a lost neighbour: nothing.
        TwoMacroblocks t;
        t.states[0].mbType = MbType::I16x16;
        std::vector<DeblockingParams> slices(2);
        deblockPicture(t.pic, t.states, slices);
        EXPECT_EQ(t.lumaAcross(9), (std::array<int, 8>{60, 61, 63, 64, 66, 68, 69, 70}));
        TwoMacroblocks lost;
        lost.states[0].sliceNum = -1;
        deblockPicture(lost.pic, lost.states, slices);
        EXPECT_EQ(lost.lumaAcross(9), unfiltered);
    }
}

} // namespace
} // namespace kestrune::codec
