#include "tests/support/x264_stream.h"
#include "tests/tools/decode/test_stream.h"
#include "tools/bitstream/nal_parser.h"
#include "tools/decode/access_unit_reader.h"
#include "tools/decode/decoder.h"
#include "tools/encode/picture_numbering.h"
#include "tools/quality/frame_loss_file.h"
#include "tools/quality/quality.h"

extern "C" {
#include <libavutil/log.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

using namespace kestrune::decode;
using namespace kestrune::decode::test;

namespace {

struct Decoded {
    std::vector<std::uint8_t> yuv;
    int frames = 0;
    DecodeReport report;
};

// Decodes a whole stream; after each access unit, check(unit number, decoder) may look at the decoder.
Decoded decodeStream(const std::vector<std::uint8_t>& bytes, ConcealmentSettings settings,
                     const std::function<void(int, const ConcealingDecoder&)>& check = {})
{
    Decoded out;
    ConcealingDecoder decoder(settings, [&](std::span<const std::uint8_t> frame) {
        out.yuv.insert(out.yuv.end(), frame.begin(), frame.end());
        ++out.frames;
    });
    AccessUnitReader reader{std::span<const std::uint8_t>(bytes)};
    ReceivedPicture unit;
    int number = 0;
    while (reader.next(unit)) {
        decoder.decode(unit);
        if (check) check(number, decoder);
        ++number;
    }
    decoder.finish();
    out.report = decoder.report();
    return out;
}

std::vector<std::uint8_t> decodeWithLibavcodec(const std::vector<std::uint8_t>& bytes, int errorConcealment)
{
    std::vector<std::uint8_t> yuv;
    ReferenceDecoder decoder(errorConcealment, [&](std::span<const std::uint8_t> frame) {
        yuv.insert(yuv.end(), frame.begin(), frame.end());
    });
    AccessUnitReader reader{std::span<const std::uint8_t>(bytes)};
    ReceivedPicture unit;
    while (reader.next(unit)) decoder.decode(unit);
    decoder.finish();
    return yuv;
}

double meanLumaPsnr(const TestStream& stream, const std::vector<std::uint8_t>& yuv)
{
    const std::size_t frame = stream.frameBytes(), luma = std::size_t(stream.width * stream.height);
    const std::size_t frames = std::min(stream.yuv.size(), yuv.size()) / frame;
    double sum = 0;
    for (std::size_t i = 0; i < frames; ++i)
        sum += kestrune::quality::psnr({stream.yuv.data() + i * frame, luma}, {yuv.data() + i * frame, luma});
    return frames ? sum / double(frames) : 0;
}

class DecodeStream : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        av_log_set_level(AV_LOG_QUIET);
        sliced = new TestStream(encodeTestStream(40, 9, 20));
    }
    static void TearDownTestSuite() { delete sliced; }
    static TestStream* sliced; // 40 pictures, one slice per macroblock row, IDR at 0 and 20
};

TestStream* DecodeStream::sliced = nullptr;

} // namespace

TEST_F(DecodeStream, UndamagedStreamsDecodeBitIdenticallyToLibavcodec)
{
    std::vector<std::uint8_t> whole;
    for (const TestPicture& p : sliced->pictures)
        for (const TestNal& n : p.nals) whole.insert(whole.end(), n.bytes.begin(), n.bytes.end());
    const Decoded ours = decodeStream(whole, {});
    EXPECT_EQ(ours.frames, 40);
    EXPECT_EQ(ours.report.picturesLost, 0);
    EXPECT_EQ(ours.report.intra.lost + ours.report.inter.lost, 0);
    EXPECT_EQ(ours.report.intra.pictures, 2);
    EXPECT_TRUE(ours.yuv == decodeWithLibavcodec(whole, 3)) << "decoded pictures differ from libavcodec's";
    EXPECT_GT(meanLumaPsnr(*sliced, ours.yuv), 30);
    for (const FrameLoss& f : ours.report.frameLoss) EXPECT_EQ(f.macroblocks, std::string(99, '.'));
}

