#pragma once
// The encode run on our own Baseline encoder (--slice-groups N): the same
// input handling, atomic output and report shape as the libx264 run, plus
// the slice-group layout.
#include "tools/baseline_encoder/encoder_settings.h"
#include "tools/encode/encode_options.h"
#include "tools/encode/encoder.h"

#include <string>
#include <vector>

namespace kestrune {

// The encoder settings for the options; warnings (i8x8 dropped) go to `warnings`.
codec::EncoderSettings baselineSettings(const EncodeOptions& options, std::vector<std::string>& warnings);

// Like runEncode, on our encoder.
EncodeResult runBaselineEncode(const EncodeOptions& options, const Console& console);

} // namespace kestrune
