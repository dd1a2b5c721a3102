#include "tools/bitstream/access_unit.h"
#include "tools/bitstream/annexb_reader.h"
#include "tools/bitstream/nal_parser.h"
#include "tests/tools/bitstream/stream_builder.h"

#include <gtest/gtest.h>

using namespace kestrune::h264;
namespace t = kestrune::h264::testing;

namespace {

// Returns, for each NAL unit of the stream, whether it starts an access unit.
std::vector<bool> boundaries(const std::vector<std::vector<std::uint8_t>>& units)
{
    NalParser parser;
    AccessUnitDetector detector;
    std::vector<bool> starts;
    for (const auto& u : units) {
        const ParsedNal p = parser.parse(u);
        starts.push_back(detector.startsAccessUnit(p.header, p.slice ? &*p.slice : nullptr, parser.parameterSets()));
    }
    return starts;
}

struct Fixture {
    t::SpsFields sps;
    t::PpsFields pps;
    std::vector<std::uint8_t> spsNal() const { return t::nal(3, NalSps, t::spsRbsp(sps)); }
    std::vector<std::uint8_t> ppsNal() const { return t::nal(3, NalPps, t::ppsRbsp(pps)); }
    std::vector<std::uint8_t> slice(int firstMb, int type, int frameNum, int pocLsb, bool idr = false, int refIdc = 2,
                                    int idrPicId = 0) const
    {
        t::SliceFields s;
        s.first_mb = firstMb;
        s.slice_type = type;
        s.frame_num = frameNum;
        s.poc_lsb = pocLsb;
        s.idr_pic_id = idrPicId;
        return t::nal(refIdc, idr ? NalIdrSlice : NalSlice, t::sliceRbsp(s, sps, pps, idr, refIdc));
    }
};

} // namespace

TEST(AccessUnitDetector, ParameterSetsAndSeiStartTheAccessUnitTheirSliceJoins)
{
    Fixture f;
    const std::vector<std::uint8_t> sei{0x06, 0x05, 0x01, 0x00, 0x80};
    const auto starts = boundaries({f.spsNal(), f.ppsNal(), sei, f.slice(0, 7, 0, 0, true), f.slice(50, 7, 0, 0, true),
                                    sei, f.slice(0, 5, 1, 4), f.slice(50, 5, 1, 4)});
    EXPECT_EQ(starts, (std::vector<bool>{true, false, false, false, false, true, false, false}));
}

TEST(AccessUnitDetector, EachPictureDifferenceStartsANewPicture)
{
    Fixture f;
    const auto first = f.slice(0, 5, 1, 4);
    EXPECT_EQ(boundaries({f.spsNal(), f.ppsNal(), first, f.slice(0, 5, 2, 4)}).back(), true);   // frame_num
    EXPECT_EQ(boundaries({f.spsNal(), f.ppsNal(), first, f.slice(0, 5, 1, 8)}).back(), true);   // POC lsb
    EXPECT_EQ(boundaries({f.spsNal(), f.ppsNal(), first, f.slice(0, 5, 1, 4, false, 0)}).back(), true);  // ref idc 0
    EXPECT_EQ(boundaries({f.spsNal(), f.ppsNal(), first, f.slice(0, 7, 0, 4, true)}).back(), true);  // IdrPicFlag
    EXPECT_EQ(boundaries({f.spsNal(), f.ppsNal(), f.slice(0, 7, 0, 0, true, 3, 1), f.slice(0, 7, 0, 0, true, 3, 2)}).back(),
              true);  // idr_pic_id
    // nal_ref_idc differing with neither zero, and a second slice: same picture.
    EXPECT_EQ(boundaries({f.spsNal(), f.ppsNal(), first, f.slice(20, 5, 1, 4, false, 1)}).back(), false);
    // A lost first slice: the remaining slices still join one picture per frame.
    EXPECT_EQ(boundaries({f.spsNal(), f.ppsNal(), first, f.slice(30, 5, 1, 4), f.slice(30, 5, 2, 8)}),
              (std::vector<bool>{true, false, false, false, true}));
}

