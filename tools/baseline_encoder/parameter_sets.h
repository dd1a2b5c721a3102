#pragma once
// The sequence and picture parameter sets our encoder chooses for its
// settings (the bitstream library's header writer writes them).
#include "tools/baseline_encoder/encoder_settings.h"
#include "tools/bitstream/parameter_sets.h"

#include <string>

namespace kestrune::codec {

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
