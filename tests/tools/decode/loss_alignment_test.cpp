// One output frame per coded picture, each at its own place, under the losses
// that used to shift every later frame: on the stream the window's default
// Encode writes (encoder, channel and decoder in-process, as the tools run),
// and on a stream from elsewhere whose frame_num wraps every 16 pictures.
#include "tests/tools/decode/test_stream.h"
#include "tests/tools/encode/tool_process.h"
#include "tools/analyze/analyzer.h"
#include "tools/bitstream/bitstream.h"
#include "tools/decode/run.h"
#include "tools/encode/encoder.h"
#include "tools/gilbert/gilbert_model.h"
#include "tools/sample/sample_sequence.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

using namespace kestrune;
using kestrune::testing::ScratchDirectory;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Nal {
    Bytes bytes;  // start code included
    int type = 0;
};

std::vector<Nal> nalUnits(const Bytes& stream)
{
    h264::AnnexBReader reader(stream);
    h264::NalUnit unit;
    std::vector<Nal> out;
    while (reader.next(unit)) {
        Nal nal{{0, 0, 0, 1}, unit.bytes.empty() ? 0 : unit.bytes[0] & 0x1f};
        nal.bytes.insert(nal.bytes.end(), unit.bytes.begin(), unit.bytes.end());
        out.push_back(std::move(nal));
    }
    return out;
}

// The channel: NAL units numbered from 1, those in `lost` left out.
Bytes without(const std::vector<Nal>& nals, const std::set<int>& lost)
{
    Bytes out;
    for (std::size_t k = 0; k < nals.size(); ++k)
        if (!lost.count(int(k) + 1)) out.insert(out.end(), nals[k].bytes.begin(), nals[k].bytes.end());
    return out;
}

std::set<int> gilbertLosses(int percent, int burst, int count, std::uint32_t seed)
{
    std::string error;
    gilbert::GilbertChannel channel(*gilbert::makeModel(percent, burst, error), seed);
    std::set<int> lost;
    for (int k = 1; k <= count; ++k)
        if (!channel.nextDelivered()) lost.insert(k);
    return lost;
}

struct Decoded {
    decode::DecodeReport report;
    std::string text;
    Bytes yuv;
};

Decoded decodeFile(const ScratchDirectory& dir, const Bytes& stream, const std::string& sent = {})
{
    kestrune::testing::writeBytes(dir / "lossy.264", stream);
    decode::DecodeOptions options;
    options.input = (dir / "lossy.264").string();
    options.output = (dir / "out.yuv").string();
    options.sent = sent;
    const decode::RunResult result = decode::runDecode(options);
    return {result.report, decode::placementNotes(result.report), kestrune::testing::readBytes(dir / "out.yuv")};
}

class LossAlignment : public ::testing::Test {
protected:
    static constexpr int kFrames = 300;
    static constexpr std::size_t kFrameBytes = 176 * 144 * 3 / 2;

    static void SetUpTestSuite()
    {
        dir = new ScratchDirectory;
        Bytes yuv(kFrameBytes * kFrames);
        for (int i = 0; i < kFrames; ++i) renderSampleFrame({176, 144}, i, {yuv.data() + kFrameBytes * std::size_t(i), kFrameBytes});
        kestrune::testing::writeBytes(*dir / "sample_176x144.yuv", yuv);
        // The window's default Encode.
        EncodeOptions options;
        options.rateControl = RateControl::Bitrate;
        options.bitrate = 500;
        options.minKeyint = 25;
        options.keyint = 250;
        options.scenecut = 40;
        options.references = 1;
        options.input = (*dir / "sample_176x144.yuv").string();
        options.output = (*dir / "enc.264").string();
        options.size = FrameSize{176, 144};
        std::FILE* quiet = std::freopen("/dev/null", "w", stderr);
        runEncode(options, Console{"x264"});
        options.slices = 4;
        options.output = (*dir / "enc4.264").string();
        runEncode(options, Console{"x264"});
        (void)quiet;
        encoded = new std::vector<Nal>(nalUnits(kestrune::testing::readBytes(*dir / "enc.264")));
        undamaged = new Bytes(decodeFile(*dir, kestrune::testing::readBytes(*dir / "enc.264")).yuv);
    }
    static void TearDownTestSuite()
    {
        delete encoded;
        delete undamaged;
        delete dir;
    }

