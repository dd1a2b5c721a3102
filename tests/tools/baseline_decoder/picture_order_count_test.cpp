#include "tools/baseline_decoder/picture_order_count.h"

#include <gtest/gtest.h>

using namespace kestrune::codec;
using kestrune::h264::SliceHeader;
using kestrune::h264::Sps;

namespace {

struct Coded {
    int frameNum;
    bool reference;
    int lsb = 0;  // pic_order_cnt_lsb (type 0)
};

std::vector<int> counts(const Sps& sps, const std::vector<Coded>& pictures)
{
    PictureOrderCount poc;
    std::vector<int> out;
    bool first = true;
    for (const Coded& c : pictures) {
        SliceHeader h;
        h.frame_num = static_cast<std::uint32_t>(c.frameNum);
        h.pic_order_cnt_lsb = static_cast<std::uint32_t>(c.lsb);
        out.push_back(poc.next(sps, h, c.reference ? 2 : 0, first).value());
        poc.pictureDone(c.reference, false);
        first = false;
    }
    return out;
}

} // namespace

// Picture order counts worked out by hand from clause 8.2.1.
TEST(PictureOrderCount, TypesZeroOneAndTwo)
{
    Sps zero;
    zero.pic_order_cnt_type = 0;
    zero.log2_max_pic_order_cnt_lsb_minus4 = 0;  // MaxPicOrderCntLsb 16
    EXPECT_EQ(counts(zero, {{0, true, 0}, {1, true, 4}, {2, true, 8}, {3, true, 12}, {4, true, 0}, {5, false, 6},
                            {5, true, 2}}),
              (std::vector<int>{0, 4, 8, 12, 16, 22, 18}));

    Sps one;
    one.pic_order_cnt_type = 1;
    one.num_ref_frames_in_pic_order_cnt_cycle = 2;
    one.offset_for_ref_frame = {4, 2};
    one.offset_for_non_ref_pic = -3;
    one.log2_max_frame_num_minus4 = 0;  // MaxFrameNum 16
    // absFrameNum 0, 1, 2, 3; a non-reference picture counts one less, then
    // offset_for_non_ref_pic; frame_num 15 -> 0 adds MaxFrameNum.
    EXPECT_EQ(counts(one, {{0, true}, {1, true}, {2, true}, {3, true}, {4, false}, {15, true}, {0, true}}),
              (std::vector<int>{0, 4, 6, 10, 7, 46, 48}));

    Sps two;
    two.pic_order_cnt_type = 2;
    two.log2_max_frame_num_minus4 = 0;
    EXPECT_EQ(counts(two, {{0, true}, {1, true}, {2, false}, {2, true}, {15, true}, {0, true}}),
              (std::vector<int>{0, 2, 3, 4, 30, 32}));
}

// Sums of 32-bit stream values are exact where the result fits in 32 bits
// (the standard's range), and refused where it does not.
TEST(PictureOrderCount, SumsBeyond32BitsAreExactOrRefused)
{
    Sps one;
    one.pic_order_cnt_type = 1;
    one.num_ref_frames_in_pic_order_cnt_cycle = 1;
    one.offset_for_ref_frame = {2147483647};
    one.offset_for_non_ref_pic = 10;
    one.log2_max_frame_num_minus4 = 0;
    PictureOrderCount poc;
    SliceHeader h;
    EXPECT_EQ(poc.next(one, h, 2, true), 0);
    poc.pictureDone(true, false);
    // expectedPicOrderCnt 2^31 - 1 plus offset_for_non_ref_pic 10 passes
    // 32 bits; delta_pic_order_cnt[0] brings it back.
    h.frame_num = 2;
    h.delta_pic_order_cnt[0] = -20;
    EXPECT_EQ(poc.next(one, h, 0, false), 2147483637);
    poc.pictureDone(false, false);
    // Two whole cycles: 2 * (2^31 - 1).
    h.delta_pic_order_cnt[0] = 0;
    EXPECT_EQ(poc.next(one, h, 2, false), std::nullopt);

    Sps zero;
    zero.pic_order_cnt_type = 0;
    h = SliceHeader{};
    h.pic_order_cnt_lsb = 4;
    h.delta_pic_order_cnt_bottom = 2147483647;  // bottom 2^31 + 3
    PictureOrderCount poc0;
    EXPECT_EQ(poc0.next(zero, h, 2, true), std::nullopt);
    h.delta_pic_order_cnt_bottom = -2147483647;
    EXPECT_EQ(poc0.next(zero, h, 2, true), -2147483643);
}

// memory_management_control_operation 5: the picture's own count becomes 0 and
// the next picture counts as after an IDR picture, for every type (without
// the operation the next count here would wrap to 18, or 34 with frame_num).
TEST(PictureOrderCount, OperationFiveRestartsTheCount)
{
    Sps zero;
    zero.pic_order_cnt_type = 0;
    zero.log2_max_pic_order_cnt_lsb_minus4 = 0;  // MaxPicOrderCntLsb 16
    Sps one;
    one.pic_order_cnt_type = 1;
    one.num_ref_frames_in_pic_order_cnt_cycle = 1;
    one.offset_for_ref_frame = {2};
    Sps two;
    two.pic_order_cnt_type = 2;
    for (const Sps* sps : {&zero, &one, &two}) {
        SCOPED_TRACE("pic_order_cnt_type " + std::to_string(sps->pic_order_cnt_type));
        PictureOrderCount poc;
        SliceHeader h;
        ASSERT_EQ(poc.next(*sps, h, 2, true), 0);
        EXPECT_EQ(poc.pictureDone(true, false), 0);
        const int perPicture = sps->pic_order_cnt_type == 0 ? 6 : 2;
        h.frame_num = 1;
        h.pic_order_cnt_lsb = 6;
        ASSERT_EQ(poc.next(*sps, h, 2, false), perPicture);
        EXPECT_EQ(poc.pictureDone(true, false), perPicture);
        h.frame_num = 2;
        h.pic_order_cnt_lsb = 12;
        ASSERT_EQ(poc.next(*sps, h, 2, false), 2 * perPicture);
        EXPECT_EQ(poc.pictureDone(true, true), 0);
        h.frame_num = 1;
        h.pic_order_cnt_lsb = 2;
        EXPECT_EQ(poc.next(*sps, h, 2, false), 2);
        EXPECT_EQ(poc.pictureDone(true, false), 2);
    }
}
