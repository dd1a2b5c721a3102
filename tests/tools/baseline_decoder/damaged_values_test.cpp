// Streams with one header or slice value changed to what only damage
// produces: the decoder refuses exactly the slice or picture that carries it,
// and (in the sanitizer build) computes nothing undefined on the way.
#include "tests/tools/baseline_decoder/damage.h"
#include "tests/tools/baseline_decoder/slice_group_stream.h"
#include "tools/baseline_decoder/baseline_decoder.h"
#include "tools/bitstream/bit_writer.h"
#include "tools/bitstream/header_writer.h"
#include "tools/bitstream/nal_parser.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace kestrune;
using namespace kestrune::codec;
using namespace kestrune::codec::testing;

namespace {

struct Decoded {
    std::vector<std::uint8_t> samples;  // every picture's planes, uncropped
    int macroblocksWritten = 0;
    BaselineDecoderCounts counts;
    std::string unsupported;
    std::string lastError;
};

Decoded decode(const std::vector<std::uint8_t>& stream)
{
    Decoded out;
    BaselineDecoder decoder([&](DecodedPicture& p) {
        out.macroblocksWritten += p.macroblocksWritten;
        for (int plane = 0; plane < 3; ++plane) {
            const ConstPlaneView v = static_cast<const Picture*>(p.picture)->plane(plane);
            for (int y = 0; y < v.height; ++y) out.samples.insert(out.samples.end(), v.row(y), v.row(y) + v.width);
        }
    });
    decodeAnnexB(stream, decoder);
    out.counts = decoder.counts();
    out.unsupported = decoder.unsupported();
    out.lastError = decoder.lastError();
    return out;
}

// The stream with each slice header passed through change(slice index, header).
std::vector<std::uint8_t> withSliceHeaders(const std::vector<std::uint8_t>& stream,
                                           const std::function<void(int, h264::SliceHeader&)>& change)
{
    h264::NalParser parser;
    auto nals = splitNalUnits(stream);
    int slice = 0;
    for (auto& nal : nals) {
        const h264::ParsedNal parsed = parser.parse(nal);
        if (!parsed.slice) continue;
        h264::SliceHeader header = *parsed.slice;
        change(slice++, header);
        const h264::Pps& pps = *parser.parameterSets().findPps(header.pic_parameter_set_id);
        nal = h264::rewriteSliceHeader(nal, *parsed.slice, header, *parser.parameterSets().findSps(pps.seq_parameter_set_id),
                                       pps);
    }
    return joinNalUnits(nals);
}

} // namespace

// difference_of_pic_nums_minus1 was accepted up to 2^32 - 2 and then
// subtracted in 32 bits; now the reader bounds it by MaxPicNum.
TEST(DamagedValues, MarkingBeyondMaxPicNumBreaksItsSlice)
{
    SliceGroupStreamSettings s;
    s.groups = 1;
    s.refs = 2;
    s.frames = 4;
    s.memoryManagement = true;  // picture 2 unmarks a frame
    const auto stream = makeSliceGroupStream(s).bytes;
    ASSERT_EQ(decode(stream).counts.slicesBroken, 0);
    // MaxPicNum is 65536 here.
    for (std::uint32_t difference : {65536u, 0x80000000u, 0xFFFFFFFEu}) {
        const Decoded damaged = decode(withSliceHeaders(stream, [&](int, h264::SliceHeader& h) {
            for (auto& op : h.mmcos) op.difference_of_pic_nums_minus1 = difference;
        }));
        EXPECT_EQ(damaged.counts.slicesBroken, 1) << difference;
        EXPECT_NE(damaged.lastError.find("difference_of_pic_nums_minus1"), std::string::npos) << damaged.lastError;
    }
}