    // Frame `index` of a decoded YUV file.
    static Bytes frame(const Bytes& yuv, int index)
    {
        return Bytes(yuv.begin() + std::ptrdiff_t(kFrameBytes * std::size_t(index)),
                     yuv.begin() + std::ptrdiff_t(kFrameBytes * std::size_t(index + 1)));
    }

    // Places of the IDR pictures that survive `lost` with a parameter set of each kind before them.
    static std::vector<int> decodableIdrPlaces(const std::set<int>& lost)
    {
        std::vector<int> places;
        int picture = -1;
        bool sps = false, pps = false;
        for (std::size_t k = 0; k < encoded->size(); ++k) {
            const int type = (*encoded)[k].type;
            const bool arrived = !lost.count(int(k) + 1);
            sps |= type == 7 && arrived;
            pps |= type == 8 && arrived;
            if (type == 1 || type == 5) ++picture;
            if (type == 5 && arrived && sps && pps) places.push_back(picture);
        }
        return places;
    }

    // The picture that NAL unit `number` (from 1) belongs to.
    static int pictureOf(int number)
    {
        int picture = 0;
        for (int k = 0; k < number - 1; ++k) picture += (*encoded)[std::size_t(k)].type == 1 || (*encoded)[std::size_t(k)].type == 5;
        return picture;
    }

    static ScratchDirectory* dir;
    static std::vector<Nal>* encoded;
    static Bytes* undamaged;
};

ScratchDirectory* LossAlignment::dir = nullptr;
std::vector<Nal>* LossAlignment::encoded = nullptr;
Bytes* LossAlignment::undamaged = nullptr;

} // namespace

TEST_F(LossAlignment, TheLossesThatShiftedEveryLaterFrameNowLeaveEachFrameInItsPlace)
{
    ASSERT_EQ(encoded->size(), 305u);
    ASSERT_EQ(undamaged->size(), kFrameBytes * kFrames);
    struct Case {
        const char* what;
        std::set<int> lost;
    };
    std::set<int> run;
    for (int k = 100; k <= 114; ++k) run.insert(k);
    const std::vector<Case> cases = {
        {"15 consecutive P pictures", run},
        {"SPS and IDR picture of the second GOP", {254, 256}},
        {"Gilbert 10 %, burst 2, seed 5", gilbertLosses(10, 2, 305, 5)},
        {"Gilbert 30 %, burst 8, seed 4", gilbertLosses(30, 8, 305, 4)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.lost.count(305)) << "a case whose last picture arrives: a lost end leaves no trace";
        const Decoded out = decodeFile(*dir, without(*encoded, c.lost));
        EXPECT_EQ(out.report.framesWritten, kFrames) << out.text;
        ASSERT_EQ(out.yuv.size(), kFrameBytes * kFrames);
        EXPECT_EQ(out.report.picturesDecoded + out.report.picturesLost, kFrames);
        const std::vector<int> idrs = decodableIdrPlaces(c.lost);
        EXPECT_FALSE(idrs.empty());
        for (int place : idrs)
            EXPECT_TRUE(frame(out.yuv, place) == frame(*undamaged, place)) << "IDR picture " << place;
        // Untouched pictures before the first loss come out as they were.
        const int firstLost = pictureOf(*c.lost.begin());
        if (firstLost > 0 && *c.lost.begin() > 3) {
            EXPECT_TRUE(frame(out.yuv, firstLost - 1) == frame(*undamaged, firstLost - 1));
        }
    }
}

