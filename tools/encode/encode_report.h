#pragma once
// Text of the encoder's own report lines (libx264 adds its statistics
// through its log). Pure formatting, so it is tested without encoding.
#include <cstdint>
#include <string>

#include "tools/encode/encode_options.h"

namespace kestrune {

// Average bitrate in kbit/s of `bytes` spread over `frames` at `fps`.
double kilobitsPerSecond(std::int64_t bytes, std::int64_t frames, int fps);

// One line naming every setting that reaches libx264.
std::string settingsSummary(const EncodeOptions& options, std::int64_t framesToEncode);

// "[ 40.0%] 120/300 frames, 95.20 fps, 498.31 kb/s, eta 0:00:01"
std::string progressLine(std::int64_t done, std::int64_t total, double seconds, std::int64_t bytes, int fps);

// "encoded 300 frames, 101.52 fps, 501.24 kb/s"
std::string finalLine(std::int64_t frames, double seconds, std::int64_t bytes, int fps);

} // namespace kestrune
