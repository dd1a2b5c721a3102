// The frame sequencer on random coded sequences, lossy and with decode
// failures and late frames: every place gets exactly one output frame, each
// written picture lands at its own display position, and only lost places repeat.
#include "tools/decode/frame_sequencer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

using namespace kestrune;
using decode::FrameSequencer;
using decode::SequencedOutput;

namespace {

// One coded picture of a stream like the ones our encoder writes: IDR periods
// of `gop` pictures, with `bFrames` non-reference B pictures between
// reference pictures (decode order I P B B P B B ...), idr_pic_id the
// picture's number, POC twice its display position in the period.
struct Coded {
    h264::PictureNumbers numbers;
    std::int64_t poc = 0;
    std::int64_t display = 0;  // position in display order over the whole sequence
    bool bidirectional = false;
};

std::vector<Coded> codedSequence(int periods, int gop, int bFrames)
{
    std::vector<Coded> out;
    for (int period = 0; period < periods; ++period) {
        const std::int64_t start = std::int64_t(period) * gop;
        std::uint32_t frameNum = 0;
        auto add = [&](int position, bool reference) {
            Coded c;
            c.numbers.idr = position == 0;
            c.numbers.reference = reference;
            c.numbers.known = true;
            c.numbers.frameNum = frameNum;
            c.numbers.idrPicId = std::uint32_t(start + position) & 0xFFFF;
            c.numbers.frameNumBits = 16;
            c.numbers.afterParameterSets = position == 0;
            c.poc = 2 * position;
            c.display = start + position;
            c.bidirectional = !reference;
            out.push_back(c);
            if (reference) ++frameNum;
        };
        add(0, true);
        for (int anchor = 1; anchor < gop;) {
            const int next = std::min(anchor + bFrames, gop - 1);
            add(next, true);
            for (int b = anchor; b < next; ++b) add(b, false);
            anchor = next + 1;
        }
    }
    return out;
}

struct Outcome {
    std::vector<SequencedOutput> outputs;
    std::set<std::int64_t> written;            // received numbers whose frame was made ready
    std::map<std::int64_t, std::int64_t> displayOf;  // received number -> display position
    long long lost = 0;
};

// Feeds the received pictures, with frames made ready late and in any order
// (as libavcodec's reordering delay does), some never.
Outcome run(const std::vector<Coded>& coded, const std::vector<bool>& received, bool withPoc, bool sent,
            std::mt19937& random)
{
    Outcome outcome;
    FrameSequencer sequencer([&](const SequencedOutput& o) { outcome.outputs.push_back(o); });
    if (sent) sequencer.setSentPictures(std::int64_t(coded.size()));
    std::vector<std::int64_t> late;
    bool anyB = false;
    for (std::size_t i = 0; i < coded.size(); ++i) {
        if (!received[i]) continue;
        const Coded& c = coded[i];
        // The first B picture always decodes: until one has, a free count is no sign of a loss.
        const bool firstB = c.bidirectional && !anyB;
        anyB = anyB || c.bidirectional;
        const bool decoded = firstB || random() % 8 != 0;
        const std::int64_t number = sequencer.receive(
            {decoded, c.bidirectional, c.numbers.idr, withPoc ? std::optional<std::int64_t>(c.poc) : std::nullopt});
        outcome.displayOf[number] = c.display;
        if (decoded) late.push_back(number);
        while (!late.empty() && random() % 3 != 0) {
            const std::size_t pick = random() % late.size();
            if (random() % 16 != 0) {
                sequencer.frameReady(late[pick]);
                outcome.written.insert(late[pick]);
            }
            late.erase(late.begin() + std::ptrdiff_t(pick));
        }
        sequencer.place(c.numbers, sent ? std::int64_t(i) : -1);
    }
    for (std::int64_t number : late) {
        sequencer.frameReady(number);
        outcome.written.insert(number);
    }
    sequencer.finish();
    outcome.lost = sequencer.picturesLost();
    return outcome;
}

// The invariants every output sequence keeps: `places` frames, the frame of
// every written picture once, at its display position when exact, mid-grey
// only before the first frame and repeats only after it.
void expectSequenced(const Outcome& o, std::int64_t places, bool exact)
{
    ASSERT_EQ(std::int64_t(o.outputs.size()), places);
    std::set<std::int64_t> frames;
    bool frameSeen = false;
    for (std::size_t k = 0; k < o.outputs.size(); ++k) {
        const SequencedOutput& out = o.outputs[k];
        switch (out.kind) {
        case SequencedOutput::Kind::Frame:
            EXPECT_TRUE(frames.insert(out.received).second) << "picture " << out.received << " written twice";
            if (exact) {
                EXPECT_EQ(std::int64_t(k), o.displayOf.at(out.received)) << "picture " << out.received;
            }
            frameSeen = true;
            break;
        case SequencedOutput::Kind::Repeat:
            EXPECT_TRUE(frameSeen) << "repeat before any frame at " << k;
            break;
        case SequencedOutput::Kind::Grey:
            EXPECT_FALSE(frameSeen) << "grey after a frame at " << k;
            if (out.received >= 0) {
                EXPECT_TRUE(o.written.count(out.received));
            }
            break;
        }
    }
    EXPECT_EQ(frames, o.written);
    EXPECT_EQ(o.lost, places - std::int64_t(frames.size()));
}

std::vector<bool> randomLosses(const std::vector<Coded>& coded, int percent, bool keepIdr, std::mt19937& random)
{
    std::vector<bool> received(coded.size());
    bool anyB = false;
    for (std::size_t i = 0; i < coded.size(); ++i) {
        const bool firstB = coded[i].bidirectional && !anyB;
        anyB = anyB || coded[i].bidirectional;
        // Kept: the IDR pictures, the first B picture, and the picture
        // shown second, whose count shows the step between frames.
        const bool kept = coded[i].numbers.idr || firstB || coded[i].display == 1;
        received[i] = (keepIdr && kept) || int(random() % 100) >= percent;
    }
    return received;
}

} // namespace

