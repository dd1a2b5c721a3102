#pragma once
// Decides which frame goes out next, for both decoders: one frame per place
// of the coded sequence, whichever pictures arrived. A received picture is
// placed (from the sent stream, or from its numbers by h264::PicturePlacer),
// waits until its decoder has its frame ready, and is written at its place;
// a place no decodable picture fills repeats the previous frame, or is
// mid-grey while no frame has gone out yet. Streams with picture order counts
// go out in display order, one IDR period at a time (display_order.h).
// Knows pictures only by their received number: the frames stay with the caller.
#include "tools/bitstream/picture_placement.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace kestrune::decode {

struct SequencedOutput {
    enum class Kind {
        Frame,   // the frame of received picture `received`
        Repeat,  // a lost place: the previous frame again
        Grey,    // a lost place before any frame: mid-grey, the size of the frame of
                 // `received`, or (received < 0, at the end) of the stream's picture size
    };
    Kind kind = Kind::Frame;
    std::int64_t received = -1;
    bool operator==(const SequencedOutput&) const = default;
};

struct ReceivedOrder {
    bool decoded = false;        // its decoder made a picture; its frame follows (frameReady)
    bool bidirectional = false;  // a decoded B picture
    bool restartsOrder = false;  // IDR, or memory_management_control_operation 5
    std::optional<std::int64_t> poc;  // the count display order follows, when it differs from decode order
};

class FrameSequencer {
public:
    using Sink = std::function<void(const SequencedOutput&)>;
    explicit FrameSequencer(Sink sink) : sink_(std::move(sink)) {}

    // Every received picture, in stream order; returns its received number.
    std::int64_t receive(const ReceivedOrder& picture);
    std::int64_t nextReceived() const { return received_; }
    // The frame of a decoded picture is ready to be written.
    void frameReady(std::int64_t received);
    // The place of the picture received last: from its numbers, or from the
    // sent stream (sentPlace >= 0).
    void place(const h264::PictureNumbers& numbers, std::int64_t sentPlace = -1);
    // The sent stream holds this many pictures: places after the last received are lost too.
    void setSentPictures(std::int64_t pictures) { sentPictures_ = pictures; }
    // Places what is held, writes everything; a frame never made ready is a lost place.
    void finish();

    long long picturesLost() const { return lost_; }
    const h264::PicturePlacer& placer() const { return placer_; }

private:
    struct Waiting {
        ReceivedOrder order;
        bool ready = false;
    };
    // A place on its way out: a received picture (received >= 0) or a lost one.
    struct Slot {
        std::int64_t received = -1;
        bool ready = false;
        std::optional<std::int64_t> poc;
        bool restartsOrder = false;
    };

    void addPlacements(const std::vector<h264::Placement>& placed);
    void writePlaced(bool final);
    void emit(Slot slot);
    void flushPeriod();
    void write(const Slot& slot);
    void writeLost();

    Sink sink_;
    h264::PicturePlacer placer_;
    std::int64_t received_ = 0;
    std::int64_t sentPictures_ = 0;
    std::map<std::int64_t, Waiting> waiting_;  // received, not yet written
    std::deque<h264::Placement> placements_;   // places known, not yet written
    std::int64_t nextPlace_ = 0;               // the place of the next frame to write
    bool displayOrdering_ = false;             // a picture carried a count
    bool bidirectionalSeen_ = false;
    std::int64_t pocStep_ = 0;
    std::vector<Slot> period_;                 // the IDR period held for display order
    bool frameWritten_ = false;
    long long greyOwed_ = 0;                   // lost places before the first frame
    long long lost_ = 0;
};

} // namespace kestrune::decode
