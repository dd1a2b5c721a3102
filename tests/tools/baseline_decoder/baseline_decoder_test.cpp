#include "tests/tools/baseline_decoder/damage.h"
#include "tests/tools/baseline_decoder/oracle_stream.h"
#include "tests/tools/baseline_decoder/slice_group_stream.h"
#include "tools/baseline_decoder/baseline_decoder.h"
#include "tools/bitstream/nal_parser.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <sstream>
#include <string>

using namespace kestrune::codec;
using namespace kestrune::codec::testing;
using kestrune::testing::encodeX264Stream;
using kestrune::testing::X264StreamOptions;

namespace {

struct OurDecode {
    std::vector<std::uint8_t> yuv;
    int pictures = 0;
    long long macroblocksMissing = 0;
    BaselineDecoderCounts counts;
    std::string unsupported;
    std::string lastError;
};

OurDecode decodeOurs(std::span<const std::uint8_t> stream)
{
    OurDecode out;
    BaselineDecoder decoder([&](DecodedPicture& p) {
        ++out.pictures;
        out.macroblocksMissing += p.picture->mbCount() - p.macroblocksWritten;
        for (int plane = 0; plane < 3; ++plane) {
            const int shift = plane ? 1 : 0;
            const ConstPlaneView v = static_cast<const Picture*>(p.picture)->plane(plane);
            for (int y = 0; y < p.height >> shift; ++y) {
                const std::uint8_t* row = v.row((p.cropTop >> shift) + y) + (p.cropLeft >> shift);
                out.yuv.insert(out.yuv.end(), row, row + (p.width >> shift));
            }
        }
    });
    decodeAnnexB(stream, decoder);
    out.counts = decoder.counts();
    out.unsupported = decoder.unsupported();
    out.lastError = decoder.lastError();
    return out;
}

// Where two decodes first differ, for the failure message.
std::string firstDifference(const std::vector<std::uint8_t>& ours, const std::vector<std::uint8_t>& theirs, int width,
                            int height)
{
    const std::size_t frame = static_cast<std::size_t>(width) * height * 3 / 2;
    std::ostringstream s;
    s << "ours " << ours.size() / frame << " frames, libavcodec " << theirs.size() / frame;
    for (std::size_t i = 0; i < std::min(ours.size(), theirs.size()); ++i) {
        if (ours[i] != theirs[i]) {
            const std::size_t f = i / frame;
            std::size_t o = i % frame;
            const char* plane = "Y";
            int w = width;
            if (o >= static_cast<std::size_t>(width) * height) {
                o -= static_cast<std::size_t>(width) * height;
                plane = "U";
                w = width / 2;
                if (o >= static_cast<std::size_t>(width / 2) * (height / 2)) {
                    o -= static_cast<std::size_t>(width / 2) * (height / 2);
                    plane = "V";
                }
            }
            s << "; first difference in frame " << f << " plane " << plane << " at x " << o % w << " y " << o / w
              << ": " << int(ours[i]) << " vs " << int(theirs[i]);
            break;
        }
    }
    return s.str();
}

// chroma_qp_index_offset of the stream's first picture parameter set.
int chromaQpIndexOffset(const std::vector<std::uint8_t>& stream)
{
    kestrune::h264::NalParser parser;
    for (const auto& nal : splitNalUnits(stream))
        if (const auto parsed = parser.parse(nal); parsed.pps) return parsed.pps->chroma_qp_index_offset;
    ADD_FAILURE() << "no picture parameter set";
    return 0;
}

// Returns the chroma_qp_index_offset the stream was written with.
int expectSameAsLibavcodec(const X264StreamOptions& settings, std::string label)
{
    const auto stream = encodeX264Stream(settings).bytes();
    const int chromaOffset = chromaQpIndexOffset(stream);
    label += ", chroma_qp_index_offset " + std::to_string(chromaOffset);
    const OurDecode ours = decodeOurs(stream);
    const auto theirs = decodeWithLibavcodec(stream);
    EXPECT_EQ(ours.unsupported, "") << label;
    EXPECT_EQ(ours.counts.slicesBroken, 0) << label << ": " << ours.lastError;
    EXPECT_EQ(ours.pictures, settings.frames) << label;
    EXPECT_EQ(ours.macroblocksMissing, 0) << label;
    EXPECT_TRUE(ours.yuv == theirs) << label << ": " << firstDifference(ours.yuv, theirs, settings.width, settings.height);
    return chromaOffset;
}

} // namespace

// libx264 Baseline streams over the coding tools it can choose, decoded
// bit-identically to libavcodec.
TEST(BaselineDecoderOracle, IntraPicturesMatchLibavcodec)
{
    for (int qp : {10, 26, 51}) {
        X264StreamOptions s = baselineOracleOptions();
        s.frames = 4;
        s.keyint = 1;
        s.qp = qp;
        expectSameAsLibavcodec(s, "intra qp " + std::to_string(qp));
    }
}