TEST(AccessUnitDetector, SlicesWithoutTheirPpsFallBackToFirstMbAndPpsId)
{
    Fixture f;
    // No SPS/PPS at all (lost): a slice with first_mb_in_slice 0 begins a picture.
    EXPECT_EQ(boundaries({f.slice(0, 5, 1, 4), f.slice(40, 5, 1, 4), f.slice(0, 5, 2, 8)}),
              (std::vector<bool>{true, false, true}));
    // A P picture, then a PPS (its SPS lost) and an IDR picture whose first
    // slice was lost: the IDR slices are one picture, though one starts where
    // a slice of the P picture did.
    EXPECT_EQ(boundaries({f.slice(0, 5, 9, 4), f.slice(55, 5, 9, 4), f.ppsNal(), f.slice(22, 7, 0, 0, true),
                          f.slice(55, 7, 0, 0, true)}),
              (std::vector<bool>{true, false, true, false, false}));
    // IdrPicFlag alone parts an IDR picture from the P picture before it.
    EXPECT_EQ(boundaries({f.slice(0, 5, 9, 4), f.slice(55, 5, 9, 4), f.slice(22, 7, 0, 0, true), f.slice(77, 7, 0, 0, true)}),
              (std::vector<bool>{true, false, true, false}));
}

TEST(AccessUnitDetector, DelimiterAlwaysStartsAndEndOfSequenceNeverDoes)
{
    Fixture f;
    const std::vector<std::uint8_t> aud{0x09, 0xF0};
    const std::vector<std::uint8_t> eos{0x0A};
    EXPECT_EQ(boundaries({aud, f.spsNal(), f.ppsNal(), f.slice(0, 7, 0, 0, true), eos, aud, f.slice(0, 7, 0, 0, true, 3, 1)}),
              (std::vector<bool>{true, false, false, false, false, true, false}));
}

TEST(AccessUnitDetector, WorksOnAStreamReadFromAnnexB)
{
    Fixture f;
    const auto stream = t::annexB({f.spsNal(), f.ppsNal(), f.slice(0, 7, 0, 0, true), f.slice(0, 5, 1, 2),
                                   f.slice(50, 5, 1, 2), f.slice(0, 6, 2, 4, false, 0)}, {4, 3});
    AnnexBReader reader(stream);
    NalParser parser;
    AccessUnitDetector detector;
    NalUnit unit;
    int accessUnits = 0;
    while (reader.next(unit)) {
        const ParsedNal p = parser.parse(unit.bytes);
        ASSERT_TRUE(p.status.ok()) << p.status.message;
        accessUnits += detector.startsAccessUnit(p.header, p.slice ? &*p.slice : nullptr, parser.parameterSets());
    }
    EXPECT_EQ(accessUnits, 3);
}

TEST(AccessUnitDetector, TheTwoFieldsOfAFrameAreTwoAccessUnits)
{
    Fixture f;
    f.sps.frame_mbs_only = false;
    f.sps.height_map_units = 5;
    auto field = [&](bool bottom, int firstMb) {
        t::SliceFields s;
        s.slice_type = 5;
        s.frame_num = 1;
        s.poc_lsb = 2;
        s.field = true;
        s.bottom = bottom;
        s.first_mb = firstMb;
        return t::nal(2, NalSlice, t::sliceRbsp(s, f.sps, f.pps, false, 2));
    };
    EXPECT_EQ(boundaries({f.spsNal(), f.ppsNal(), field(false, 0), field(false, 30), field(true, 0), field(true, 30)}),
              (std::vector<bool>{true, false, false, false, true, false}));
}

// After losses two pictures can carry identical header fields (a small
// MaxFrameNum wrapped within the loss, POC type 2): a slice starting where the
// current picture already has one, or before its last slice, starts the next.
// With the PPS lost, frame_num read with the only SPS still separates pictures.
TEST(AccessUnitDetector, ARepeatedSliceStartOrFrameNumBeginsAPictureWhateverTheOtherFieldsSay)
{
    Fixture f;
    f.sps.poc_type = 2;
    const auto same = [&](int firstMb) { return f.slice(firstMb, 5, 3, 0); };
    EXPECT_EQ(boundaries({f.spsNal(), f.ppsNal(), same(0), same(22), same(0), same(22)}),
              (std::vector<bool>{true, false, false, false, true, false}));
    EXPECT_EQ(boundaries({f.spsNal(), f.ppsNal(), same(55), same(0), same(77), same(22), same(55)}),
              (std::vector<bool>{true, false, false, false, false, false, true}))
        << "slices in any order stay one picture (Baseline's arbitrary slice order)";

    // The PPS never arrived: nothing but frame_num tells the two pictures apart.
    Fixture lost;
    lost.sps.poc_type = 2;
    const auto slice = [&](int firstMb, int frameNum) { return lost.slice(firstMb, 5, frameNum, 0); };
    EXPECT_EQ(boundaries({lost.spsNal(), slice(22, 3), slice(55, 3), slice(44, 4), slice(66, 4)}),
              (std::vector<bool>{true, false, false, true, false}));
}
