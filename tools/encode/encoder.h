#pragma once
// The encode run on libx264: settings from the command line, I and P slices
// only, Annex B with SPS/PPS before every IDR picture.
#include <cstdint>
#include <string>

extern "C" {
#include <x264.h>
}

#include "tools/encode/encode_options.h"

namespace kestrune {

// Fills `param` from libx264's defaults and the options (log settings aside).
void configureEncoder(const EncodeOptions& options, x264_param_t& param);

struct EncodeResult {
    std::int64_t frames = 0;
    std::int64_t bytes = 0;
    double seconds = 0.0;
};

// Prefix of every report line, e.g. "x264" for "x264 [info]: ...".
struct ReportStyle {
    std::string name;
    bool progress = false;  // progress lines on standard error (a terminal)
};

// Encodes options.input into options.output, reporting on standard error;
// throws EncodeError (nothing is left at the output path then).
EncodeResult runEncode(const EncodeOptions& options, const ReportStyle& style);

} // namespace kestrune
