#pragma once
// The encode run on libx264: settings from the command line, I and P slices
// only, Annex B with SPS/PPS before every IDR picture.
#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <x264.h>
}

#include "tools/encode/encode_options.h"

namespace kestrune {

// Fills `param` from libx264's defaults and the options (log settings aside).
void configureEncoder(const EncodeOptions& options, x264_param_t& param);

// One warning for each setting that libx264 changed while opening the
// encoder (`effective` as read back after the open), naming both values.
std::vector<std::string> adjustedSettings(const x264_param_t& requested, const x264_param_t& effective);

// Warnings about an input that is still encoded: a size in its file name
// other than the one given, and a partial frame at its end.
std::vector<std::string> inputWarnings(const std::string& input, FrameSize size, std::int64_t leftoverBytes);

struct EncodeResult {
    std::int64_t frames = 0;
    std::int64_t bytes = 0;
    double seconds = 0.0;
    std::int64_t oversizedSlices = 0;  // slice NAL units above --max-slicesize
    std::size_t largestSlice = 0;      // bytes of the largest slice NAL unit
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