TEST_F(DecodeStream, PicturesOfAnyEvenSizeComeOutCropped)
{
    // 168x100 is coded as 11x7 macroblocks; the output keeps the cropped size.
    const TestStream odd = encodeTestStream(6, 2, 6, Content::Sample, 168, 100);
    std::vector<std::uint8_t> whole;
    for (const TestPicture& p : odd.pictures)
        for (const TestNal& n : p.nals) whole.insert(whole.end(), n.bytes.begin(), n.bytes.end());
    const Decoded clean = decodeStream(whole, {});
    EXPECT_EQ(clean.yuv.size(), 6u * 168 * 100 * 3 / 2);
    EXPECT_EQ(clean.report.width, 168);
    EXPECT_EQ(clean.report.height, 100);
    EXPECT_TRUE(clean.yuv == decodeWithLibavcodec(whole, 3));
    EXPECT_GT(meanLumaPsnr(odd, clean.yuv), 30);

    // The second slice (the bottom rows, partly outside the picture) of picture 3 lost.
    int slice = 0;
    const DamagedStream damaged = damage(odd, [&](int p, const TestNal& n) { return n.isSlice() && p == 3 && slice++ == 1; });
    bool checked = false;
    const Decoded out = decodeStream(damaged.bytes, {}, [&](int unit, const ConcealingDecoder& decoder) {
        if (unit != 3) return;
        const MbGrid& map = decoder.lastLossMap();
        ASSERT_EQ(map.width, 11);
        ASSERT_EQ(map.height, 7);
        for (std::size_t mb = 0; mb < map.states.size(); ++mb)
            EXPECT_EQ(map.states[mb] == MbState::Lost, bool(damaged.lostMbs[3][mb])) << mb;
        checked = true;
    });
    EXPECT_TRUE(checked);
    EXPECT_EQ(out.yuv.size(), clean.yuv.size());
    EXPECT_GT(out.report.inter.concealed, 0);
}

TEST_F(DecodeStream, LossMapEqualsTheDroppedSlices)
{
    for (double rate : {0.1, 0.3, 0.5}) {
        const DamagedStream damaged = dropSlicesAtRandom(*sliced, rate, 7);
        std::vector<int> surviving;
        for (std::size_t p = 0; p < damaged.pictureGone.size(); ++p)
            if (!damaged.pictureGone[p]) surviving.push_back(int(p));
        int mismatches = 0, checked = 0;
        long long lostTotal = 0;
        const Decoded out = decodeStream(damaged.bytes, {}, [&](int unit, const ConcealingDecoder& decoder) {
            ASSERT_LT(std::size_t(unit), surviving.size());
            const std::vector<bool>& truth = damaged.lostMbs[std::size_t(surviving[std::size_t(unit)])];
            const MbGrid& map = decoder.lastLossMap();
            ASSERT_EQ(map.states.size(), truth.size());
            for (std::size_t mb = 0; mb < truth.size(); ++mb) {
                mismatches += (map.states[mb] == MbState::Lost) != truth[mb];
                lostTotal += truth[mb];
            }
            ++checked;
        });
        EXPECT_EQ(checked, int(surviving.size())) << rate;
        EXPECT_EQ(mismatches, 0) << "at slice loss " << rate;
        EXPECT_EQ(out.report.intra.lost + out.report.inter.lost, lostTotal) << rate;
        EXPECT_EQ(out.report.intra.concealed + out.report.inter.concealed, lostTotal) << rate;
        EXPECT_EQ(out.frames, 40) << rate;
    }
}

