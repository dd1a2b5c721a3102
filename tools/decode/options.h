#pragma once
// The decoder's command line:
//   [-ec N] [-error_concealment N] [-P_error_concealment N] [-decoder ours|libavcodec] [-sent SENT]
//   -i INPUT -y OUTPUT
// in any order, integers in the window's syntax.
#include "tools/decode/concealment.h"

#include <string>
#include <string_view>
#include <vector>

namespace kestrune::decode {

// -decoder: which decoder decodes the slices.
enum class DecoderSelection { PerStream, Ours, Libavcodec };

struct DecodeOptions {
    IntraMethod intra = IntraMethod::Bilinear;
    InterMethod inter = InterMethod::BoundaryMatching;
    std::string input;
    std::string output;
    // PerStream: ours when any picture parameter set has more than one
    // slice group (libavcodec cannot decode those), libavcodec otherwise.
    DecoderSelection decoder = DecoderSelection::PerStream;
    // The stream that went into the channel: places every picture exactly.
    std::string sent;
    bool help = false;
};

struct ParsedOptions {
    DecodeOptions options;
    std::string error; // empty when the command line is good
};

ParsedOptions parseDecodeOptions(const std::vector<std::string_view>& arguments);

const char* decodeUsage();

} // namespace kestrune::decode
