#pragma once
// Writes sequence and picture parameter sets (ITU-T H.264 clauses 7.3.2.1
// and 7.3.2.2) as an RBSP: the inverse of the bitstream library's parser for
// what a Baseline stream uses (no scaling matrices, no HRD), and the
// parameter sets our encoder chooses for its settings.
#include "tools/baseline_encoder/encoder_settings.h"
#include "tools/bitstream/parameter_sets.h"

#include <cstdint>
#include <vector>

namespace kestrune::codec {

// Throws std::invalid_argument for what the writer cannot express (scaling
// matrices, HRD parameters, a chroma format other than 4:2:0).
std::vector<std::uint8_t> writeSpsRbsp(const h264::Sps& sps);
std::vector<std::uint8_t> writePpsRbsp(const h264::Pps& pps);

// Baseline profile (constraint_set0, not set1: Main has no slice groups),
// log2_max_frame_num 16, POC type 2, cropping for sizes that are not
// multiples of 16, timing and bitstream restriction in the VUI, and the
// smallest level whose frame size, macroblock rate and DPB fit.
h264::Sps sequenceParameterSet(const EncoderSettings& settings);

// One PPS: the slice groups of the settings with the map type's parameters
// (see sliceGroupLayout), CAVLC, the deblocking control present.
h264::Pps pictureParameterSet(const EncoderSettings& settings, const h264::Sps& sps);

// Empty when the settings' slice groups can be coded, else the reason
// (the evolving map types 3-5 know exactly two groups).
std::string sliceGroupError(const EncoderSettings& settings);

// One line describing the slice-group layout of a PPS, for the report.
std::string sliceGroupLayoutText(const h264::Pps& pps, const h264::Sps& sps);

} // namespace kestrune::codec