TEST_F(DecodeStream, LossFileCodesMarkExactlyTheDroppedSlices)
{
    namespace q = kestrune::quality;
    for (const auto& [rate, settings] : {std::pair{0.1, ConcealmentSettings{}},
                                         std::pair{0.3, ConcealmentSettings{IntraMethod::AverageDc, InterMethod::None}}}) {
        const DamagedStream damaged = dropSlicesAtRandom(*sliced, rate, 11);
        const Decoded out = decodeStream(damaged.bytes, settings);
        ASSERT_EQ(out.report.frameLoss.size(), damaged.lostMbs.size()) << rate;  // IPPP: output order is coding order
        int fromDamage = 0;
        for (std::size_t p = 0; p < damaged.lostMbs.size(); ++p) {
            const FrameLoss& f = out.report.frameLoss[p];
            ASSERT_EQ(f.macroblocks.size(), 99u) << p;
            if (damaged.pictureGone[p]) {
                EXPECT_EQ(f.type, q::kMbRepeated) << p;
                EXPECT_EQ(f.macroblocks, std::string(99, q::kMbRepeated)) << p;
                continue;
            }
            const bool idr = p % 20 == 0;
            EXPECT_EQ(f.type, idr ? 'I' : 'P') << p;
            const char concealed = idr ? (settings.intra == IntraMethod::Bilinear ? q::kMbBilinear : q::kMbAverageDc)
                                       : (settings.inter == InterMethod::None ? q::kMbLost : q::kMbBoundaryMatching);
            for (std::size_t mb = 0; mb < 99; ++mb) {
                const char code = f.macroblocks[mb];
                if (damaged.lostMbs[p][mb]) EXPECT_EQ(code, concealed) << "picture " << p << " macroblock " << mb;
                else EXPECT_TRUE(code == q::kMbDecoded || (!idr && code == q::kMbFromDamage)) << p << ' ' << mb;
                fromDamage += code == q::kMbFromDamage;
            }
        }
        EXPECT_GT(fromDamage, 0) << "motion carries damage into later pictures at " << rate;
    }
}

TEST_F(DecodeStream, OneFramePerCodedPictureWhateverIsLost)
{
    struct Case {
        const char* what;
        std::function<bool(int, const TestNal&)> drop;
    };
    const std::vector<Case> cases = {
        {"a P picture", [](int p, const TestNal& n) { return p == 5 && n.isSlice(); }},
        {"three P pictures in a row", [](int p, const TestNal& n) { return p >= 10 && p <= 12 && n.isSlice(); }},
        {"the second IDR", [](int p, const TestNal& n) { return p == 20 && n.isSlice(); }},
        {"the first IDR", [](int p, const TestNal& n) { return p == 0 && n.isSlice(); }},
        {"pictures after the last IDR and before the next P", [](int p, const TestNal& n) { return p >= 20 && p <= 22 && n.isSlice(); }},
    };
    // Not listed: pictures lost right before a received IDR or at the very end leave no
    // trace in frame_num (it restarts at the IDR) and cannot be counted; nor can an IDR
    // lost with its parameter sets before any GOP length is known (a frame_num wrap
    // explains the gap as well), nor an IDR picture and the pictures after it up to the
    // one whose frame_num (mod 16 here) continues the last GOP's: complete streams repeat
    // parameter sets before P pictures too, so only a frame_num that does not fit tells.
    for (const Case& c : cases) {
        const DamagedStream damaged = damage(*sliced, c.drop);
        const Decoded out = decodeStream(damaged.bytes, {});
        EXPECT_EQ(out.frames, 40) << c.what;
        EXPECT_EQ(out.yuv.size(), 40 * sliced->frameBytes()) << c.what;
    }
    // Under random loss as well, whole pictures included.
    for (unsigned seed = 1; seed <= 4; ++seed) {
        std::mt19937 random(seed);
        std::vector<bool> gone(40);
        for (int p = 0; p < 40; ++p) gone[std::size_t(p)] = p % 20 < 16 && random() % 8 == 0;
        std::uniform_real_distribution<double> draw(0.0, 1.0);
        const DamagedStream damaged = damage(*sliced, [&](int p, const TestNal& n) {
            return n.isSlice() && (gone[std::size_t(p)] || draw(random) < 0.2);
        });
        EXPECT_EQ(decodeStream(damaged.bytes, {}).frames, 40) << "seed " << seed;
    }
}

