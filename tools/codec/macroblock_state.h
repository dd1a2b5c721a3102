#pragma once
// What a decoded (or encoded) macroblock leaves for later ones: neighbour
// availability, intra 4x4 mode prediction, CAVLC nC, motion vector
// prediction and the deblocking filter all read only this.
//
// Every per-4x4-block array is indexed by luma4x4BlkIdx (clause 6.4.3, the
// order residual blocks are coded in); kBlockX/kBlockY and blockIndexAt()
// convert to and from positions in 4x4-block units.
#include <array>
#include <cstdint>
#include <vector>

namespace kestrune::codec {

// Motion vector in quarter luma samples (chroma eighth samples).
struct MotionVector {
    std::int16_t x = 0;
    std::int16_t y = 0;
    bool operator==(const MotionVector&) const = default;
};

// mb_type reduced to what the core's processes distinguish (P_8x8ref0 is
// stored as P8x8 with refIdx 0).
enum class MbType : std::uint8_t { I4x4, I16x16, IPCM, P16x16, P16x8, P8x16, P8x8, PSkip };

constexpr bool isIntra(MbType t) { return t == MbType::I4x4 || t == MbType::I16x16 || t == MbType::IPCM; }

// 4x4-block position (in 4x4-block units) of luma4x4BlkIdx, and back.
inline constexpr std::array<std::uint8_t, 16> kBlockX = {0, 1, 0, 1, 2, 3, 2, 3, 0, 1, 0, 1, 2, 3, 2, 3};
inline constexpr std::array<std::uint8_t, 16> kBlockY = {0, 0, 1, 1, 0, 0, 1, 1, 2, 2, 3, 3, 2, 2, 3, 3};
// (x4, y4 in 0..3; shifts and masks rather than divisions by 2, which cost
// sign fix-ups on int in every motion vector and neighbour look-up.)
constexpr int blockIndexAt(int x4, int y4) { return (y4 >> 1) * 8 + (x4 >> 1) * 4 + (y4 & 1) * 2 + (x4 & 1); }

// Indices into MacroblockState::totalCoeff.
inline constexpr int kCbBlocks = 16;  // Cb chroma4x4BlkIdx 0..3 at 16..19
inline constexpr int kCrBlocks = 20;  // Cr chroma4x4BlkIdx 0..3 at 20..23

// Intra4x4PredMode values (Table 8-2); kIntra4x4Dc is also what neighbours
// that are not I_NxN contribute (clause 8.3.1.1).
inline constexpr int kIntra4x4Dc = 2;

struct MacroblockState {
    // Slice of this picture the macroblock belongs to; -1 = not (yet) coded.
    // Two macroblocks are neighbours for prediction only with equal numbers.
    std::int32_t sliceNum = -1;
    MbType mbType = MbType::PSkip;
    // QPY the macroblock was coded with (deblocking uses 0 for I_PCM itself).
    std::int8_t qp = 0;
    // TotalCoeff(coeff_token) of each coded 4x4 block: luma 0..15 (for
    // I16x16 the AC block; the DC block is not counted), Cb 16..19, Cr 20..23
    // (AC blocks). 0 for blocks not coded (coded_block_pattern bit clear,
    // P_Skip); 16 for all blocks of I_PCM (clause 9.2.1).
    std::array<std::uint8_t, 24> totalCoeff{};
    // Intra4x4PredMode per block for I4x4; kIntra4x4Dc for every other type.
    std::array<std::int8_t, 16> intra4x4PredMode{2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2};
    // ref_idx_l0 per 8x8 quadrant (mbPartIdx order 0..3 = raster); -1 intra.
    std::array<std::int8_t, 4> refIdx{-1, -1, -1, -1};
    // Identity of the reference picture per 8x8 quadrant for the deblocking
    // filter (which compares pictures, not indices); any number unique to a
    // picture in the decoded picture buffer, -1 for intra.
    std::array<std::int32_t, 4> refPicId{-1, -1, -1, -1};
    // mvL0 per 4x4 block; zero for intra.
    std::array<MotionVector, 16> mv{};

    bool available() const { return sliceNum >= 0; }
    bool intra() const { return isIntra(mbType); }
    // ref_idx of the 8x8 quadrant holding 4x4 block blkIdx.
    int refIdxOfBlock(int blkIdx) const { return refIdx[blkIdx / 4]; }
    int refPicIdOfBlock(int blkIdx) const { return refPicId[blkIdx / 4]; }
};

// The macroblocks of one picture in raster order (mbAddr).
class MacroblockStates {
public:
    MacroblockStates() = default;
    MacroblockStates(int widthInMbs, int heightInMbs)
        : widthInMbs_(widthInMbs), heightInMbs_(heightInMbs),
          mbs_(static_cast<std::size_t>(widthInMbs) * static_cast<std::size_t>(heightInMbs)) {}

    int widthInMbs() const { return widthInMbs_; }
    int heightInMbs() const { return heightInMbs_; }
    int size() const { return static_cast<int>(mbs_.size()); }

    MacroblockState& operator[](int mbAddr) { return mbs_[static_cast<std::size_t>(mbAddr)]; }
    const MacroblockState& operator[](int mbAddr) const { return mbs_[static_cast<std::size_t>(mbAddr)]; }

    // Marks every macroblock not coded; call before each picture.
    void reset() { for (auto& mb : mbs_) mb = MacroblockState{}; }

private:
    int widthInMbs_ = 0;
    int heightInMbs_ = 0;
    std::vector<MacroblockState> mbs_;
};

} // namespace kestrune::codec