TEST_F(LossAlignment, ParameterSetsLostAtTheStartLeaveGreyFramesUntilTheNextOnes)
{
    const Decoded out = decodeFile(*dir, without(*encoded, {1, 2}));
    ASSERT_EQ(out.report.framesWritten, kFrames) << out.text;
    EXPECT_EQ(out.report.picturesWithoutParameterSets, 250);
    EXPECT_NE(out.text.find("250 pictures arrived without their parameter sets"), std::string::npos) << out.text;
    EXPECT_TRUE(frame(out.yuv, 0) == Bytes(kFrameBytes, 128));
    EXPECT_TRUE(frame(out.yuv, 249) == Bytes(kFrameBytes, 128));
    EXPECT_TRUE(frame(out.yuv, 250) == frame(*undamaged, 250));
    EXPECT_TRUE(frame(out.yuv, 299) == frame(*undamaged, 299));

    // Every PPS lost: nothing decodes, yet the SPS gives the size and every picture gets its frame.
    std::set<int> everyPps;
    for (std::size_t k = 0; k < encoded->size(); ++k)
        if ((*encoded)[k].type == 8) everyPps.insert(int(k) + 1);
    const Decoded grey = decodeFile(*dir, without(*encoded, everyPps));
    EXPECT_EQ(grey.report.framesWritten, kFrames) << grey.text;
    EXPECT_EQ(grey.report.picturesLost, kFrames);
    EXPECT_TRUE(grey.yuv == Bytes(kFrameBytes * kFrames, 128));
}

// Given the sent stream, every picture has its place, also where the numbers
// cannot tell: an IDR picture lost with its parameter sets and the pictures
// after it, a lost end of the stream, long bursts. Every picture that arrived
// with all it is predicted from comes out as without loss.
TEST_F(LossAlignment, WithTheSentStreamEveryPictureHasItsExactPlace)
{
    std::set<int> idrAndAfter, end;
    for (int k = 254; k <= 262; ++k) idrAndAfter.insert(k);
    for (int k = 280; k <= 305; ++k) end.insert(k);
    const std::string sent = (*dir / "enc.264").string();
    for (const std::set<int>& lost : {idrAndAfter, end, gilbertLosses(30, 8, 305, 4), gilbertLosses(20, 16, 305, 9)}) {
        const Decoded out = decodeFile(*dir, without(*encoded, lost), sent);
        EXPECT_EQ(out.report.framesWritten, kFrames) << out.text;
        EXPECT_TRUE(out.report.placementFromSent);
        EXPECT_EQ(out.report.guessedPlaces, 0);
        EXPECT_NE(out.text.find("placement: from the sent stream"), std::string::npos) << out.text;
        // One slice per picture, one reference picture: a picture is as without
        // loss when it and every picture back to a whole IDR picture arrived.
        int picture = -1, clean = 0;
        bool unbroken = false, sps = false, pps = false;
        for (std::size_t k = 0; k < encoded->size(); ++k) {
            const Nal& nal = (*encoded)[k];
            const bool arrived = !lost.count(int(k) + 1);
            sps |= nal.type == 7 && arrived;
            pps |= nal.type == 8 && arrived;
            if (nal.type != 1 && nal.type != 5) continue;
            ++picture;
            unbroken = arrived && (nal.type == 5 ? sps && pps : unbroken);
            if (!unbroken) continue;
            ++clean;
            EXPECT_TRUE(frame(out.yuv, picture) == frame(*undamaged, picture)) << "picture " << picture;
        }
        EXPECT_GT(clean, 5);
    }
    // Every SPS lost: nothing decodes, yet the sent stream gives the size and
    // every picture its grey frame.
    std::set<int> everySps;
    for (std::size_t k = 0; k < encoded->size(); ++k)
        if ((*encoded)[k].type == 7) everySps.insert(int(k) + 1);
    const Decoded grey = decodeFile(*dir, without(*encoded, everySps), sent);
    EXPECT_EQ(grey.report.framesWritten, kFrames) << grey.text;
    EXPECT_EQ(grey.report.picturesLost, kFrames);
    EXPECT_TRUE(grey.yuv == Bytes(kFrameBytes * kFrames, 128));
    // Another stream than the one sent is refused, not placed at random.
    EXPECT_THROW(decodeFile(*dir, kestrune::testing::readBytes(*dir / "enc4.264"), sent), std::runtime_error);
}

