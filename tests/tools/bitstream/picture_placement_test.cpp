// Placing received pictures after losses: an oracle loop over simulated
// streams with random bursty losses, and the readings of streams without
// picture numbers.
#include "tools/bitstream/picture_placement.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

using namespace kestrune::h264;

namespace {

struct Coded {
    PictureNumbers numbers;
    bool parameterSetsLost = false;  // those sent before an IDR picture
};

// Pictures of a stream: IDR pictures where `idr` says, all reference pictures.
std::vector<Coded> codedStream(int count, const std::vector<bool>& idr, int frameNumBits, bool numbered)
{
    std::vector<Coded> pictures;
    int lastIdr = 0;
    for (int i = 0; i < count; ++i) {
        if (idr[std::size_t(i)]) lastIdr = i;
        PictureNumbers n;
        n.known = true;
        n.idr = idr[std::size_t(i)];
        n.frameNum = std::uint32_t(i - lastIdr) % (1u << frameNumBits);
        n.frameNumBits = frameNumBits;
        n.idrPicId = numbered ? std::uint32_t(i % 65536) : std::uint32_t(i / 7 % 2);
        pictures.push_back({n});
    }
    return pictures;
}

// One picture of a stream with 16-bit frame_num (MaxFrameNum far beyond any loss run).
PictureNumbers sixteenBitNumbers(std::uint32_t frameNum, bool idr, std::uint32_t idrPicId)
{
    PictureNumbers n;
    n.known = true;
    n.idr = idr;
    n.frameNum = frameNum;
    n.idrPicId = idrPicId;
    n.frameNumBits = 16;
    return n;
}

struct Outcome {
    std::map<std::int64_t, Placement> byReceived;
    std::vector<int> receivedIndex;  // true place of each received picture
};

// Feeds the pictures that `lost` spares; parameter sets before a lost IDR
// picture reach the next picture when they themselves survive.
Outcome place(const std::vector<Coded>& pictures, const std::vector<bool>& lost, const std::vector<bool>& setsLost)
{
    PicturePlacer placer;
    Outcome out;
    std::int64_t lastIndex = -1;
    bool setsPending = false;
    auto take = [&](const std::vector<Placement>& placed) {
        for (const Placement& p : placed) {
            EXPECT_GT(p.index, lastIndex) << "places only increase";
            lastIndex = p.index;
            out.byReceived[p.received] = p;
        }
    };
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        if (pictures[i].numbers.idr && !setsLost[i]) setsPending = true;
        if (lost[i]) continue;
        PictureNumbers n = pictures[i].numbers;
        n.afterParameterSets = setsPending;
        setsPending = false;
        out.receivedIndex.push_back(int(i));
        take(placer.add(n));
    }
    take(placer.finish());
    EXPECT_EQ(out.byReceived.size(), out.receivedIndex.size()) << "every received picture is placed";
    return out;
}

std::vector<bool> burstyLoss(std::size_t count, double rate, double burst, std::mt19937& random)
{
    // Gilbert: stay in the loss state with probability 1 - 1/burst.
    const double leave = 1.0 / burst, enter = rate * leave / (1.0 - rate);
    std::uniform_real_distribution<double> draw(0, 1);
    std::vector<bool> lost(count);
    bool bad = false;
    for (std::size_t i = 0; i < count; ++i) {
        bad = bad ? draw(random) >= leave : draw(random) < enter;
        lost[i] = bad;
    }
    return lost;
}

PictureNumbers pic(std::uint32_t frameNum, bool idr = false, bool reference = true)
{
    PictureNumbers n;
    n.known = true;
    n.idr = idr;
    n.reference = reference;
    n.frameNum = frameNum;
    n.frameNumBits = 4;
    return n;
}

// Places of a sequence of pictures of a stream without picture numbers.
std::vector<std::int64_t> places(PicturePlacer& placer, const std::vector<PictureNumbers>& pictures)
{
    std::vector<std::int64_t> out;
    for (const PictureNumbers& p : pictures)
        for (const Placement& placed : placer.add(p)) out.push_back(placed.index);
    return out;
}

} // namespace

