#include "tools/codec/decoded_picture_buffer.h"

#include <gtest/gtest.h>

using namespace kestrune::codec;
using kestrune::h264::MemoryManagementOperation;
using kestrune::h264::RefPicListModification;
using kestrune::h264::SliceHeader;

namespace {

// Marks frame_num n as a reference picture with id 100 + n (sliding window).
void addReference(DecodedPictureBuffer& dpb, int frameNum, const SliceHeader& header = {})
{
    bool mmco5 = false;
    EXPECT_TRUE(dpb.markCurrent(100 + frameNum, frameNum, false, header, mmco5));
}

MemoryManagementOperation op(int type, int value, int second = 0)
{
    MemoryManagementOperation m;
    m.memory_management_control_operation = static_cast<std::uint32_t>(type);
    m.difference_of_pic_nums_minus1 = static_cast<std::uint32_t>(value);
    m.long_term_pic_num = static_cast<std::uint32_t>(value);
    m.max_long_term_frame_idx_plus1 = static_cast<std::uint32_t>(value);
    m.long_term_frame_idx = static_cast<std::uint32_t>(type == 3 ? second : value);
    return m;
}

} // namespace

// Lists and markings worked out by hand from clauses 8.2.4 and 8.2.5.
TEST(DecodedPictureBuffer, SlidingWindowAndWrappedFrameNums)
{
    DecodedPictureBuffer dpb;
    dpb.configure(3, 16);
    bool mmco5 = false;
    dpb.markCurrent(100, 0, true, {}, mmco5);
    for (int n = 1; n <= 4; ++n) addReference(dpb, n);
    EXPECT_EQ(dpb.initialList(5, 3), (std::vector<int>{104, 103, 102}));
    EXPECT_EQ(dpb.initialList(5, 4), (std::vector<int>{104, 103, 102, -1}));
    EXPECT_EQ(dpb.initialList(5, 1), (std::vector<int>{104}));

    // frame_num 14, 15, 0 before frame 1: PicNums -2, -1, 0.
    DecodedPictureBuffer wrap;
    wrap.configure(3, 16);
    for (int n : {13, 14, 15, 0}) addReference(wrap, n);
    EXPECT_EQ(wrap.initialList(1, 3), (std::vector<int>{100, 115, 114}));
}

TEST(DecodedPictureBuffer, ListModification)
{
    DecodedPictureBuffer dpb;
    dpb.configure(4, 16);
    for (int n = 1; n <= 4; ++n) addReference(dpb, n);
    std::vector<int> list = dpb.initialList(5, 3);  // 104 103 102
    // picNum 5 - 3 = 2 first, then 2 + 1 = 3.
    ASSERT_TRUE(dpb.modifyList(list, 5, {{0, 2}, {1, 0}, {3, 0}}));
    EXPECT_EQ(list, (std::vector<int>{102, 103, 104}));
    // A picture that is not a reference: broken.
    std::vector<int> other = dpb.initialList(5, 3);
    EXPECT_FALSE(dpb.modifyList(other, 5, {{0, 9}}));
}

TEST(DecodedPictureBuffer, MemoryManagementOperations)
{
    DecodedPictureBuffer dpb;
    dpb.configure(4, 16);
    for (int n = 2; n <= 4; ++n) addReference(dpb, n);
    SliceHeader h;
    h.adaptive_ref_pic_marking_mode_flag = true;
    // Long-term indices 0..1; picNum 2 becomes long-term 1; picNum 4 unmarked.
    h.mmcos = {op(4, 2), op(3, 2, 1), op(1, 0)};
    bool mmco5 = false;
    ASSERT_TRUE(dpb.markCurrent(105, 5, false, h, mmco5));
    EXPECT_EQ(dpb.initialList(6, 4), (std::vector<int>{105, 103, 102, -1}));
    // The current picture as long-term 0 goes after the short-term ones, before long-term 1.
    h.mmcos = {op(6, 0)};
    ASSERT_TRUE(dpb.markCurrent(106, 6, false, h, mmco5));
    EXPECT_EQ(dpb.initialList(7, 4), (std::vector<int>{105, 103, 106, 102}));
    // Long-term picture 1 unmarked; a long-term modification finds 0.
    h.mmcos = {op(2, 1)};
    ASSERT_TRUE(dpb.markCurrent(107, 7, false, h, mmco5));
    std::vector<int> list = dpb.initialList(8, 3);
    ASSERT_TRUE(dpb.modifyList(list, 8, {{2, 0}}));
    EXPECT_EQ(list, (std::vector<int>{106, 107, 105}));
    // Naming a frame that is gone is reported; MMCO 5 empties the buffer.
    h.mmcos = {op(1, 5), op(5, 0)};
    EXPECT_FALSE(dpb.markCurrent(108, 8, false, h, mmco5));
    EXPECT_TRUE(mmco5);
    EXPECT_EQ(dpb.initialList(1, 2), (std::vector<int>{108, -1}));
}

TEST(DecodedPictureBuffer, FrameNumGapInfersFrames)
{
    DecodedPictureBuffer dpb;
    dpb.configure(2, 16);
    for (int n = 2; n <= 3; ++n) addReference(dpb, n);
    int next = 200;
    // frame_num 3 -> 7: frames 4, 5, 6 inferred; two fit.
    const auto ids = dpb.fillFrameNumGap(3, 7, [&] { return next++; });
    EXPECT_EQ(ids, (std::vector<int>{201, 202}));
    EXPECT_EQ(dpb.initialList(7, 2), (std::vector<int>{202, 201}));
    EXPECT_TRUE(dpb.fillFrameNumGap(6, 7, [&] { return next++; }).empty());
    // Across the wrap: 14 -> 1 infers 15 and 0.
    const auto wrapped = dpb.fillFrameNumGap(14, 1, [&] { return next++; });
    EXPECT_EQ(wrapped.size(), 2u);
    EXPECT_EQ(dpb.initialList(1, 2), (std::vector<int>{wrapped[1], wrapped[0]}));
}