// A channel that duplicates packets: slices arriving twice within their
// picture (right after themselves or after a later slice of it) change
// nothing in what is decoded or counted, with slices lost or without.
TEST_F(LossAlignment, SlicesArrivingTwiceChangeNothing)
{
    std::mt19937 random(7);
    const std::vector<Nal> sliced = nalUnits(kestrune::testing::readBytes(*dir / "enc4.264"));
    for (int percent : {0, 10, 30}) {
        SCOPED_TRACE(percent);
        const std::set<int> lost = percent ? gilbertLosses(percent, 4, int(sliced.size()), std::uint32_t(percent)) : std::set<int>{};
        Bytes once, twice;
        std::vector<const Nal*> resend;  // slices of the current picture to send again
        int duplicates = 0;
        for (std::size_t k = 0; k < sliced.size(); ++k) {
            const Nal& nal = sliced[k];
            const bool slice = nal.type == 1 || nal.type == 5;
            // The first slice of a picture (first_mb_in_slice 0: its first payload bit is 1) ends the last one's resends.
            if (!slice || (nal.bytes[5] & 0x80)) resend.clear();
            // Slices only: without parameter sets the picture boundaries, and so what is a repeat, cannot be told.
            if (slice && lost.count(int(k) + 1)) continue;
            once.insert(once.end(), nal.bytes.begin(), nal.bytes.end());
            twice.insert(twice.end(), nal.bytes.begin(), nal.bytes.end());
            if (!slice) continue;
            if (random() % 4 == 0) resend.push_back(&nal);
            if (!resend.empty() && random() % 2 == 0) {
                twice.insert(twice.end(), resend.front()->bytes.begin(), resend.front()->bytes.end());
                resend.erase(resend.begin());
                ++duplicates;
            }
        }
        ASSERT_GT(duplicates, 20);
        const Decoded expected = decodeFile(*dir, once);
        const Decoded got = decodeFile(*dir, twice);
        EXPECT_EQ(got.report.framesWritten, expected.report.framesWritten) << got.text;
        EXPECT_TRUE(got.yuv == expected.yuv);
        EXPECT_EQ(got.report.repeatedSlices, duplicates);

        std::string error;
        analyze::StreamSummary onceSummary, twiceSummary;
        h264::AnnexBReader onceReader(once), twiceReader(twice);
        const auto ignore = [](int, std::uint64_t) {};
        ASSERT_TRUE(analyze::summarizeStream(onceReader, onceSummary, ignore, error)) << error;
        ASSERT_TRUE(analyze::summarizeStream(twiceReader, twiceSummary, ignore, error)) << error;
        EXPECT_EQ(twiceSummary.pictures, onceSummary.pictures);
        EXPECT_EQ(twiceSummary.codedPictures, onceSummary.codedPictures);
        EXPECT_EQ(twiceSummary.total, onceSummary.total + std::uint64_t(duplicates)) << "every NAL unit is listed";
    }
}

