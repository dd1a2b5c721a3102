#pragma once
// Parses NAL units in stream order, keeping the parameter sets that later
// NAL units refer to.
#include "tools/bitstream/nal_unit.h"
#include "tools/bitstream/parameter_sets.h"
#include "tools/bitstream/sei.h"
#include "tools/bitstream/slice_header.h"
#include "tools/bitstream/trace.h"

#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace kestrune::h264 {

struct ParsedNal {
    NalHeader header;
    Status status;  // the first failure of header or payload, Ok otherwise
    std::shared_ptr<const Sps> sps;    // type 7, when its fields up to the VUI were read
    std::shared_ptr<const Pps> pps;    // type 8, when read completely
    std::optional<SliceHeader> slice;  // types 1, 2, 5: filled as far as parsing got
    std::vector<std::uint8_t> rbsp;    // SPS, PPS, SEI payload without emulation prevention (SEI spans point into it)
    std::vector<SeiMessage> sei;       // type 6
};

class NalParser {
public:
    // nal: the NAL unit's bytes from its header on. clipped: those bytes are
    // only the start of a longer NAL unit, so running out of them is not a
    // fault of the stream. trace, when given, receives every syntax element.
    ParsedNal parse(std::span<const std::uint8_t> nal, bool clipped = false, Trace* trace = nullptr);

    const ParameterSets& parameterSets() const { return sets_; }

private:
    ParameterSets sets_;
    std::vector<std::uint8_t> scratch_;  // a slice's RBSP prefix, reused
};

} // namespace kestrune::h264
