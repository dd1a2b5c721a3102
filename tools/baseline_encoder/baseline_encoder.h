#pragma once
// Our H.264 Baseline encoder: I and P pictures, CAVLC, slice groups, a given
// number of slices per slice group and picture and slices limited in bytes,
// multiple reference
// pictures in a sliding window, deblocking. Feed it pictures in display
// order; each call returns one access unit in Annex B form.
#include "tools/baseline_encoder/encoder_settings.h"
#include "tools/baseline_encoder/mode_decision.h"
#include "tools/baseline_encoder/picture_type_decision.h"
#include "tools/baseline_encoder/rate_control.h"
#include "tools/bitstream/parameter_sets.h"
#include "tools/bitstream/slice_header.h"
#include "tools/codec/picture.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kestrune::codec {

struct EncodedPicture {
    std::vector<std::uint8_t> bytes;  // Annex B: [SPS, PPS,] the slice NAL units
    PictureType type = PictureType::Idr;
    int qp = 0;
    int slices = 0;
    std::int64_t sliceBytes = 0;  // slice NAL units only (no parameter sets, no start codes)
};

class BaselineEncoder {
public:
    // Throws std::invalid_argument for settings it cannot code (see sliceGroupError).
    explicit BaselineEncoder(const EncoderSettings& settings);
    ~BaselineEncoder();

    // frame: planar YUV 4:2:0 of settings.width x settings.height.
    EncodedPicture encode(std::span<const std::uint8_t> frame);

    // The last picture as a decoder reconstructs it (deblocked), cropped to
    // the settings' size, planar YUV 4:2:0.
    std::vector<std::uint8_t> reconstructedFrame() const;

    const h264::Sps& sps() const { return sps_; }
    const h264::Pps& pps() const { return pps_; }
    const MacroblockStatistics& intraStatistics() const { return statistics_[0]; }
    const MacroblockStatistics& interStatistics() const { return statistics_[1]; }
    int scenesDetected() const { return typeDecision_.scenesDetected(); }

private:
    struct Reference;
    // Codes at most maxMbs macroblocks from firstMb in map order, fewer when
    // settings.maxSliceBytes would be exceeded (the first always goes in);
    // *next is the first macroblock left out (-1 at the group's end), *coded
    // the number coded.
    std::vector<std::uint8_t> encodeSlice(const SliceCodingContext& context, int firstMb, int maxMbs,
                                          const std::vector<std::uint8_t>& map, const h264::SliceHeader& header,
                                          int nalType, int nalRefIdc, int* next, int* coded);

    EncoderSettings settings_;
    h264::Sps sps_;
    h264::Pps pps_;
    PictureTypeDecision typeDecision_;
    RateControl rateControl_;
    std::vector<std::uint8_t> previousLuma_;
    Picture source_;
    std::shared_ptr<Picture> reconstruction_;
    MacroblockStates states_;
    std::deque<std::shared_ptr<Reference>> references_;  // most recent first
    int frameNum_ = 0;
    int idrCount_ = 0;
    int sinceIdr_ = 0;
    int nextPicId_ = 0;
    MacroblockStatistics statistics_[2];
};

} // namespace kestrune::codec