// Four slices per picture, the first SPS lost, so the first GOP's slices
// compare by first_mb_in_slice alone; lost too the second slice of the picture
// before the second IDR picture, and the IDR picture's first slice. The IDR
// picture's slices, after its parameter sets, are one picture though one of
// them starts where a slice of the picture before did.
TEST_F(LossAlignment, AnIdrPictureWithoutItsFirstSliceAfterItsParameterSetsIsOnePicture)
{
    const std::vector<Nal> sliced = nalUnits(kestrune::testing::readBytes(*dir / "enc4.264"));
    int secondSps = 0;
    for (std::size_t k = 1; k < sliced.size() && !secondSps; ++k)
        if (sliced[k].type == 7) secondSps = int(k) + 1;
    ASSERT_GT(secondSps, 5);
    ASSERT_EQ(sliced[std::size_t(secondSps) - 5].type, 1);  // the picture before: slices at NAL units secondSps - 4 ..- 1
    ASSERT_EQ(sliced[std::size_t(secondSps) + 1].type, 5);  // the IDR picture's first slice, after the PPS
    const Decoded out = decodeFile(*dir, without(sliced, {1, secondSps - 3, secondSps + 2}));
    EXPECT_EQ(out.report.framesWritten, kFrames) << out.text;
    EXPECT_EQ(out.report.picturesWithoutParameterSets, 250) << out.text;
    EXPECT_EQ(out.report.picturesDecoded + out.report.picturesLost, kFrames) << out.text;
}

// A stream from elsewhere: libx264 as it comes, frame_num wrapping every 16
// pictures, one slice per picture. Losing 15 pictures in a row leaves the next
// one with the frame_num of the last one received: only its first_mb_in_slice
// (0 again) shows that it is a new picture.
TEST(ForeignStream, ARepeatedFrameNumStillStartsAPictureAndTheReportSaysWhatCannotBeSeen)
{
    using namespace kestrune::decode::test;
    const TestStream stream = encodeTestStream(60, 1, 60);
    ScratchDirectory dir;
    const DamagedStream damaged = damage(stream, [](int p, const TestNal& n) { return p >= 20 && p < 35 && n.isSlice(); });
    const Decoded out = decodeFile(dir, damaged.bytes);
    EXPECT_EQ(out.report.framesWritten, 60) << out.text;
    EXPECT_EQ(out.report.picturesLost, 15);
    EXPECT_EQ(out.report.hiddenLossWrap, 16u);
    EXPECT_NE(out.text.find("frame_num wraps every 16 pictures in this stream and nothing else numbers them: a run of 16 "
                            "lost pictures leaves no trace, so the 60 frames written"), std::string::npos) << out.text;
    // A whole wrap lost leaves no trace at all, and the report does not claim to know.
    const DamagedStream wrap = damage(stream, [](int p, const TestNal& n) { return p >= 20 && p < 36 && n.isSlice(); });
    const Decoded hidden = decodeFile(dir, wrap.bytes);
    EXPECT_EQ(hidden.report.framesWritten, 44);
    EXPECT_NE(hidden.text.find("a run of 16 lost pictures leaves no trace"), std::string::npos) << hidden.text;
    EXPECT_EQ(hidden.text.find("no other picture refers to"), std::string::npos) << "every picture is a reference";
}

