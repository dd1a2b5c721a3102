#pragma once
// Writes a slice header (ITU-T H.264 clause 7.3.3) of an I or P slice of a
// Baseline stream with POC type 2, the counterpart of h264::parseSliceHeader.
#include "tools/bitstream/bit_writer.h"
#include "tools/bitstream/parameter_sets.h"
#include "tools/bitstream/slice_header.h"

namespace kestrune::codec {

// Writes the header fields that the SPS/PPS call for, in order, into w.
// Needs: frame coding only, no weighted prediction, no redundant_pic_cnt,
// CAVLC; throws std::invalid_argument otherwise. nal_unit_type 5 is an IDR.
void writeSliceHeader(h264::BitWriter& w, const h264::SliceHeader& header, int nal_unit_type, int nal_ref_idc,
                      const h264::Sps& sps, const h264::Pps& pps);

} // namespace kestrune::codec
