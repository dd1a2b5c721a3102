#pragma once
// Places each received picture in the coded sequence after losses, from the
// numbers its slice headers carry (ITU-T H.264 clause 7.4.3): frame_num counts
// reference pictures since the last IDR picture, modulo MaxFrameNum. Streams
// we write make every place knowable: MaxFrameNum is 65,536, so frame_num
// cannot wrap within a loss run, and idr_pic_id is the IDR picture's number
// in the sequence (mod 65,536). A stream whose IDR pictures match the numbers
// seen so far is taken to carry that numbering; any other stream is placed by
// the smallest reading its numbers allow, and that is said (wrapHidesLoss).
//
// Pictures after a lost IDR picture have a place that only a later IDR can
// tell (the pictures lost before the IDR and after it are not told apart by
// frame_num): they are held, at most one GOP, and placed when that IDR comes
// or, by a guess, when the hold is full or the stream ends. In a numbered
// stream so is every picture after a frame_num gap: the gap may hide an IDR
// picture lost with its parameter sets, after which frame_num reads as the
// same GOP's; the next IDR picture's number tells the two readings apart.
#include "tools/bitstream/nal_unit.h"
#include "tools/bitstream/parameter_sets.h"
#include "tools/bitstream/slice_header.h"

#include <cstdint>
#include <vector>

namespace kestrune::h264 {

// What the slice headers of one received picture say about its place.
struct PictureNumbers {
    bool idr = false;
    bool reference = true;          // nal_ref_idc != 0
    bool known = false;             // frame_num and idr_pic_id could be read
    std::uint32_t frameNum = 0;
    std::uint32_t idrPicId = 0;
    int frameNumBits = 0;           // log2(MaxFrameNum) of the SPS they were read with
    bool afterParameterSets = false; // an SPS or PPS came right before it (we send them only before IDR pictures)
    bool gapsAllowed = false;       // gaps_in_frame_num_value_allowed_flag: a frame_num gap is no loss
    bool resetsFrameNum = false;    // memory_management_control_operation 5: frame_num counts from 0 after it
};

// The numbers of a picture from the header of its first slice (complete, or
// read as far as its parameter sets allowed).
PictureNumbers pictureNumbersOf(const NalHeader& header, const SliceHeader& slice, const ParameterSets& sets);

struct Placement {
    std::int64_t received = 0;  // the picture's number in arrival order, from 0
    std::int64_t index = 0;     // its place in the coded sequence, from 0
    bool guessed = false;       // the numbers left more than one place open
};

class PicturePlacer {
public:
    // Call for every received picture in stream order. Returns the pictures
    // whose places became known, this one or held ones, in sequence order;
    // places only ever increase.
    std::vector<Placement> add(const PictureNumbers& picture);
    // Places what is still held (by a guess) at the end of the stream.
    std::vector<Placement> finish();

    // idr_pic_id was recognised as the picture number.
    bool numberedStream() const { return numbering_ == Numbering::Present; }
    // MaxFrameNum when the stream carries no picture numbers and its frame_num
    // wrapped within a GOP: a run of that many lost pictures leaves no trace; 0 otherwise.
    std::uint32_t wrapHidesLoss() const;
    // A picture no other picture refers to (nal_ref_idc 0) arrived: such a
    // picture lost leaves no trace in frame_num, and a stream without our
    // numbering has nothing else that tells (counts may skip in it).
    bool untracedLossPossible() const { return nonReferenceSeen_ && numbering_ != Numbering::Present; }
    std::int64_t guessedPictures() const { return guessed_; }
    std::int64_t received() const { return received_; }

private:
    enum class Numbering { Unknown, Present, Absent };
    struct Held {
        std::int64_t received;
        std::int64_t offset;  // place after the held GOP's IDR picture (lost, or the last one placed)
    };

    std::vector<Placement> placeAt(std::int64_t received, std::int64_t index, bool guessed = false);
    std::vector<Placement> releaseHeld(std::int64_t base, bool guessed, bool afterLostIdr = true);
    std::vector<Placement> releaseHeldByGuess();
    std::vector<Placement> releaseHeldBefore(std::int64_t idrPlace);
    bool sameGopFits(std::int64_t before) const;
    std::vector<Placement> holdAfterGap(const PictureNumbers& picture, std::int64_t received, std::int64_t place);
    bool idrDue(std::int64_t place) const;
    bool laterIdrTells() const;  // a later IDR picture's number will tell where a lost one stood
    std::vector<Placement> addIdr(const PictureNumbers& picture, std::int64_t received);
    std::vector<Placement> addAfterLostIdr(const PictureNumbers& picture, std::int64_t received);
    void noteIdrAt(std::int64_t index);
    std::int64_t holdLimit() const;
    std::int64_t jumpLimit() const;

    Numbering numbering_ = Numbering::Unknown;
    std::int64_t received_ = 0;
    std::int64_t lastIndex_ = -1;      // place of the last placed picture
    bool idrSeen_ = false;
    std::int64_t lastIdrIndex_ = -1;   // place of the last IDR picture (received or inferred)
    std::int64_t spacing_ = 0;         // pictures between the last two IDR pictures; 0 while unknown
    std::int64_t minSpacing_ = 0;      // the shortest and longest of those seen
    std::int64_t maxSpacing_ = 0;
    bool regular_ = true;              // every spacing seen was the same
    int gopsSeen_ = 0;
    std::uint32_t refFrameNum_ = 0;    // frame_num of the last reference picture
    std::int64_t refIndex_ = -1;       // its place (an offset while holding)
    int frameNumBits_ = 0;
    bool frameNumWrapped_ = false;     // frame_num passed MaxFrameNum back to 0 within a GOP
    bool nonReferenceSeen_ = false;
    bool holding_ = false;
    std::int64_t holdFrom_ = 0;        // the lost IDR picture lies at or after this place
    bool sameGopPossible_ = false;     // the hold began at a frame_num gap: no IDR may have been lost
    std::int64_t sameGopBase_ = 0;     // then the held offsets count from here
    std::vector<Held> held_;
    std::int64_t guessed_ = 0;
    bool startDecided_ = false;              // the first picture's place is settled
    std::vector<PictureNumbers> deferred_;   // the first GOP, while its IDR picture's number is in doubt
    std::vector<Placement> defer(const PictureNumbers& picture);
    std::vector<Placement> resolveDeferred(const PictureNumbers* nextIdr);
};

} // namespace kestrune::h264