TEST_F(DecodeStream, ALostPictureRepeatsThePreviousOutputFrame)
{
    const DamagedStream damaged = damage(*sliced, [](int p, const TestNal& n) { return p == 8 && n.isSlice(); });
    const Decoded out = decodeStream(damaged.bytes, {});
    ASSERT_EQ(out.frames, 40);
    EXPECT_EQ(out.report.picturesLost, 1);
    const std::size_t f = sliced->frameBytes();
    EXPECT_TRUE(std::equal(out.yuv.begin() + std::ptrdiff_t(7 * f), out.yuv.begin() + std::ptrdiff_t(8 * f),
                           out.yuv.begin() + std::ptrdiff_t(8 * f)));
    EXPECT_FALSE(std::equal(out.yuv.begin() + std::ptrdiff_t(8 * f), out.yuv.begin() + std::ptrdiff_t(9 * f),
                            out.yuv.begin() + std::ptrdiff_t(9 * f)));
}

TEST_F(DecodeStream, ALostIdrIsConcealedFromWhatCameBefore)
{
    const DamagedStream damaged = damage(*sliced, [](int p, const TestNal& n) { return p == 20 && n.isSlice(); });
    const Decoded out = decodeStream(damaged.bytes, {});
    ASSERT_EQ(out.frames, 40);
    const std::size_t f = sliced->frameBytes(), luma = std::size_t(sliced->width * sliced->height);
    // The pictures after the lost IDR still resemble the source instead of going grey or stopping.
    for (int i = 21; i < 40; i += 6) {
        const double psnr = kestrune::quality::psnr({sliced->yuv.data() + std::size_t(i) * f, luma},
                                                    {out.yuv.data() + std::size_t(i) * f, luma});
        EXPECT_GT(psnr, 17.0) << "picture " << i;
    }
    EXPECT_EQ(out.report.picturesLost, 1);
}

TEST_F(DecodeStream, ConcealmentBeatsLeavingBlocksGrey)
{
    // Smooth moving content, P slices lost: boundary matching finds the motion.
    const TestStream smooth = encodeTestStream(20, 9, 20, Content::Smooth);
    std::mt19937 random(3);
    const DamagedStream damaged = damage(smooth, [&](int p, const TestNal& n) { return p > 0 && n.isSlice() && random() % 10 == 0; });
    const double none = meanLumaPsnr(smooth, decodeStream(damaged.bytes, {IntraMethod::None, InterMethod::None}).yuv);
    const double matched = meanLumaPsnr(smooth, decodeStream(damaged.bytes, {}).yuv);
    EXPECT_GT(matched, none + 5.0);
    // Without the neighbours' motion vectors it would fall behind libavcodec's own guesses.
    const double builtIn = meanLumaPsnr(smooth, decodeWithLibavcodec(damaged.bytes, 3));
    EXPECT_GE(matched, builtIn) << "libavcodec " << builtIn;

    // Intra-only stream: every spatial method must beat mid-grey.
    const TestStream intra = encodeTestStream(6, 9, 1, Content::Smooth);
    const DamagedStream hit = dropSlicesAtRandom(intra, 0.2, 5);
    const double grey = meanLumaPsnr(intra, decodeStream(hit.bytes, {IntraMethod::None, InterMethod::None}).yuv);
    for (IntraMethod m : {IntraMethod::AverageDc, IntraMethod::AverageMacroblock, IntraMethod::Bilinear}) {
        const Decoded out = decodeStream(hit.bytes, {m, InterMethod::BoundaryMatching});
        EXPECT_EQ(out.frames, 6);
        EXPECT_GT(meanLumaPsnr(intra, out.yuv), grey + 3.0) << methodName(m);
        EXPECT_GT(out.report.intra.lost, 0);
        EXPECT_EQ(out.report.intra.concealed, out.report.intra.lost);
    }
}

