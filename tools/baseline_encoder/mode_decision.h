#pragma once
// Chooses how to code one macroblock and codes it: motion search of the
// partitions the settings allow in each reference picture, intra mode
// pre-selection by SATD, and the final choice among P_Skip, the best inter
// partitioning, Intra16x16 and Intra4x4 by rate-distortion cost (SSD +
// lambda x the bits actually written). The chosen macroblock is left
// reconstructed in the picture and its state in the macroblock states.
#include "tools/baseline_encoder/encoder_settings.h"
#include "tools/baseline_encoder/macroblock_code.h"
#include "tools/baseline_encoder/motion_search.h"
#include "tools/codec/macroblock_state.h"
#include "tools/codec/neighbours.h"
#include "tools/codec/picture.h"

#include <cstdint>
#include <vector>

namespace kestrune::codec {

struct SliceCodingContext {
    const EncoderSettings* settings = nullptr;
    const Picture* source = nullptr;
    Picture* reconstruction = nullptr;
    MacroblockStates* states = nullptr;
    bool pSlice = false;
    int qp = 26;
    int sliceNum = 0;
    // Reference picture list 0 (most recent first) and their identities.
    std::vector<const SearchReference*> references;
    std::vector<int> refPicIds;
};

struct MacroblockStatistics {
    std::int64_t intra16x16 = 0, intra4x4 = 0, inter = 0, skip = 0;
    std::int64_t subPartitions = 0;  // P_8x8 macroblocks with 8x4, 4x8 or 4x4 parts
};

// states[mbAddr].sliceNum must already be set to context.sliceNum.
MacroblockCode encodeMacroblock(const SliceCodingContext& context, int mbAddr, const MbNeighbours& neighbours,
                                MacroblockStatistics& statistics);

} // namespace kestrune::codec
