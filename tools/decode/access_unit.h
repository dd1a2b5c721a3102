#pragma once
// One coded picture as it reaches the decoder: its NAL units in Annex B form
// and what the slice headers say about it.
#include <cstdint>
#include <vector>

namespace kestrune::decode {

enum class PictureType { I, P, B };

struct AccessUnit {
    std::vector<std::uint8_t> bytes; // start codes included; parameter sets and SEI too
    bool hasSlices = false;          // false: only non-VCL NAL units (e.g. trailing parameter sets)
    bool hasSps = false;             // a sequence parameter set came with it
    bool idr = false;
    bool reference = false;          // nal_ref_idc != 0
    int frameNum = 0;
    int maxFrameNum = 0;             // 0 when the active SPS is unknown
    PictureType type = PictureType::I; // P if any slice is P, B if any is B
};

// Pictures missing right before an access unit, from frame_num alone
// (clause 7.4.3: a reference picture advances frame_num by one) and the access
// unit structure. Our encoder sends parameter sets only before IDR pictures,
// so a P picture arriving with an SPS means the IDR it followed was lost,
// together with the pictures between them. Otherwise, when frame_num fell back
// towards 0 without an IDR, either frame_num wrapped or the IDR that reset it
// was lost too. Wrapping is far more common (it happens every MaxFrameNum
// pictures, an IDR only once a GOP), so it is taken unless the IDR spacing
// seen so far says an IDR was due within the gap.
class FrameNumTracker {
public:
    int missingBefore(const AccessUnit& unit);

private:
    bool started_ = false;
    int previousReferenceFrameNum_ = 0;
    int picturesSinceIdr_ = 0;   // output pictures since the last IDR, that IDR included
    int idrSpacing_ = 0;         // pictures between the last two IDRs seen; 0 while unknown
    bool idrSeen_ = false;
};

} // namespace kestrune::decode
