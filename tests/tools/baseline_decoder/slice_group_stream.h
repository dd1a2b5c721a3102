#pragma once
// Baseline streams with slice groups for the decoder's tests, built from the
// generated sample sequence: IDR pictures of I_PCM macroblocks, P pictures of
// P_Skip runs, P_L0_16x16 macroblocks with pseudo-random motion vector
// differences and I_PCM macroblocks. One slice per slice group per picture.
// The content is re-wrapped, not chosen: what matters is that independent
// decoders agree on every macroblock.
#include <cstdint>
#include <vector>

namespace kestrune::codec::testing {

struct SliceGroupStreamSettings {
    int widthInMbs = 11;
    int heightInMbs = 9;
    int frames = 6;
    int groups = 2;
    int mapType = 1;
    std::vector<std::uint32_t> runLengthMinus1;  // type 0 (default: 1, 2, 3, ...)
    bool changeDirection = false;                // types 3-5
    std::uint32_t changeRateMinus1 = 3;          // types 3-5
    int qp = 28;
    int disableDeblocking = 0;
    bool reverseSliceOrder = false;  // slices of a picture from the last group to the first
    bool redundantSlices = false;    // each slice followed by a redundant copy (redundant_pic_cnt 1)
    bool cabacFlag = false;          // entropy_coding_mode_flag set in the PPS (the slices stay CAVLC)
    // Reference frames (max_num_ref_frames and the active list size); with
    // reorder each P slice moves a random short-term frame to the front of
    // its list, with memoryManagement pictures unmark frames and mark
    // themselves long-term now and then. Macroblocks pick random ref_idx.
    int refs = 1;
    bool reorder = false;
    bool memoryManagement = false;
    unsigned seed = 1;
};

struct SliceGroupStream {
    std::vector<std::uint8_t> bytes;                    // Annex B
    std::vector<std::vector<std::uint8_t>> accessUnits;  // the same, one access unit each
};

SliceGroupStream makeSliceGroupStream(const SliceGroupStreamSettings& settings);

} // namespace kestrune::codec::testing