TEST(PicturePlacement, NumberedStreamsPlaceEveryIdrExactlyAndTheirGopsWhereTheIdrArrived)
{
    std::mt19937 random(11);
    int runs = 0, guessedRuns = 0, hiddenRuns = 0;
    for (int gop : {10, 25, 250}) {
        for (bool irregular : {false, true}) {
            const int count = 300;
            std::vector<bool> idr(count);
            for (int i = 0, next = 0; i < count; ++i) {
                idr[std::size_t(i)] = i == next;
                // A scene cut now and then shortens a GOP.
                if (i == next) next += irregular && random() % 3 == 0 ? gop / 2 + int(random() % 5) : gop;
            }
            const auto pictures = codedStream(count, idr, 16, true);
            for (int trial = 0; trial < 60; ++trial, ++runs) {
                const double rate = 0.05 + 0.35 * (trial % 8) / 7.0, burst = 1 + trial % 16;
                const std::vector<bool> lost = burstyLoss(count, rate, burst, random);
                // The parameter sets go right before their IDR picture: mostly lost with it.
                std::vector<bool> setsLost = burstyLoss(count, rate, burst, random);
                for (int i = 0; i < count; ++i)
                    if (lost[std::size_t(i)] && random() % 4 != 0) setsLost[std::size_t(i)] = true;
                const Outcome out = place(pictures, lost, setsLost);
                bool idrReceivedForGop = false, idrLostSince = false;
                // Whole GOPs lost with frame_num going on by one: nothing
                // shows the loss until the next IDR picture arrives.
                bool hiddenLoss = false;
                std::int64_t guessed = 0;
                for (std::size_t k = 0; k < out.receivedIndex.size(); ++k) {
                    const int truth = out.receivedIndex[k];
                    const Placement& p = out.byReceived.at(std::int64_t(k));
                    guessed += p.guessed;
                    for (int i = k ? out.receivedIndex[k - 1] + 1 : 0; i < truth; ++i)
                        if (idr[std::size_t(i)]) idrReceivedForGop = false, idrLostSince = true;
                    if (k > 0 && truth > out.receivedIndex[k - 1] + 1
                        && pictures[std::size_t(truth)].numbers.frameNum == pictures[std::size_t(out.receivedIndex[k - 1])].numbers.frameNum + 1)
                        hiddenLoss = true;
                    if (idr[std::size_t(truth)]) {
                        hiddenLoss = false;
                        EXPECT_EQ(p.index, truth) << "IDR picture; gop " << gop << " trial " << trial;
                        idrReceivedForGop = true;
                        idrLostSince = false;
                    } else if (idrReceivedForGop || (!idrLostSince && k == 0 && truth < gop)) {
                        EXPECT_EQ(p.index, truth) << "gop " << gop << " trial " << trial;
                    }
                }
                guessedRuns += guessed > 0;
                hiddenRuns += hiddenLoss;
                // Unless the placer said it guessed, the count up to the last picture received is exact.
                if (guessed == 0 && !hiddenLoss && !out.receivedIndex.empty()) {
                    EXPECT_EQ(out.byReceived.rbegin()->second.index, out.receivedIndex.back())
                        << "gop " << gop << " trial " << trial;
                }
            }
        }
    }
    EXPECT_EQ(runs, 360);
    EXPECT_LT(guessedRuns, runs) << "a guess is the exception";
    EXPECT_LT(hiddenRuns, runs / 20);
}

// A bit flip in frame_num or idr_pic_id must not turn into thousands of
// repeated frames: no loss run of a decodable stream is longer than a few GOPs.
TEST(PicturePlacement, DamagedNumbersNeverMoveAPictureFarOff)
{
    std::mt19937 random(5);
    std::vector<bool> idr(300);
    for (int i = 0; i < 300; i += 25) idr[std::size_t(i)] = true;
    const auto clean = codedStream(300, idr, 16, true);
    for (int trial = 0; trial < 200; ++trial) {
        auto pictures = clean;
        for (int k = 0; k < 1 + trial % 3; ++k) {
            PictureNumbers& n = pictures[random() % 300].numbers;
            (n.idr ? n.idrPicId : n.frameNum) = std::uint32_t(random() % 65536);
        }
        const std::vector<bool> lost = burstyLoss(300, 0.05 * (trial % 5), 1 + trial % 8, random);
        const Outcome out = place(pictures, lost, lost);
        std::int64_t previous = -1;
        for (const auto& [received, p] : out.byReceived) {
            EXPECT_LE(p.index - previous, 1000) << "trial " << trial;
            previous = p.index;
        }
        EXPECT_LT(previous, 300 + 1000) << "trial " << trial;
    }
}

