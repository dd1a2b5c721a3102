// The encoder tests' OpenH264 oracle, its frames back to back.
#include "tests/tools/baseline_decoder/oracle_stream.h"
#include "tests/tools/baseline_encoder/oracle_decoders.h"

namespace kestrune::codec::testing {

std::vector<std::uint8_t> decodeWithOpenH264(const std::vector<std::vector<std::uint8_t>>& accessUnits)
{
    std::vector<std::uint8_t> yuv;
    for (const auto& frame : kestrune::testing::decodeWithOpenH264(accessUnits)) yuv.insert(yuv.end(), frame.begin(), frame.end());
    return yuv;
}

} // namespace kestrune::codec::testing