// The standard fixes slice_group_change_cycle per picture: a later slice that
// says otherwise is decoded with the picture's map, as if undamaged.
TEST(DamagedValues, SliceGroupChangeCycleIsThePicturesFirstSlices)
{
    for (int mapType : {3, 4, 5}) {
        SliceGroupStreamSettings s;
        s.mapType = mapType;
        s.groups = 2;
        s.frames = 4;
        s.changeRateMinus1 = 2;
        const auto stream = makeSliceGroupStream(s).bytes;
        const Decoded plain = decode(stream);
        const Decoded damaged = decode(withSliceHeaders(stream, [](int slice, h264::SliceHeader& h) {
            if (slice % 2 == 1) h.slice_group_change_cycle = h.slice_group_change_cycle == 0 ? 5 : 0;
        }));
        EXPECT_EQ(damaged.counts.slicesBroken, 0) << mapType << ": " << damaged.lastError;
        EXPECT_TRUE(damaged.samples == plain.samples) << "map type " << mapType;
    }
}

// A PPS whose second chroma QP offset differs is outside Baseline; an equal
// one written out explicitly is not.
TEST(DamagedValues, ASecondChromaQpOffsetIsOutsideBaseline)
{
    SliceGroupStreamSettings s;
    s.frames = 2;
    auto nals = splitNalUnits(makeSliceGroupStream(s).bytes);
    h264::NalParser parser;
    parser.parse(nals[0]);
    h264::Pps pps = *parser.parse(nals[1]).pps;
    pps.extensionPresent = true;
    for (int second : {pps.chroma_qp_index_offset, pps.chroma_qp_index_offset + 3}) {
        pps.second_chroma_qp_index_offset = second;
        nals[1] = h264::ppsNalUnit(pps, nullptr);
        const Decoded d = decode(joinNalUnits(nals));
        if (second == pps.chroma_qp_index_offset) {
            EXPECT_EQ(d.unsupported, "");
            EXPECT_EQ(d.counts.pictures, 2);
        } else {
            EXPECT_NE(d.unsupported.find("second_chroma_qp_index_offset"), std::string::npos) << d.unsupported;
        }
    }
}

// A P picture of two P_L0_16x16 macroblocks side by side in the top row and
// skipped ones after them: the second one's predictor is the first one's
// vector, so two in-range differences add up to mvp + mvd.
TEST(DamagedValues, AMotionVectorBeyondEveryLevelsRangeBreaksItsSlice)
{
    SliceGroupStreamSettings s;
    s.groups = 1;
    s.widthInMbs = 4;
    s.heightInMbs = 2;
    s.frames = 1;
    const auto idr = makeSliceGroupStream(s).bytes;
    struct Case {
        int mvdX, mvdY;
        bool broken;
    };
    // Quarter samples: horizontal -8192..8191, vertical -2048..2047.
    for (const Case c : {Case{4000, 0, false}, Case{8000, 0, true}, Case{-4100, 0, true}, Case{0, 1000, false},
                         Case{0, -1500, true}, Case{32767, 0, true}}) {
        h264::BitWriter w;
        w.ue(0);      // first_mb_in_slice
        w.ue(5);      // P
        w.ue(0);      // pic_parameter_set_id
        w.u(16, 1);   // frame_num
        w.flag(false);  // num_ref_idx_active_override_flag
        w.flag(false);  // ref_pic_list_modification_flag_l0
        w.flag(false);  // adaptive_ref_pic_marking_mode_flag
        w.se(0);        // slice_qp_delta
        w.ue(1);        // disable_deblocking_filter_idc
        for (int mb = 0; mb < 2; ++mb) {
            w.ue(0);  // mb_skip_run
            w.ue(0);  // P_L0_16x16
            w.se(c.mvdX);
            w.se(c.mvdY);
            w.ue(0);  // coded_block_pattern 0
        }
        w.ue(6);  // the rest skipped
        w.trailing();
        auto stream = idr;
        const auto nal = h264::makeNalUnit(2, 1, w.bytes());
        stream.insert(stream.end(), {0, 0, 0, 1});
        stream.insert(stream.end(), nal.begin(), nal.end());
        const Decoded d = decode(stream);
        const std::string label = std::to_string(c.mvdX) + ", " + std::to_string(c.mvdY);
        EXPECT_EQ(d.counts.pictures, 2) << label;
        EXPECT_EQ(d.counts.slicesBroken, c.broken ? 1 : 0) << label << ": " << d.lastError;
        EXPECT_EQ(d.macroblocksWritten, c.broken ? 8 : 16) << label;
        if (c.broken) {
            EXPECT_NE(d.lastError.find("motion vector"), std::string::npos) << d.lastError;
        }
    }
}