// With the sent stream every picture's place is known: the whole sequence
// comes out, each picture at its display position, whatever was lost (the
// counts restart at each IDR picture, received here).
TEST(FrameSequencer, SentPlacesGiveEveryPictureItsDisplayPosition)
{
    std::mt19937 random(7);
    for (int trial = 0; trial < 300; ++trial) {
        const auto coded = codedSequence(1 + int(random() % 4), 2 + int(random() % 12), int(random() % 4));
        const auto received = randomLosses(coded, int(random() % 60), true, random);
        const Outcome o = run(coded, received, true, true, random);
        SCOPED_TRACE("trial " + std::to_string(trial));
        expectSequenced(o, std::int64_t(coded.size()), true);
    }
}

// From the numbers alone, in a stream we wrote: a lost reference picture shows
// in frame_num, a lost B picture in the next IDR picture's number or, in the
// last IDR period, only in the free picture order count; with the IDR
// pictures received every place is exact. A frame_num gap in the last period
// leaves a guess (the IDR picture may have been lost), so there only B
// pictures are lost here.
TEST(FrameSequencer, NumberedStreamPlacesLostReferenceAndBPictures)
{
    std::mt19937 random(11);
    for (int trial = 0; trial < 300; ++trial) {
        const int bFrames = int(random() % 3);
        const auto coded = codedSequence(3 + int(random() % 3), 4 + int(random() % 10), bFrames);
        auto received = randomLosses(coded, int(random() % 40), true, random);
        const auto lastIdr = std::size_t(
            std::find_if(coded.rbegin(), coded.rend(), [](const Coded& c) { return c.numbers.idr; }).base() - coded.begin() - 1);
        for (std::size_t i = lastIdr; i < coded.size(); ++i)
            if (!coded[i].bidirectional) received[i] = true;
        const Outcome o = run(coded, received, bFrames > 0, false, random);
        SCOPED_TRACE("trial " + std::to_string(trial) + ", B pictures " + std::to_string(bFrames));
        // Up to the last picture received in decode order, and every picture shown before it.
        std::int64_t places = 0;
        for (std::size_t i = 0; i < coded.size(); ++i)
            if (received[i]) places = std::max({places, std::int64_t(i) + 1, coded[i].display + 1});
        expectSequenced(o, places, true);
    }
}

// Without a picture order count (pic_order_cnt_type 2, or no readable count)
// frames go out in place order, and a stream whose first pictures are lost
// starts with as many mid-grey frames, sized by the first frame written.
TEST(FrameSequencer, PlaceOrderAndGreyStart)
{
    std::mt19937 random(5);
    for (int trial = 0; trial < 200; ++trial) {
        const auto coded = codedSequence(1 + int(random() % 3), 2 + int(random() % 8), 0);
        auto received = randomLosses(coded, int(random() % 80), false, random);
        const Outcome o = run(coded, received, false, true, random);
        SCOPED_TRACE("trial " + std::to_string(trial));
        expectSequenced(o, std::int64_t(coded.size()), true);
        const auto firstFrame = std::find_if(o.outputs.begin(), o.outputs.end(),
                                             [](const SequencedOutput& out) { return out.kind == SequencedOutput::Kind::Frame; });
        for (auto it = o.outputs.begin(); it != firstFrame; ++it)
            EXPECT_EQ(it->received, firstFrame == o.outputs.end() ? -1 : firstFrame->received);
    }
}
