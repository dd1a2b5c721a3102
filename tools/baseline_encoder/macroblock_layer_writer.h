#pragma once
// Writes macroblock_layer() (ITU-T H.264 clause 7.3.5) of an I or P
// macroblock with CAVLC, and the states neighbours read afterwards.
#include "tools/baseline_encoder/macroblock_code.h"
#include "tools/bitstream/bit_writer.h"
#include "tools/codec/macroblock_state.h"
#include "tools/codec/neighbours.h"

namespace kestrune::codec {

struct MacroblockPlace {
    int mbAddr = 0;
    MbNeighbours neighbours;
    bool pSlice = false;
    int numRefIdxActive = 1;  // num_ref_idx_l0_active_minus1 + 1
};

// Writes the macroblock (not P_Skip: that is only a skip run). states[mbAddr]
// must hold the macroblock's final state (see stateOf); the vector
// differences are taken against predictions made partition by partition.
void writeMacroblockLayer(h264::BitWriter& w, const MacroblockCode& code, MacroblockStates& states,
                          const MacroblockPlace& place);

// The state the macroblock leaves (sliceNum and qp as given; refPicIds per list index).
MacroblockState stateOf(const MacroblockCode& code, int sliceNum, int qp, const int* refPicIds);

} // namespace kestrune::codec
