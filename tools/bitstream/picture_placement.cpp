#include "tools/bitstream/picture_placement.h"

#include <algorithm>
#include <cstdint>

namespace kestrune::h264 {
namespace {

constexpr std::int64_t kIdrNumbers = 65536;  // idr_pic_id is a picture number modulo this

// The smallest place at or after `from` whose number modulo 65,536 is `number`.
std::int64_t placeOfNumber(std::int64_t from, std::uint32_t number)
{
    const std::int64_t base = from < 0 ? 0 : from;
    return base + ((static_cast<std::int64_t>(number) - base) % kIdrNumbers + kIdrNumbers) % kIdrNumbers;
}

} // namespace

PictureNumbers pictureNumbersOf(const NalHeader& header, const SliceHeader& slice, const ParameterSets& sets)
{
    PictureNumbers n;
    n.idr = header.nal_unit_type == NalIdrSlice;
    n.reference = header.nal_ref_idc != 0;
    n.known = slice.numbersParsed;
    n.frameNum = slice.frame_num;
    n.idrPicId = slice.idr_pic_id;
    n.frameNumBits = slice.frameNumBits;
    if (slice.complete) {
        const Pps* pps = sets.findPps(slice.pic_parameter_set_id);
        const Sps* sps = pps ? sets.findSps(pps->seq_parameter_set_id) : nullptr;
        n.gapsAllowed = sps && sps->gaps_in_frame_num_value_allowed_flag;
        for (const MemoryManagementOperation& op : slice.mmcos)
            if (op.memory_management_control_operation == 5) n.resetsFrameNum = true;
    }
    return n;
}

std::uint32_t PicturePlacer::wrapHidesLoss() const
{
    // Only a stream whose frame_num does wrap: where every GOP ends before
    // MaxFrameNum, a run that long takes an IDR picture and shows.
    if (numbering_ == Numbering::Present || !frameNumWrapped_ || frameNumBits_ <= 0 || frameNumBits_ >= 16) return 0;
    return 1u << frameNumBits_;
}

std::int64_t PicturePlacer::holdLimit() const
{
    // At most one GOP: the longest seen, and no less than libx264's default
    // (scene cuts shorten some GOPs, so those seen may all be short).
    return std::max<std::int64_t>(maxSpacing_, 250);
}

std::int64_t PicturePlacer::jumpLimit() const
{
    // Far beyond any loss run a channel leaves in a stream that still
    // decodes: a longer jump means the number itself was damaged, and trusting
    // it would write thousands of repeated frames.
    return 4 * holdLimit();
}

bool PicturePlacer::laterIdrTells() const
{
    return numbering_ == Numbering::Present || (numbering_ == Numbering::Unknown && frameNumBits_ >= 16);
}

bool PicturePlacer::idrDue(std::int64_t place) const
{
    return spacing_ > 0 && lastIdrIndex_ >= 0 && place >= lastIdrIndex_ + spacing_;
}

void PicturePlacer::noteIdrAt(std::int64_t index)
{
    if (idrSeen_ && lastIdrIndex_ >= 0 && index > lastIdrIndex_) {
        const std::int64_t spacing = index - lastIdrIndex_;
        if (spacing_ > 0 && spacing != spacing_) regular_ = false;
        spacing_ = spacing;
        minSpacing_ = minSpacing_ > 0 ? std::min(minSpacing_, spacing) : spacing;
        maxSpacing_ = std::max(maxSpacing_, spacing);
        ++gopsSeen_;
    }
    lastIdrIndex_ = index;
    idrSeen_ = true;
}

std::vector<Placement> PicturePlacer::placeAt(std::int64_t received, std::int64_t index, bool guessed)
{
    if (index <= lastIndex_) index = lastIndex_ + 1;  // places only increase
    lastIndex_ = index;
    if (guessed) ++guessed_;
    return {{received, index, guessed}};
}

std::vector<Placement> PicturePlacer::releaseHeld(std::int64_t base, bool guessed, bool afterLostIdr)
{
    std::vector<Placement> out;
    // Only a known place says anything about the GOP length.
    if (afterLostIdr && !guessed) noteIdrAt(base);
    for (const Held& h : held_) {
        auto placed = placeAt(h.received, base + h.offset, guessed);
        out.insert(out.end(), placed.begin(), placed.end());
    }
    refIndex_ = base + refIndex_;
    holding_ = false;
    sameGopPossible_ = false;
    held_.clear();
    return out;
}

bool PicturePlacer::sameGopFits(std::int64_t before) const
{
    // The held pictures may continue the last GOP if it then ends before `before`.
    return sameGopPossible_ && sameGopBase_ + held_.back().offset < before;
}

std::vector<Placement> PicturePlacer::releaseHeldByGuess()
{
    // After a gap, the reading with the fewest pictures lost: no IDR picture
    // among them. Otherwise the earliest place possible: a later IDR
    // picture's number can then never lie behind places already given.
    if (sameGopPossible_) return releaseHeld(sameGopBase_, true, false);
    return releaseHeld(holdFrom_, true);
}

std::vector<Placement> PicturePlacer::releaseHeldBefore(std::int64_t idrPlace)
{
    // The fewest pictures lost, as above; where the held GOP then runs into
    // this IDR picture, an IDR picture was lost in the gap after all.
    if (sameGopFits(idrPlace)) return releaseHeld(sameGopBase_, false, false);
    // A lost IDR picture began the held GOP, which ends before this one; it
    // came no sooner after the last IDR picture than any GOP seen.
    std::int64_t lo = holdFrom_;
    if (minSpacing_ > 0) lo = std::max(lo, lastIdrIndex_ + minSpacing_);
    const std::int64_t hi = idrPlace - 1 - held_.back().offset;
    if (hi < lo) return releaseHeldByGuess();  // the numbers contradict each other
    if (regular_ && gopsSeen_ >= 2 && idrPlace - spacing_ >= lo && idrPlace - spacing_ <= hi)
        return releaseHeld(idrPlace - spacing_, false);  // a GOP length that never varied
    // The reading with one loss run: it took the lost IDR picture and the end
    // of the GOP before it, and the held GOP came through to its end.
    return releaseHeld(hi, false);
}

std::vector<Placement> PicturePlacer::holdAfterGap(const PictureNumbers& p, std::int64_t r, std::int64_t place)
{
    holding_ = true;
    sameGopPossible_ = true;
    sameGopBase_ = refIndex_ - static_cast<std::int64_t>(refFrameNum_);
    holdFrom_ = lastIndex_ + 1;
    held_ = {{r, place - sameGopBase_}};
    refIndex_ -= sameGopBase_;
    if (p.reference) {
        refFrameNum_ = p.resetsFrameNum ? 0 : p.frameNum;
        refIndex_ = held_.back().offset;
    }
    return {};
}

std::vector<Placement> PicturePlacer::add(const PictureNumbers& p)
{
    // A stream that begins with an IDR picture numbered other than 0: ours
    // after a lost start, or another encoder's numbering. Its first GOP waits
    // for the next IDR picture to tell.
    if (!startDecided_ && p.idr && p.known && p.frameNumBits >= 16 && p.idrPicId != 0 && received_ == 0 && deferred_.empty())
        return defer(p);
    if (!deferred_.empty()) {
        if (p.idr && p.known) {
            auto out = resolveDeferred(&p);
            auto placed = add(p);
            out.insert(out.end(), placed.begin(), placed.end());
            return out;
        }
        if (static_cast<std::int64_t>(deferred_.size()) <= holdLimit()) return defer(p);
        auto out = resolveDeferred(nullptr);
        auto placed = add(p);
        out.insert(out.end(), placed.begin(), placed.end());
        return out;
    }
    startDecided_ = true;
    if (!p.reference) nonReferenceSeen_ = true;
    const std::int64_t r = received_++;
    if (p.known && p.frameNumBits > 0) frameNumBits_ = p.frameNumBits;
    const std::uint32_t maxFrameNum = frameNumBits_ > 0 ? 1u << frameNumBits_ : 0;

    if (!p.known) {
        // Without its parameter sets a picture is still a picture: the access
        // unit structure says it is the next one.
        refFrameNum_ = maxFrameNum ? (refFrameNum_ + 1) % maxFrameNum : refFrameNum_ + 1;
        if (p.idr) refFrameNum_ = 0;
        if (holding_) {
            if (p.idr) {
                auto out = releaseHeldByGuess();
                auto placed = placeAt(r, lastIndex_ + 1);
                out.insert(out.end(), placed.begin(), placed.end());
                noteIdrAt(lastIndex_);
                refIndex_ = lastIndex_;
                return out;
            }
            refIndex_ = held_.back().offset + 1;
            held_.push_back({r, refIndex_});
            if (static_cast<std::int64_t>(held_.size()) > holdLimit()) return releaseHeldByGuess();
            return {};
        }
        auto out = placeAt(r, lastIndex_ + 1);
        if (p.idr) noteIdrAt(lastIndex_);
        refIndex_ = lastIndex_;
        return out;
    }
    if (p.idr) return addIdr(p, r);
    if (!idrSeen_ && !holding_) return addAfterLostIdr(p, r);  // the stream starts after its IDR picture

    std::uint32_t f = p.frameNum;
    const std::uint32_t delta = (f + maxFrameNum - refFrameNum_ % maxFrameNum) % maxFrameNum;
    // Without gaps every picture's frame_num is the last reference picture's
    // plus one (clause 7.4.3), so only another value shows a loss: the same
    // value, a whole wrap lost. Where the stream may skip values, no value does.
    std::int64_t step = p.gapsAllowed ? 1 : delta == 0 ? maxFrameNum : delta;
    // Parameter sets before a picture whose frame_num continues are just
    // repeated ones: only a frame_num that does not fit says an IDR was lost.
    bool lostIdr = p.afterParameterSets && step != 1;
    bool readingsDiffer = false;
    if (lostIdr && !laterIdrTells()) {
        // Other encoders repeat parameter sets before any picture (intra
        // refresh, cameras): the gap may just as well lie within the GOP, and
        // nothing later tells. The smaller reading, said to be a guess.
        const std::int64_t afterIdr = lastIndex_ + 1 + std::min<std::int64_t>(f, holdLimit());
        const std::int64_t sameGop = refIndex_ + step;
        readingsDiffer = afterIdr != sameGop;
        lostIdr = afterIdr <= sameGop;
    }
    if (lostIdr) {
        auto out = addAfterLostIdr(p, r);
        if (readingsDiffer && !out.empty()) {
            out.back().guessed = true;
            ++guessed_;
        }
        return out;
    }
    if (step != 1 && !readingsDiffer) {
        if (frameNumBits_ >= 16) {
            // frame_num cannot wrap within a loss run: falling back means an
            // IDR picture reset it. Otherwise the same GOP is the reading: if
            // an IDR was lost after all, it places the picture too early,
            // never beyond a later IDR picture's number.
            lostIdr = f <= refFrameNum_ && refFrameNum_ - f < maxFrameNum / 2;
        } else if (!holding_) {
            // A small MaxFrameNum wraps every few pictures, far more often
            // than an IDR comes: a wrap is taken unless an IDR was due.
            lostIdr = f >= 1 && f < step && idrDue(refIndex_ + step);
        }
    }
    if (lostIdr) return addAfterLostIdr(p, r);
    // A jump no loss run explains: a damaged frame_num.
    const bool damaged = step > jumpLimit();
    if (damaged) {
        // Taken as the next picture, and said to be a guess.
        step = 1;
        f = (refFrameNum_ + 1) % maxFrameNum;
        ++guessed_;
    }

    if (refFrameNum_ % maxFrameNum + static_cast<std::uint64_t>(step) >= maxFrameNum) frameNumWrapped_ = true;
    const std::int64_t place = refIndex_ + step;
    if (holding_) {
        held_.push_back({r, std::max(place, held_.back().offset + 1)});
        if (p.reference) {
            refFrameNum_ = p.resetsFrameNum ? 0 : f;
            refIndex_ = held_.back().offset;
        }
        if (static_cast<std::int64_t>(held_.size()) > holdLimit()) return releaseHeldByGuess();
        return {};
    }
    // Any gap may hide an IDR picture lost with its parameter sets, after
    // which frame_num reads as this GOP's: where a later IDR picture's number
    // can tell, wait for it.
    if (step > 1 && frameNumBits_ >= 16 && numbering_ != Numbering::Absent) return holdAfterGap(p, r, place);
    auto out = placeAt(r, place);
    if (damaged || readingsDiffer) out.back().guessed = true;
    if (readingsDiffer && !damaged) ++guessed_;
    if (p.reference) {
        refFrameNum_ = p.resetsFrameNum ? 0 : f;
        refIndex_ = lastIndex_;
    }
    return out;
}

std::vector<Placement> PicturePlacer::addAfterLostIdr(const PictureNumbers& p, std::int64_t r)
{
    std::vector<Placement> out;
    if (holding_) out = releaseHeldByGuess();  // a second lost IDR before the first was placed
    if (!laterIdrTells()) {
        // Nothing will tell where the lost IDR stood: the smallest reading,
        // right after the last picture.
        noteIdrAt(lastIndex_ + 1);
        auto placed = placeAt(r, lastIndex_ + 1 + std::min<std::int64_t>(p.frameNum, holdLimit()));
        out.insert(out.end(), placed.begin(), placed.end());
        refFrameNum_ = p.resetsFrameNum ? 0 : p.frameNum;
        refIndex_ = lastIndex_;
        return out;
    }
    holding_ = true;
    holdFrom_ = lastIndex_ + 1;
    // An IDR picture more than a GOP back: a damaged frame_num.
    const std::int64_t offset = std::min<std::int64_t>(p.frameNum, holdLimit());
    held_ = {{r, offset}};
    refFrameNum_ = p.resetsFrameNum ? 0 : p.frameNum;
    refIndex_ = offset;
    return out;
}

std::vector<Placement> PicturePlacer::addIdr(const PictureNumbers& p, std::int64_t r)
{
    std::vector<Placement> out;
    // The smallest place the pictures before it allow.
    const std::int64_t heldBase = sameGopPossible_ ? sameGopBase_ : holdFrom_;
    const std::int64_t implied = holding_ ? heldBase + held_.back().offset + 1 : lastIndex_ + 1;
    const std::int64_t byNumber = placeOfNumber(implied, p.idrPicId);
    if (numbering_ == Numbering::Unknown) {
        // idr_pic_id is a number only by our convention, which goes with a
        // frame_num that cannot wrap: trusted in such a stream once it matched
        // a place or, since a loss right before an IDR picture leaves no other
        // trace, lies no further ahead than a loss run. Other encoders count
        // IDR pictures, alternate 0 and 1 or scatter the numbers, which
        // matches a place now and then by chance. The first picture of a
        // stream proves nothing either way.
        if (implied == 0) {}
        else if (frameNumBits_ >= 16 && byNumber - implied <= jumpLimit()) numbering_ = Numbering::Present;
        else numbering_ = Numbering::Absent;
    }
    std::int64_t place = implied;
    bool guessed = false;
    if (numbering_ == Numbering::Present) {
        // A number behind the places already given, or further ahead than
        // any loss run, means an earlier reading was wrong; where no loss
        // was read at all, that the numbers were never picture numbers and
        // matched by chance (an encoder alternating 0 and 1).
        if (byNumber - implied <= jumpLimit()) place = byNumber;
        else if (guessed_ == 0 && !holding_ && lastIndex_ + 1 == r) numbering_ = Numbering::Absent;
        else guessed = true;
    }
    if (holding_) out = releaseHeldBefore(place);
    auto placed = placeAt(r, place, guessed);
    out.insert(out.end(), placed.begin(), placed.end());
    noteIdrAt(lastIndex_);
    refFrameNum_ = 0;
    refIndex_ = lastIndex_;
    return out;
}

std::vector<Placement> PicturePlacer::defer(const PictureNumbers& p)
{
    deferred_.push_back(p);
    return {};
}

std::vector<Placement> PicturePlacer::resolveDeferred(const PictureNumbers* nextIdr)
{
    const std::vector<PictureNumbers> pictures = std::move(deferred_);
    deferred_.clear();
    startDecided_ = true;
    const std::uint32_t firstNumber = pictures.front().idrPicId;
    if (nextIdr) {
        // The numbers hold if the next IDR picture's lies as far on as the
        // first GOP's pictures reach, or further by no more than a loss run
        // (pictures were lost after the first GOP too), as a later IDR
        // picture's number is trusted.
        PicturePlacer trial;
        trial.startDecided_ = true;
        for (const PictureNumbers& p : pictures) trial.add(p);
        trial.finish();
        const std::int64_t length = trial.lastIndex_ + 1;
        const std::int64_t reach = (nextIdr->idrPicId + kIdrNumbers - firstNumber) % kIdrNumbers;
        if (reach >= length && reach - length <= jumpLimit())
            lastIndex_ = firstNumber - 1;  // the pictures before the first IDR picture were lost
    }
    std::vector<Placement> out;
    for (const PictureNumbers& p : pictures) {
        auto placed = add(p);
        out.insert(out.end(), placed.begin(), placed.end());
    }
    return out;
}

std::vector<Placement> PicturePlacer::finish()
{
    if (!deferred_.empty()) {
        auto out = resolveDeferred(nullptr);
        auto rest = finish();
        out.insert(out.end(), rest.begin(), rest.end());
        return out;
    }
    if (!holding_) return {};
    return releaseHeldByGuess();
}

} // namespace kestrune::h264
