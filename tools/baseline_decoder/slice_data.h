#pragma once
// Slice data and macroblock layer of a Baseline slice (ITU-T H.264 clauses
// 7.3.4, 7.3.5; semantics 7.4.4, 7.4.5): parses each macroblock with CAVLC
// and reconstructs it at once (intra prediction needs the samples of the
// macroblocks before it), leaving the deblocking filter to the picture.
#include "tools/bitstream/parameter_sets.h"
#include "tools/bitstream/slice_header.h"
#include "tools/codec/macroblock_state.h"
#include "tools/codec/picture.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestrune::codec {

struct SliceContext {
    const h264::SliceHeader* header = nullptr;
    const h264::Sps* sps = nullptr;
    const h264::Pps* pps = nullptr;
    std::span<const std::uint8_t> rbsp;  // after the NAL header, emulation prevention removed
    int sliceNum = 0;
    // nextMbAddress of every macroblock in this slice's group map.
    const std::vector<int>* nextMb = nullptr;
    // RefPicList0 after modification: pictures and their ids (nullptr where
    // the list names no picture).
    std::vector<const Picture*> refPictures;
    std::vector<int> refIds;
};

struct SliceResult {
    bool ok = true;
    std::string error;             // what was impossible, when !ok
    std::vector<int> macroblocks;  // addresses written, in decoding order
};

// Decodes the slice into picture and states. On failure the macroblocks
// written so far stay listed in the result; the caller unmarks them.
SliceResult decodeSliceData(const SliceContext& context, Picture& picture, MacroblockStates& states);

} // namespace kestrune::codec
