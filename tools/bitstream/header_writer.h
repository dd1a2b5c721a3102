#pragma once
// Writes parsed headers back (ITU-T H.264 clauses 7.3.2.1, 7.3.2.2, 7.3.3,
// Annex E): the counterpart of parseSps, parsePps and parseSliceHeader. What
// the parsers read, these write bit for bit, so a header can be read, changed
// and re-emitted; an encoder can also fill the structs itself.
#include "tools/bitstream/bit_writer.h"
#include "tools/bitstream/nal_unit.h"
#include "tools/bitstream/parameter_sets.h"
#include "tools/bitstream/slice_header.h"

#include <cstdint>
#include <span>
#include <vector>

namespace kestrune::h264 {

// seq_parameter_set_rbsp() including rbsp_trailing_bits().
void writeSps(const Sps& sps, BitWriter& out);
// pic_parameter_set_rbsp() including rbsp_trailing_bits(). The fields after
// redundant_pic_cnt_present_flag are written when pps.extensionPresent is set
// or any of them differs from its default; sps (the one the PPS names) is
// needed only for 8x8 scaling lists.
void writePps(const Pps& pps, const Sps* sps, BitWriter& out);
// slice_header() alone: no alignment, no slice data.
void writeSliceHeader(const NalHeader& nal, const SliceHeader& header, const Sps& sps, const Pps& pps, BitWriter& out);

// The whole NAL unit (header byte(s), escaped RBSP) of one parameter set.
std::vector<std::uint8_t> spsNalUnit(const Sps& sps, int nal_ref_idc = 3);
std::vector<std::uint8_t> ppsNalUnit(const Pps& pps, const Sps* sps, int nal_ref_idc = 3);

// Re-emits a slice NAL unit with a changed header: `nal` is the original NAL
// unit (header byte on, emulation prevention in place) and `parsed` its header
// as read with the original parameter sets. The new header is written with
// sps and pps; the slice data follows unchanged: with CABAC from its byte
// boundary after fresh cabac_alignment_one_bits, with CAVLC bit for bit up to
// a fresh rbsp_trailing_bits(). Empty when the slice header was incomplete.
std::vector<std::uint8_t> rewriteSliceHeader(std::span<const std::uint8_t> nal, const SliceHeader& parsed,
                                             const SliceHeader& header, const Sps& sps, const Pps& pps);

} // namespace kestrune::h264
