#include "tools/decode/access_unit.h"

#include <gtest/gtest.h>

using namespace kestrune::decode;

namespace {
AccessUnit picture(int frameNum, bool idr = false, bool reference = true)
{
    AccessUnit unit;
    unit.hasSlices = true;
    unit.idr = idr;
    unit.reference = reference;
    unit.frameNum = frameNum;
    unit.maxFrameNum = 16;
    unit.type = idr ? PictureType::I : PictureType::P;
    return unit;
}
} // namespace

TEST(FrameNumGaps, CountsLostReferencePictures)
{
    FrameNumTracker t;
    EXPECT_EQ(t.missingBefore(picture(0, true)), 0);
    EXPECT_EQ(t.missingBefore(picture(1)), 0);
    EXPECT_EQ(t.missingBefore(picture(4)), 2);
    EXPECT_EQ(t.missingBefore(picture(5)), 0);
    // Wrapping past MaxFrameNum.
    for (int n = 6; n < 16; ++n) EXPECT_EQ(t.missingBefore(picture(n)), 0);
    EXPECT_EQ(t.missingBefore(picture(1)), 1);
    // Non-reference pictures share the next frame_num and leave no gap.
    EXPECT_EQ(t.missingBefore(picture(2, false, false)), 0);
    EXPECT_EQ(t.missingBefore(picture(2, false, false)), 0);
    EXPECT_EQ(t.missingBefore(picture(2)), 0);
    // Units without slices are ignored.
    AccessUnit parameters;
    EXPECT_EQ(t.missingBefore(parameters), 0);
}

TEST(FrameNumGaps, ALostIdrIsTakenWhenTheGopLengthSaysOneWasDue)
{
    FrameNumTracker t;
    // Two GOPs of 10 pictures establish the IDR spacing.
    for (int gop = 0; gop < 2; ++gop) {
        EXPECT_EQ(t.missingBefore(picture(0, true)), 0);
        for (int n = 1; n <= 9; ++n) EXPECT_EQ(t.missingBefore(picture(n)), 0);
    }
    // The next GOP's IDR (frame_num 0) is lost: frame_num falls back to 1.
    EXPECT_EQ(t.missingBefore(picture(1)), 1);
    EXPECT_EQ(t.missingBefore(picture(2)), 0);
    // IDR and its first P lost.
    for (int n = 3; n <= 9; ++n) t.missingBefore(picture(n));
    EXPECT_EQ(t.missingBefore(picture(2)), 2);

    // The IDR and three P pictures lost while frame_num wrapped to the same value:
    // only the parameter sets that preceded the IDR tell.
    for (int n = 3; n <= 15; ++n) t.missingBefore(picture(n));
    AccessUnit afterLostIdr = picture(4);
    afterLostIdr.hasSps = true;
    EXPECT_EQ(t.missingBefore(afterLostIdr), 4);
    AccessUnit intraWithSps = picture(5);
    intraWithSps.hasSps = true;
    intraWithSps.type = PictureType::I;
    EXPECT_EQ(t.missingBefore(intraWithSps), 0) << "parameter sets before an I picture are no sign of loss";
}

TEST(FrameNumGaps, AGapAcrossTheFrameNumWrapCountsEveryLostPicture)
{
    // A long GOP: losses that straddle the wrap of a 4-bit frame_num are not a lost IDR.
    FrameNumTracker t;
    t.missingBefore(picture(0, true));
    for (int n = 1; n <= 13; ++n) t.missingBefore(picture(n));
    EXPECT_EQ(t.missingBefore(picture(2)), 4) << "14, 15, 0 and 1 lost";
    for (int n = 3; n <= 15; ++n) t.missingBefore(picture(n));
    EXPECT_EQ(t.missingBefore(picture(1)), 1) << "0 lost, nothing says an IDR was due";

    // With a known GOP of 40, the same shape far from the next IDR is still a wrap...
    FrameNumTracker known;
    known.missingBefore(picture(0, true));
    for (int n = 1; n < 40; ++n) known.missingBefore(picture(n % 16));
    known.missingBefore(picture(0, true));
    for (int n = 1; n <= 13; ++n) known.missingBefore(picture(n));
    EXPECT_EQ(known.missingBefore(picture(2)), 4);
    // ...and near it, the lost IDR explains the gap.
    for (int n = 19; n < 40; ++n) known.missingBefore(picture(n % 16));
    EXPECT_EQ(known.missingBefore(picture(2)), 2) << "IDR due at 40: IDR and its first P lost";
}

TEST(FrameNumGaps, AStreamStartingAfterItsIdr)
{
    FrameNumTracker late;
    EXPECT_EQ(late.missingBefore(picture(3)), 3);
}
