#pragma once
// The encode run on libx264: settings from the command line, I and P slices
// only, Annex B with SPS/PPS before every IDR picture.
#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <x264.h>
}

#include "tools/encode/encode_options.h"
#include "tools/encode/yuv_input.h"

namespace kestrune {

// Fills `param` from libx264's defaults and the options (log settings aside).
void configureEncoder(const EncodeOptions& options, x264_param_t& param);

// One warning for each setting that libx264 changed while opening the
// encoder (`effective` as read back after the open), naming both values.
std::vector<std::string> adjustedSettings(const x264_param_t& requested, const x264_param_t& effective);

// Warnings about an input that is still encoded: a size in its file name
// other than the one given, a partial frame at its end, and fewer frames
// than --frames asks for.
std::vector<std::string> inputWarnings(const EncodeOptions& options, std::int64_t frameCount, std::int64_t leftoverBytes);

// The frames a run encodes: the whole input, or --frames of it. Throws
// EncodeError when the input holds no complete frame.
std::int64_t framesToEncode(const EncodeOptions& options, const YuvFrameReader& input);

// Throws EncodeError when the output path is a folder or the input itself.
void refuseOutputPath(const EncodeOptions& options);

struct EncodeResult {
    std::int64_t frames = 0;
    std::int64_t bytes = 0;
    double seconds = 0.0;
    std::int64_t oversizedSlices = 0;  // slice NAL units above --max-slicesize
    std::size_t largestSlice = 0;      // bytes of the largest slice NAL unit
};

// How a run talks to its console and learns that it should stop.
struct Console {
    std::string name;       // prefix of every report line: "x264" gives "x264 [info]: ..."
    bool progress = false;  // progress lines on standard error (a terminal)
    const volatile std::sig_atomic_t* interrupted = nullptr;  // set by a signal handler
};

// Encodes options.input into options.output, reporting on standard error;
// throws EncodeError (nothing is left at the output path then), also when
// *console.interrupted becomes non-zero.
EncodeResult runEncode(const EncodeOptions& options, const Console& console);

} // namespace kestrune
