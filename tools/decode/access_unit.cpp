#include "tools/decode/access_unit.h"

#include <algorithm>

namespace kestrune::decode {

int FrameNumTracker::missingBefore(const AccessUnit& unit)
{
    if (!unit.hasSlices || unit.maxFrameNum <= 0) return 0;
    int missing = 0;
    if (unit.idr) {
        missing = 0;
    } else if (unit.hasSps && unit.type == PictureType::P) {
        missing = std::max(unit.frameNum, 1);
    } else if (!started_) {
        // The stream starts after its IDR: that picture and the ones before this were lost.
        missing = unit.frameNum;
    } else {
        const int max = unit.maxFrameNum;
        const int gap = ((unit.frameNum - previousReferenceFrameNum_ - 1) % max + max) % max;
        // gap == max - 1: same frame_num as the last reference picture (a repeated picture), nothing lost.
        if (gap != max - 1 && gap > 0) missing = unit.frameNum >= 1 ? std::min(gap, unit.frameNum) : gap;
    }
    started_ = true;
    if (unit.reference || unit.idr) previousReferenceFrameNum_ = unit.frameNum;
    return missing;
}

} // namespace kestrune::decode