TEST(PicturePlacement, AfterALostIdrTheHeldPicturesAreWrittenWhenTheNextIdrTellsTheirPlace)
{
    PicturePlacer placer;
    std::vector<std::int64_t> got;
    auto add = [&](std::uint32_t frameNum, bool idr, std::uint32_t id) {
        auto placed = placer.add(sixteenBitNumbers(frameNum, idr, id));
        for (const Placement& p : placed) got.push_back(p.index);
        return placed.size();
    };
    add(0, true, 0);
    for (std::uint32_t f = 1; f <= 6; ++f) add(f, false, 0);
    // 7..9 and the IDR at 10 lost: 11..19 arrive with frame_num 1..9 and wait.
    for (std::uint32_t f = 1; f <= 9; ++f) EXPECT_EQ(add(f, false, 0), 0u) << "held";
    EXPECT_EQ(add(0, true, 20), 10u) << "the IDR at 20 releases them";
    EXPECT_EQ(got.size(), 17u);
    for (std::size_t i = 7; i < 16; ++i) EXPECT_EQ(got[i], std::int64_t(i + 4));
    EXPECT_EQ(got.back(), 20);
    EXPECT_TRUE(placer.numberedStream());
    EXPECT_EQ(placer.wrapHidesLoss(), 0u);
    EXPECT_EQ(placer.guessedPictures(), 0);

    // Lost at both ends (the IDR at 30 with 29 before it, 38 and 39 after): the
    // GOP length that never varied places them; at the end of the stream a
    // remaining hold is a guess.
    for (std::uint32_t f = 1; f <= 8; ++f) add(f, false, 0);
    for (std::uint32_t f = 1; f <= 7; ++f) add(f, false, 0);
    add(0, true, 40);
    EXPECT_EQ(got[got.size() - 8], 31);
    EXPECT_EQ(placer.guessedPictures(), 0);
    // The IDR at 50 lost with 45..52: what follows stays held to the end of
    // the stream, then goes out at the earliest place possible, as a guess.
    for (std::uint32_t f = 1; f <= 4; ++f) add(f, false, 0);
    EXPECT_EQ(add(3, false, 0), 0u);
    const auto last = placer.finish();
    ASSERT_EQ(last.size(), 1u);
    EXPECT_TRUE(last[0].guessed);
    EXPECT_EQ(last[0].index, 48);
    EXPECT_EQ(placer.guessedPictures(), 1);
}

// A stream whose start was lost up to the IDR picture numbered 10, with more
// lost after its GOP: the next IDR picture's number, further on than the GOP
// reaches, confirms the numbering, and the GOP goes where its number says.
// An IDR number behind the first one is no picture number.
TEST(PicturePlacement, AStartLostUpToAnIdrPictureIsConfirmedByALaterIdrBeyondALossToo)
{
    for (const std::uint32_t next : {50u, 5u}) {
        PicturePlacer placer;
        std::vector<std::int64_t> got;
        auto add = [&](std::uint32_t frameNum, bool idr, std::uint32_t id) {
            for (const Placement& p : placer.add(sixteenBitNumbers(frameNum, idr, id))) got.push_back(p.index);
        };
        add(0, true, 10);
        for (std::uint32_t f = 1; f <= 9; ++f) add(f, false, 0);
        add(0, true, next);
        for (const Placement& p : placer.finish()) got.push_back(p.index);
        ASSERT_EQ(got.size(), 11u) << next;
        EXPECT_EQ(got.front(), next == 50 ? 10 : 0) << next;
        EXPECT_EQ(got[9], next == 50 ? 19 : 9) << next;
        EXPECT_EQ(got.back(), next == 50 ? 50 : 10) << next;
        EXPECT_EQ(placer.numberedStream(), next == 50);
    }
}

