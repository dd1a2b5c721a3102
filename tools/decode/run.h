#pragma once
// One decoder run: the input stream in, the concealed YUV file out (written
// under a temporary name and renamed at the end), and the report.
#include "tools/decode/decoder.h"
#include "tools/decode/options.h"

#include <functional>
#include <string>

namespace kestrune::decode {

struct RunResult {
    DecodeReport report;
    double seconds = 0;
    std::uint64_t inputBytes = 0;
};

// progress(bytes read, total bytes) is called now and then. Throws
// std::runtime_error with the reason when the input cannot be read, no picture
// can be decoded, or the output cannot be written; nothing is left at the
// output path then.
RunResult runDecode(const DecodeOptions& options, const std::function<void(std::uint64_t, std::uint64_t)>& progress = {});

// The report's lines on what the stream left unknown (none when it told everything).
std::string placementNotes(const DecodeReport& report);

// The report lines for standard output.
std::string formatReport(const RunResult& result, const DecodeOptions& options);

} // namespace kestrune::decode
