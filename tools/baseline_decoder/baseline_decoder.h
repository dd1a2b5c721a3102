#pragma once
// Our H.264 Baseline decoder (no Qt): I and P slices with CAVLC, slice
// groups of every map type, arbitrary slice order, multiple reference
// frames with list modification and memory management, frame_num gaps,
// redundant slices. Feed NAL units in stream order; a picture is complete
// when the next one begins or finishPicture() is called, and is then handed
// to the picture callback, which may change its samples in place (error
// concealment) before later pictures predict from it.
//
// Damaged input never stops decoding: a slice with an impossible syntax
// value counts as broken and its macroblocks as not written (the loss map
// shows them). What lies outside Baseline (CABAC, B/SI/SP slices, data
// partitions, field pictures, other chroma formats or bit depths, 8x8
// transforms, weighted prediction, scaling matrices) sets unsupported().
#include "tools/bitstream/parameter_sets.h"
#include "tools/bitstream/slice_header.h"
#include "tools/codec/macroblock_state.h"
#include "tools/codec/picture.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kestrune::codec {

// One finished picture as the decoder hands it out.
struct DecodedPicture {
    Picture* picture = nullptr;               // full macroblock grid; may be changed in place
    const MacroblockStates* states = nullptr; // sliceNum < 0: not written (lost or broken)
    // Frame cropping in luma samples (clause 7.4.2.1.1).
    int cropLeft = 0;
    int cropTop = 0;
    int width = 0;
    int height = 0;
    bool idr = false;
    bool reference = false;
    bool intraOnly = true;  // every slice that arrived was an I slice
    int frameNum = 0;
    int picOrderCnt = 0;
    int macroblocksWritten = 0;
    // Slice group of each macroblock in raster order (the map of the picture's
    // parameter set); null when no slice arrived to name one.
    const std::vector<std::uint8_t>* sliceGroupMap = nullptr;
};

struct BaselineDecoderCounts {
    int pictures = 0;
    int slicesDecoded = 0;
    int slicesBroken = 0;          // impossible syntax: treated as lost
    int slicesDuplicate = 0;       // their macroblocks had already been written
    int redundantSlicesUsed = 0;   // stood in for a primary slice that did not arrive
    int redundantSlicesSkipped = 0;
    int gapFrames = 0;             // frames inferred for frame_num gaps
};

class BaselineDecoder {
public:
    using PictureCallback = std::function<void(DecodedPicture&)>;

    explicit BaselineDecoder(PictureCallback onPicture);
    ~BaselineDecoder();
    BaselineDecoder(const BaselineDecoder&) = delete;
    BaselineDecoder& operator=(const BaselineDecoder&) = delete;

    // One NAL unit without its start code (emulation prevention still in).
    void decodeNalUnit(std::span<const std::uint8_t> nal);
    // Completes the picture in progress, if any (end of an access unit or
    // of the stream).
    void finishPicture();

    // Non-empty once something outside Baseline was met: one line saying what.
    const std::string& unsupported() const;
    const BaselineDecoderCounts& counts() const;
    // The last broken slice's reason (for diagnostics).
    const std::string& lastError() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

// Decodes a whole Annex B stream; each picture goes to onPicture.
void decodeAnnexB(std::span<const std::uint8_t> stream, BaselineDecoder& decoder);

} // namespace kestrune::codec