TEST(BaselineDecoderOracle, CodingToolsMatchLibavcodec)
{
    struct Case {
        const char* label;
        X264StreamOptions s;
    };
    std::vector<Case> cases;
    for (int me = 0; me <= 3; ++me) {
        X264StreamOptions s = baselineOracleOptions();
        s.motionSearch = me;
        s.frames = 40;
        s.firstPicture = 10 * me;
        s.refs = 4;
        s.slices = 3;
        s.qp = 20 + me * 6;
        cases.push_back({"each --me, 4 refs, 3 slices", s});
    }
    for (int qp : {10, 18, 34, 42, 51}) {
        X264StreamOptions s = baselineOracleOptions();
        s.qp = qp;
        s.refs = 2;
        s.frames = 12;
        cases.push_back({"qp sweep", s});
    }
    {
        X264StreamOptions s = baselineOracleOptions();
        s.width = 200;
        s.height = 120;
        s.refs = 4;
        s.slices = 4;
        s.keyint = 10;
        s.frames = 25;
        cases.push_back({"200x120 cropped, IDR every 10", s});
    }
    {
        X264StreamOptions s = baselineOracleOptions();
        s.allPartitions = false;
        s.deblockAlpha = 3;
        s.deblockBeta = -2;
        s.constrainedIntra = true;
        s.slices = 2;
        cases.push_back({"no partitions, deblocking offsets, constrained intra", s});
    }
    // QPc clipped at both ends of Table 8-15, in scaling and in the chroma
    // deblocking thresholds. libx264 writes the offset lowered by 2 (its
    // psychovisual tuning), hence the odd values asked for.
    for (int offset : {-12, -1, 7, 14})
        for (int qp : {10, 24, 38, 51}) {
            X264StreamOptions s = baselineOracleOptions();
            s.chromaQpOffset = offset;
            s.qp = qp;
            s.frames = 8;
            s.refs = 2;
            s.slices = 2;
            s.firstPicture = qp;
            cases.push_back({"chroma QP offset", s});
        }
    {
        X264StreamOptions s = baselineOracleOptions();
        s.deblock = false;
        s.width = 352;
        s.height = 288;
        s.frames = 8;
        s.refs = 3;
        cases.push_back({"CIF without deblocking", s});
    }
    std::set<int> chromaOffsets;
    for (const Case& c : cases)
        chromaOffsets.insert(expectSameAsLibavcodec(c.s, std::string(c.label) + " qp " + std::to_string(*c.s.qp)));
    // The offsets reached the streams: both ends of the range and some between.
    EXPECT_TRUE(chromaOffsets.contains(-12) && chromaOffsets.contains(12) && chromaOffsets.size() >= 4)
        << "chroma_qp_index_offset values written: " << chromaOffsets.size();
}

// Slice-group streams of map types 0 and 1 (the ones OpenH264 decodes),
// 2 to 8 groups, slices in and out of order. Deblocking off, and on within
// slices (idc 2): OpenH264 filters each slice as it arrives, so with idc 0
// the edges between slice groups are filtered in slice order rather than
// in macroblock address order (clause 8.7) and its pictures differ by the
// order of the filters; libavcodec checks idc 0 across slice edges on
// raster slices.
TEST(BaselineDecoderOracle, SliceGroupsMatchOpenH264)
{
    int run = 0;
    for (int mapType : {0, 1}) {
        for (int groups : {2, 3, 4, 8}) {
            SliceGroupStreamSettings s;
            s.mapType = mapType;
            s.groups = groups;
            s.reverseSliceOrder = groups % 2 == 1 || mapType == 0;
            s.disableDeblocking = 1 + run % 2;
            s.qp = 20 + 4 * (run % 6);
            s.seed = static_cast<unsigned>(run + 1);
            ++run;
            const auto stream = makeSliceGroupStream(s);
            const OurDecode ours = decodeOurs(stream.bytes);
            const std::string label = "map type " + std::to_string(mapType) + ", " + std::to_string(groups) + " groups";
            EXPECT_EQ(ours.counts.slicesBroken, 0) << label << ": " << ours.lastError;
            EXPECT_EQ(ours.macroblocksMissing, 0) << label;
            const auto theirs = decodeWithOpenH264(stream.accessUnits);
            EXPECT_TRUE(ours.yuv == theirs) << label << ": "
                                            << firstDifference(ours.yuv, theirs, s.widthInMbs * 16, s.heightInMbs * 16);
        }
    }
}

// Map types 2-6 have no independent decoder here (their maps are checked in
// the core's tests): every slice decodes and every macroblock is written,
// including types 3-5 whose group 0 changes size from picture to picture.
TEST(BaselineDecoder, EverySliceGroupMapTypeDecodes)
{
    for (int mapType = 2; mapType <= 6; ++mapType) {
        for (bool direction : {false, true}) {
            SliceGroupStreamSettings s;
            s.mapType = mapType;
            s.groups = mapType >= 3 && mapType <= 5 ? 2 : 3;
            s.changeDirection = direction;
            s.reverseSliceOrder = direction;
            const auto stream = makeSliceGroupStream(s);
            const OurDecode ours = decodeOurs(stream.bytes);
            const std::string label = "map type " + std::to_string(mapType);
            EXPECT_EQ(ours.unsupported, "") << label;
            EXPECT_EQ(ours.pictures, s.frames) << label;
            EXPECT_EQ(ours.counts.slicesBroken, 0) << label << ": " << ours.lastError;
            EXPECT_EQ(ours.macroblocksMissing, 0) << label;
        }
    }
}