TEST(PicturePlacement, StreamsWithoutNumbersTakeTheSmallestReadingAndSaySo)
{
    PicturePlacer t;
    EXPECT_EQ(places(t, {pic(0, true), pic(1), pic(4), pic(5)}), (std::vector<std::int64_t>{0, 1, 4, 5}));
    EXPECT_EQ(t.wrapHidesLoss(), 0u) << "frame_num has not wrapped yet";
    // Wrapping past MaxFrameNum; the same frame_num again is a whole wrap lost.
    std::vector<PictureNumbers> wrap;
    for (std::uint32_t n = 6; n < 16; ++n) wrap.push_back(pic(n));
    wrap.push_back(pic(1));
    wrap.push_back(pic(1));
    const auto placed = places(t, wrap);
    EXPECT_EQ(placed[placed.size() - 2], 17);
    EXPECT_EQ(placed.back(), 33);
    EXPECT_FALSE(t.untracedLossPossible());
    // Non-reference pictures share the next frame_num; one lost leaves no trace.
    EXPECT_EQ(places(t, {pic(2, false, false), pic(2, false, false), pic(2)}), (std::vector<std::int64_t>{34, 35, 36}));
    EXPECT_TRUE(t.untracedLossPossible());
    EXPECT_EQ(t.wrapHidesLoss(), 16u);
    EXPECT_FALSE(t.numberedStream());

    // A lost IDR is taken where the IDR spacing says one was due.
    PicturePlacer g;
    for (int gop = 0; gop < 2; ++gop)
        for (std::uint32_t n = 0; n <= 9; ++n) places(g, {pic(n, n == 0)});
    EXPECT_EQ(places(g, {pic(1)}), (std::vector<std::int64_t>{21})) << "IDR at 20 lost";
    for (std::uint32_t n = 2; n <= 9; ++n) places(g, {pic(n)});
    EXPECT_EQ(places(g, {pic(2)}), (std::vector<std::int64_t>{32})) << "IDR at 30 and its first P lost";
    PictureNumbers afterSets = pic(4);
    afterSets.afterParameterSets = true;
    for (std::uint32_t n = 3; n <= 15; ++n) places(g, {pic(n)});
    EXPECT_EQ(places(g, {afterSets}), (std::vector<std::int64_t>{50})) << "parameter sets before a P picture: its IDR was lost";

    // Parameter sets repeated before P pictures (intra refresh): a gap after
    // them reads as lost P pictures too, the smaller reading, and a guess.
    PicturePlacer refresh;
    EXPECT_EQ(places(refresh, {pic(0, true), pic(1), pic(2), pic(3)}), (std::vector<std::int64_t>{0, 1, 2, 3}));
    PictureNumbers repeatedSets = pic(6);
    repeatedSets.afterParameterSets = true;
    EXPECT_EQ(places(refresh, {repeatedSets}), (std::vector<std::int64_t>{6}));
    EXPECT_EQ(refresh.guessedPictures(), 1);
    EXPECT_EQ(g.guessedPictures(), 0) << "both readings gave the same place";

    // A stream starting after its IDR picture.
    PicturePlacer late;
    EXPECT_EQ(places(late, {pic(3)}), (std::vector<std::int64_t>{3}));
}

TEST(PicturePlacement, PicturesWithoutParameterSetsCountFromTheAccessUnits)
{
    PicturePlacer t;
    PictureNumbers unknown;
    unknown.idr = true;
    std::vector<PictureNumbers> start{unknown};
    unknown.idr = false;
    for (int i = 0; i < 9; ++i) start.push_back(unknown);
    PictureNumbers idr;
    idr.known = true;
    idr.idr = true;
    idr.idrPicId = 10;
    idr.frameNumBits = 16;
    start.push_back(idr);
    std::vector<std::int64_t> expected(11);
    for (int i = 0; i < 11; ++i) expected[std::size_t(i)] = i;
    EXPECT_EQ(places(t, start), expected);
    EXPECT_TRUE(t.numberedStream());
}
