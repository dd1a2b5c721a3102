#include "tools/decode/access_unit.h"

#include <algorithm>

namespace kestrune::decode {

int FrameNumTracker::missingBefore(const AccessUnit& unit)
{
    if (!unit.hasSlices || unit.maxFrameNum <= 0) return 0;
    int missing = 0;
    bool idrLost = false;
    if (unit.idr) {
        missing = 0;
    } else if (unit.hasSps && unit.type == PictureType::P) {
        missing = std::max(unit.frameNum, 1);
        idrLost = true;
    } else if (!started_) {
        // The stream starts after its IDR: that picture and the ones before this were lost.
        missing = unit.frameNum;
        idrLost = missing > 0;
    } else {
        const int max = unit.maxFrameNum;
        const int gap = ((unit.frameNum - previousReferenceFrameNum_ - 1) % max + max) % max;
        // gap == max - 1: same frame_num as the last reference picture (a repeated picture), nothing lost.
        if (gap != max - 1 && gap > 0) {
            missing = gap;
            const bool idrDue = idrSpacing_ > 0 && picturesSinceIdr_ + gap >= idrSpacing_;
            if (unit.frameNum >= 1 && unit.frameNum < gap && idrDue) {
                missing = unit.frameNum;
                idrLost = true;
            }
        }
    }
    started_ = true;
    if (unit.reference || unit.idr) previousReferenceFrameNum_ = unit.frameNum;

    if (unit.idr || idrLost) {
        // A lost IDR stood `missing` pictures before this one (frame_num counts from it).
        const int sinceThisIdr = unit.idr ? 0 : missing;
        if (idrSeen_) idrSpacing_ = picturesSinceIdr_ + missing - sinceThisIdr;
        idrSeen_ = true;
        picturesSinceIdr_ = sinceThisIdr + 1;
    } else {
        picturesSinceIdr_ += missing + 1;
    }
    return missing;
}

} // namespace kestrune::decode