// Redundant slices are skipped while their primary slice arrived and stand
// in for it when it did not: with every copy the pictures are the same as
// without, and dropping primary slices changes nothing either.
TEST(BaselineDecoder, RedundantSlicesReplaceLostPrimarySlices)
{
    SliceGroupStreamSettings s;
    s.groups = 3;
    s.frames = 5;
    const OurDecode plain = decodeOurs(makeSliceGroupStream(s).bytes);
    s.redundantSlices = true;
    const auto withCopies = makeSliceGroupStream(s);
    const OurDecode all = decodeOurs(withCopies.bytes);
    EXPECT_EQ(all.yuv, plain.yuv);
    EXPECT_EQ(all.counts.redundantSlicesUsed, 0);
    EXPECT_EQ(all.counts.redundantSlicesSkipped, 3 * 5);

    // Drop the primary slice of group 1 in pictures 0, 2 and 4 (NAL units:
    // SPS, PPS, then primary and redundant copy per group).
    auto nals = splitNalUnits(withCopies.bytes);
    std::vector<std::vector<std::uint8_t>> kept;
    for (std::size_t i = 0; i < nals.size(); ++i) {
        const bool slice = i >= 2;
        const std::size_t picture = slice ? (i - 2) / 6 : 0, within = slice ? (i - 2) % 6 : 0;
        if (slice && picture % 2 == 0 && within == 2) continue;
        kept.push_back(nals[i]);
    }
    const OurDecode lossy = decodeOurs(joinNalUnits(kept));
    EXPECT_EQ(lossy.counts.redundantSlicesUsed, 3);
    EXPECT_EQ(lossy.macroblocksMissing, 0);
    EXPECT_EQ(lossy.yuv, plain.yuv);
}

// A short run of bench/damaged_streams.sh: damaged slice-group streams of
// every map type decode without a fault, every picture handed out once.
TEST(BaselineDecoder, DamagedStreamsDecodeWithoutFault)
{
    std::mt19937 rng(5);
    std::vector<std::vector<std::uint8_t>> sources;
    SliceGroupStreamSettings s;
    s.frames = 4;
    for (int type = 0; type <= 6; ++type) {
        s.mapType = type;
        s.groups = type >= 3 && type <= 5 ? 2 : 2 + type % 3;
        sources.push_back(makeSliceGroupStream(s).bytes);
    }
    int broken = 0;
    for (int n = 0; n < 140; ++n) {
        auto nals = splitNalUnits(sources[static_cast<std::size_t>(n) % sources.size()]);
        damageStream(nals, rng);
        const OurDecode ours = decodeOurs(joinNalUnits(nals));
        EXPECT_EQ(ours.pictures, ours.counts.pictures);
        EXPECT_LE(ours.pictures, 2 * s.frames);  // duplicated NAL units may start a picture again
        broken += ours.counts.slicesBroken;
    }
    EXPECT_GT(broken, 0);  // the damage reached the slice data
}

// Several reference frames picked at random per macroblock, list
// modification and memory management (unmarking, long-term frames): without
// slice groups against libavcodec, with dispersed groups against OpenH264.
TEST(BaselineDecoderOracle, ReferenceListsAndMarkingMatchIndependentDecoders)
{
    for (int refs : {2, 4}) {
        SliceGroupStreamSettings s;
        s.groups = 1;
        s.frames = 24;
        s.refs = refs;
        s.reorder = true;
        s.memoryManagement = true;
        s.seed = static_cast<unsigned>(refs);
        const auto stream = makeSliceGroupStream(s);
        const OurDecode ours = decodeOurs(stream.bytes);
        const std::string label = std::to_string(refs) + " references";
        EXPECT_EQ(ours.counts.slicesBroken, 0) << label << ": " << ours.lastError;
        const auto theirs = decodeWithLibavcodec(stream.bytes);
        EXPECT_TRUE(ours.yuv == theirs) << label << ": "
                                        << firstDifference(ours.yuv, theirs, s.widthInMbs * 16, s.heightInMbs * 16);

        s.groups = 3;
        s.disableDeblocking = 1;
        const auto grouped = makeSliceGroupStream(s);
        const OurDecode oursGrouped = decodeOurs(grouped.bytes);
        EXPECT_EQ(oursGrouped.counts.slicesBroken, 0) << label << ": " << oursGrouped.lastError;
        const auto openh264 = decodeWithOpenH264(grouped.accessUnits);
        EXPECT_TRUE(oursGrouped.yuv == openh264)
            << label << ", 3 groups: " << firstDifference(oursGrouped.yuv, openh264, s.widthInMbs * 16, s.heightInMbs * 16);
    }
}
