#include "tools/decode/frame_sequencer.h"

#include "tools/decode/display_order.h"

namespace kestrune::decode {

std::int64_t FrameSequencer::receive(const ReceivedOrder& picture)
{
    if (picture.poc) displayOrdering_ = true;
    if (picture.decoded && picture.bidirectional) bidirectionalSeen_ = true;
    waiting_[received_] = {picture, false};
    return received_++;
}

void FrameSequencer::frameReady(std::int64_t received)
{
    auto it = waiting_.find(received);
    if (it == waiting_.end() || !it->second.order.decoded) return;
    it->second.ready = true;
    writePlaced(false);
}

void FrameSequencer::place(const h264::PictureNumbers& numbers, std::int64_t sentPlace)
{
    if (sentPlace >= 0) addPlacements({{received_ - 1, sentPlace, false}});
    else addPlacements(placer_.add(numbers));
}

void FrameSequencer::finish()
{
    addPlacements(placer_.finish());
    writePlaced(true);
    if (!frameWritten_)
        for (; greyOwed_ > 0; --greyOwed_) sink_({SequencedOutput::Kind::Grey, -1});
    waiting_.clear();
}

void FrameSequencer::addPlacements(const std::vector<h264::Placement>& placed)
{
    placements_.insert(placements_.end(), placed.begin(), placed.end());
    writePlaced(false);
}

// Every placed picture whose frame is settled goes out, in place order; at the
// end (final) a frame never made ready is a lost place.
void FrameSequencer::writePlaced(bool final)
{
    while (!placements_.empty()) {
        const h264::Placement& next = placements_.front();
        auto it = waiting_.find(next.received);
        const bool settled = it == waiting_.end() || !it->second.order.decoded || it->second.ready;
        if (!settled && !final) return;
        for (; nextPlace_ < next.index; ++nextPlace_) emit({});
        Slot slot;
        if (it != waiting_.end()) {
            slot = {next.received, it->second.ready, it->second.order.poc, it->second.order.restartsOrder};
            waiting_.erase(it);
        }
        emit(slot);
        ++nextPlace_;
        placements_.pop_front();
    }
    if (!final) return;
    // Pictures lost at the end leave a trace only in the sent stream.
    for (; nextPlace_ < sentPictures_; ++nextPlace_) emit({});
    flushPeriod();
}

void FrameSequencer::emit(Slot slot)
{
    if (!displayOrdering_) {
        write(slot);
        return;
    }
    if (slot.restartsOrder) flushPeriod();
    period_.push_back(slot);
}

void FrameSequencer::flushPeriod()
{
    std::vector<std::optional<std::int64_t>> pocs;
    for (const Slot& slot : period_) pocs.push_back(slot.poc);
    pocStep_ = pocStep(pocStep_, pocs);
    // Only pictures that nothing refers to leave no trace in frame_num, and
    // only B pictures are left out that way. Encoders may skip counts (a
    // variable frame rate does), so a count left free is a lost picture only
    // in a stream we wrote, whose counts never skip (its IDR pictures carry
    // our numbering; never so with the sent stream, which places every picture).
    const bool freeCountsAreLost = bidirectionalSeen_ && placer_.numberedStream();
    for (std::size_t index : displayOrder(pocs, pocStep_, freeCountsAreLost)) {
        if (index < period_.size()) write(period_[index]);
        else writeLost();
    }
    period_.clear();
}

void FrameSequencer::write(const Slot& slot)
{
    if (!slot.ready) {
        writeLost();
        return;
    }
    if (!frameWritten_)
        for (; greyOwed_ > 0; --greyOwed_) sink_({SequencedOutput::Kind::Grey, slot.received});
    frameWritten_ = true;
    sink_({SequencedOutput::Kind::Frame, slot.received});
}

void FrameSequencer::writeLost()
{
    ++lost_;
    if (!frameWritten_) ++greyOwed_;  // written once a frame gives the size
    else sink_({SequencedOutput::Kind::Repeat, -1});
}

} // namespace kestrune::decode