// Pictures go out in display order, as libavcodec hands them out, also when
// B pictures are lost from a stream we wrote (its IDR pictures numbered, its
// picture order counts never skipping): every other picture keeps its
// display place and a lost one repeats the frame shown before it.
TEST(DecodeStreamWithBPictures, FramesComeOutInDisplayOrderUnderLoss)
{
    av_log_set_level(AV_LOG_QUIET);
    kestrune::testing::X264StreamOptions options;
    options.frames = 40;
    options.bframes = 2;
    options.keyint = 12;
    options.picture = kestrune::testing::renderSample;
    kestrune::testing::X264Stream stream = kestrune::testing::encodeX264Stream(options);
    kestrune::PictureNumbering numbering;
    for (kestrune::testing::X264Picture& picture : stream.pictures)
        for (kestrune::testing::X264Nal& nal : picture.nals) {
            std::vector<std::uint8_t> numbered;
            numbering.rewrite(nal.bytes, numbered);
            nal.bytes = std::move(numbered);
        }
    const std::vector<std::uint8_t> whole = stream.bytes();
    const std::vector<std::uint8_t> reference = decodeWithLibavcodec(whole, 3);
    ASSERT_EQ(reference.size(), 40 * stream.frameBytes());
    const Decoded ours = decodeStream(whole, {});
    EXPECT_EQ(ours.frames, 40);
    EXPECT_TRUE(ours.yuv == reference);

    // Where each coded picture is shown: pictures before its IDR period plus POC / 2.
    kestrune::h264::NalParser parser;
    std::vector<int> shownAt;
    std::vector<bool> referenced;
    int periodStart = 0;
    for (const kestrune::testing::X264Picture& picture : stream.pictures) {
        for (const kestrune::testing::X264Nal& nal : picture.nals) {
            const std::size_t startCode = nal.bytes[2] == 1 ? 3 : 4;
            const auto parsed = parser.parse(std::span<const std::uint8_t>(nal.bytes).subspan(startCode));
            if (!nal.isSlice() || !parsed.slice || parsed.slice->first_mb_in_slice != 0) continue;
            if (picture.idr) periodStart = int(shownAt.size());
            shownAt.push_back(periodStart + int(parsed.slice->pic_order_cnt_lsb / 2));
            referenced.push_back(parsed.header.nal_ref_idc != 0);
        }
    }
    ASSERT_EQ(shownAt.size(), 40u);
    ASSERT_LT(std::count(referenced.begin(), referenced.end(), true), 35) << "pictures nothing refers to";
    // Losing pictures nothing refers to leaves every other frame as it was,
    // and each lost one shows the frame before it.
    std::mt19937 random(3);
    for (int trial = 0; trial < 4; ++trial) {
        std::vector<std::uint8_t> damaged, expected = reference;
        const std::size_t frame = stream.frameBytes();
        for (std::size_t p = 0; p < stream.pictures.size(); ++p) {
            const bool lost = !referenced[p] && random() % 2 == 0;
            for (const kestrune::testing::X264Nal& nal : stream.pictures[p].nals)
                if (!lost || !nal.isSlice()) damaged.insert(damaged.end(), nal.bytes.begin(), nal.bytes.end());
            if (lost) {
                const std::size_t at = std::size_t(shownAt[p]) * frame;
                std::copy_n(expected.begin() + std::ptrdiff_t(at - frame), frame, expected.begin() + std::ptrdiff_t(at));
            }
        }
        const Decoded out = decodeStream(damaged, {});
        EXPECT_EQ(out.frames, 40) << trial;
        EXPECT_TRUE(out.yuv == expected) << trial;
    }
}