// A stream from elsewhere with B pictures nothing refers to, after Gilbert
// losses of short bursts: a lost B picture leaves no trace in frame_num, and
// the free picture order counts it leaves are no loss in a stream we did not
// write. The count comes out short, and the report gives that cause, not a
// frame_num wrap no burst was long enough for; with the sent stream every
// picture has its place.
TEST(ForeignStream, LostBPicturesAreNamedAsTheCauseOfAShortCount)
{
    using namespace kestrune::decode::test;
    const std::string untraced = "pictures that no other picture refers to";
    for (const int keyint : {250, 30}) {
        SCOPED_TRACE(keyint);
        const TestStream stream = kestrune::testing::encodeX264Stream(
            {.frames = 60, .picture = kestrune::testing::renderSample, .profile = "main", .bframes = 2, .keyint = keyint,
             .bPyramid = 0});
        const std::set<int> lost = gilbertLosses(15, 2, int(stream.pictures.size()), 7);
        const DamagedStream damaged =
            damage(stream, [&](int p, const TestNal& n) { return n.isSlice() && !stream.pictures[std::size_t(p)].idr && lost.count(p + 1); });
        ScratchDirectory dir;
        const Decoded out = decodeFile(dir, damaged.bytes);
        EXPECT_LT(out.report.framesWritten, 60) << out.text;
        EXPECT_TRUE(out.report.untracedLossPossible);
        EXPECT_NE(out.text.find(untraced), std::string::npos) << out.text;
        EXPECT_NE(out.text.find("-sent FILE.264 gives every picture its exact place"), std::string::npos) << out.text;
        EXPECT_EQ(out.text.find("a run of 16 lost pictures"), std::string::npos) << out.text;
        // About 20 reference pictures in one GOP wrap a MaxFrameNum of 16; about 10 in each do not.
        EXPECT_EQ(out.text.find("a run of 16 lost reference pictures") != std::string::npos, keyint == 250) << out.text;

        std::string error;
        analyze::StreamSummary summary;
        h264::AnnexBReader reader(damaged.bytes);
        ASSERT_TRUE(analyze::summarizeStream(reader, summary, [](int, std::uint64_t) {}, error)) << error;
        const std::string analyzed = analyze::formatReport("lossy.264", summary);
        EXPECT_NE(analyzed.find(untraced), std::string::npos) << analyzed;
        EXPECT_EQ(analyzed.find("a run of 16 lost pictures"), std::string::npos) << analyzed;

        kestrune::testing::writeBytes(dir / "sent.264", stream.bytes());
        const Decoded placed = decodeFile(dir, damaged.bytes, (dir / "sent.264").string());
        EXPECT_EQ(placed.report.framesWritten, 60) << placed.text;
        EXPECT_EQ(placed.text.find(untraced), std::string::npos) << placed.text;
    }
}

// A sent stream that repeats its pictures byte for byte (a static scene after
// every IDR picture): where the losses let the received pictures fit either
// copy, each is placed at the first that fits and reported as a guess, never
// silently; where the order of what arrived rules one copy out, every place
// is still exact.
TEST_F(LossAlignment, PicturesSentTwiceByteForByteAreAGuessOnlyWhereALossHidesWhichCopyArrived)
{
    const std::vector<Nal> copy(encoded->begin(), encoded->begin() + 40);
    std::vector<Nal> twice = copy;
    twice.insert(twice.end(), copy.begin(), copy.end());
    kestrune::testing::writeBytes(*dir / "twice.264", without(twice, {}));
    const std::string sent = (*dir / "twice.264").string();
    const auto slicesIn = [&](std::size_t from, std::size_t to) {
        int n = 0;
        for (std::size_t k = from; k < to; ++k) n += copy[k].type == 1 || copy[k].type == 5;
        return n;
    };
    const int slicesPerCopy = slicesIn(0, copy.size());
    const auto lostRange = [](int first, int last) {
        std::set<int> lost;
        for (int k = first; k <= last; ++k) lost.insert(k);
        return lost;
    };

    const Decoded whole = decodeFile(*dir, without(twice, {}), sent);
    EXPECT_EQ(whole.report.framesWritten, 2 * slicesPerCopy);
    EXPECT_EQ(whole.report.sentTwinPlaces, 0) << whole.text;
    EXPECT_EQ(whole.text.find("guessed"), std::string::npos) << whole.text;

    // The start of the second copy lost: the first copy arrived whole before
    // the rest, so nothing fits two places.
    const Decoded ordered = decodeFile(*dir, without(twice, lostRange(41, 65)), sent);
    EXPECT_EQ(ordered.report.framesWritten, 2 * slicesPerCopy);
    EXPECT_EQ(ordered.report.sentTwinPlaces, 0) << ordered.text;

    // The end of the first copy and the start of the second lost (NAL units
    // 21 to 65): what arrived fits the first copy, the second, or one each.
    const Decoded hidden = decodeFile(*dir, without(twice, lostRange(21, 65)), sent);
    EXPECT_EQ(hidden.report.framesWritten, 2 * slicesPerCopy);
    EXPECT_EQ(hidden.report.sentTwinPlaces, slicesIn(0, 20) + slicesIn(25, copy.size())) << hidden.text;
    EXPECT_NE(hidden.text.find("pictures were written at a guessed place"), std::string::npos) << hidden.text;
}
