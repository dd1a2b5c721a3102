// The deblocking filter (clause 8.7) on hand-made edges, values worked out
// by hand from the standard's equations.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "tools/codec/deblocking.h"

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
    filterEdge(s.data() + 4, 1, 8, bs, indexA, indexB, chroma);
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

TEST(DeblockingTest, BoundaryStrength)
{
    MacroblockState intra, p, q;
    intra.sliceNum = p.sliceNum = q.sliceNum = 0;
    intra.mbType = MbType::I4x4;
    p.mbType = q.mbType = MbType::P16x16;
    p.refIdx = q.refIdx = {0, 0, 0, 0};
    p.refPicId = q.refPicId = {7, 7, 7, 7};
    EXPECT_EQ(boundaryStrength(intra, 5, q, 0, true), 4);
    EXPECT_EQ(boundaryStrength(q, 5, intra, 0, false), 3);
    EXPECT_EQ(boundaryStrength(p, 5, q, 0, true), 0);
    q.totalCoeff[0] = 1;
    EXPECT_EQ(boundaryStrength(p, 5, q, 0, true), 2);
    EXPECT_EQ(boundaryStrength(p, 5, q, 1, true), 0);
    q.mv[1] = {3, -3};
    EXPECT_EQ(boundaryStrength(p, 5, q, 1, true), 0);
    q.mv[1] = {3, -4};
    EXPECT_EQ(boundaryStrength(p, 5, q, 1, true), 1);
    q.mv[1] = {};
    q.refPicId[0] = 8;  // same refIdx, other picture
    EXPECT_EQ(boundaryStrength(p, 5, q, 1, true), 1);
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
