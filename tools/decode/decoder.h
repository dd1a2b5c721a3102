#pragma once
// libavcodec's H.264 decoder with its own concealment switched off and ours
// applied in its picture buffers, so later pictures predict from concealed
// content. Feed one access unit at a time; frames come out in sequence order,
// one per coded picture (lost pictures repeat the previous output frame), each
// at the place the stream's numbering gives it (FrameSequencer).
#include "tools/baseline_decoder/baseline_decoder.h"
#include "tools/decode/received_picture.h"
#include "tools/decode/concealment.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace kestrune::decode {

struct MacroblockCounts {
    int pictures = 0;
    long long total = 0;
    long long lost = 0;
    long long concealed = 0;
};

// Macroblocks of one output frame that the stream did not deliver, and how
// many of them a concealment method filled; a repeated frame counts every
// macroblock as lost and concealed (by the repeat).
struct FrameLoss {
    int lost = 0;
    int concealed = 0;
    char type = 0;            // 'I', 'P', 'B', or 'R' for a repeat
    std::string macroblocks;  // the loss file's code per macroblock
    std::string sliceGroups;  // slice group digit per macroblock; empty with one group
};

struct DecodeReport {
    int accessUnits = 0;
    int picturesDecoded = 0;
    int picturesLost = 0;     // missing from the stream or undecodable, each output as a repeat
    int framesWritten = 0;
    int picturesWithoutParameterSets = 0;  // counted from the access-unit structure
    int repeatedSlices = 0;        // slices that arrived twice byte for byte, the repeats left out
    long long guessedPlaces = 0;   // pictures after a possibly lost IDR whose place no later IDR told
    std::uint32_t hiddenLossWrap = 0;  // a run of this many lost pictures leaves no trace (0: none can hide)
    bool untracedLossPossible = false;  // pictures nothing refers to arrived, and nothing numbers them
    bool numberedStream = false;   // idr_pic_id carries picture numbers
    bool placementFromSent = false;  // every picture placed by matching its slices to the sent stream
    long long sentTwinPlaces = 0;      // of those, pictures whose slices fit two places there (the first taken)
    int width = 0;
    int height = 0;
    MacroblockCounts intra;   // I pictures
    MacroblockCounts inter;   // P pictures
    MacroblockCounts bidir;   // B pictures (concealed like P pictures)
    std::vector<FrameLoss> frameLoss; // one per frame written, in output order
    // Our own Baseline decoder decoded the stream (instead of libavcodec).
    bool ours = false;
    int slicesBroken = 0;          // ours: slices with impossible syntax, concealed as lost
    int redundantSlicesUsed = 0;   // ours: redundant slices that stood in for lost primary slices
    int gapFrames = 0;             // ours: frames inferred for frame_num gaps
};

// Which decoder decodes the slices: libavcodec, or our own Baseline decoder
// (the only one that decodes slice groups). Loss map, motion field,
// concealment and output placement are the same code for both.
enum class DecoderChoice { Libavcodec, Ours };

// Receives each output frame: planar Y, U, V of the cropped size, contiguous.
using FrameWriter = std::function<void(std::span<const std::uint8_t> frame)>;

struct ConcealmentSettings {
    IntraMethod intra = IntraMethod::Bilinear;
    InterMethod inter = InterMethod::BoundaryMatching;
};

class ConcealingDecoder {
public:
    ConcealingDecoder(ConcealmentSettings settings, FrameWriter writer, DecoderChoice choice = DecoderChoice::Libavcodec);
    ~ConcealingDecoder();
    ConcealingDecoder(const ConcealingDecoder&) = delete;
    ConcealingDecoder& operator=(const ConcealingDecoder&) = delete;

    void decode(const ReceivedPicture& unit);
    // Drains the decoder and writes what is still pending.
    void finish();
    // Every received picture comes with its place in the sent stream
    // (ReceivedPicture::sentPicture), which holds this many pictures.
    void setSentPictures(std::int64_t pictures);
    // The picture size (from an SPS) for mid-grey frames when no picture at all can be decoded.
    void setSizeForGrey(int width, int height);
    const DecodeReport& report() const;
    // Loss map of the most recently decoded picture, before concealment (for tests).
    const MbGrid& lastLossMap() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

// libavcodec with its built-in concealment instead of ours (the reference for measurements):
// every access unit decoded as it comes, no loss detection.
class ReferenceDecoder {
public:
    ReferenceDecoder(int errorConcealment, FrameWriter writer);
    ~ReferenceDecoder();
    ReferenceDecoder(const ReferenceDecoder&) = delete;
    ReferenceDecoder& operator=(const ReferenceDecoder&) = delete;
    void decode(const ReceivedPicture& unit);
    void finish();
    int framesWritten() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

} // namespace kestrune::decode
