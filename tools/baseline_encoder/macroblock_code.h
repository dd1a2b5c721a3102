#pragma once
// One macroblock as the encoder decided to code it: type, prediction
// choices, vectors and quantised levels. What macroblock_layer writes and
// what the residual coding fills.
#include "tools/codec/macroblock_state.h"

#include <array>
#include <cstdint>
#include <vector>

namespace kestrune::codec {

// sub_mb_type of a P_8x8 quadrant (Table 7-17).
enum SubMbType : std::uint8_t { kSub8x8 = 0, kSub8x4 = 1, kSub4x8 = 2, kSub4x4 = 3 };

struct MacroblockCode {
    MbType type = MbType::PSkip;
    int intra16x16Mode = 0;
    int chromaMode = 0;
    std::array<std::int8_t, 16> intra4x4Modes{};  // Intra4x4PredMode per luma4x4BlkIdx
    std::array<SubMbType, 4> subType{};           // P8x8 only
    std::array<std::int8_t, 4> refIdx{-1, -1, -1, -1};  // per 8x8 quadrant
    std::array<MotionVector, 16> mv{};                  // per luma4x4BlkIdx
    int cbp = 0;  // bits 0-3 luma 8x8, bits 4-5 chroma (0, 1 DC, 2 DC+AC)

    // Levels in raster order per 4x4 block (transform.h's layout).
    // Intra16x16: luma[blk] holds the AC levels ([0] unused), lumaDc the DC matrix.
    std::int32_t luma[16][16]{};
    std::int32_t lumaDc[16]{};
    std::int32_t chromaDc[2][4]{};
    std::int32_t chromaAc[2][4][16]{};  // [0] unused
    std::array<std::uint8_t, 24> totalCoeff{};

    int cbpLuma() const { return cbp & 15; }
    int cbpChroma() const { return cbp >> 4; }
};

// A motion partition in 4x4-block units inside the macroblock.
struct Partition {
    int x4, y4, w4, h4;
};

// The partitions of an inter macroblock in decoding order (P_8x8: each
// quadrant's sub-macroblock partitions in turn).
std::vector<Partition> partitionsOf(const MacroblockCode& code);

} // namespace kestrune::codec
