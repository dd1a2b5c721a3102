#pragma once
// Outcome of parsing one NAL unit, fit for damaged streams: the failure is
// recorded on the NAL unit where it happened and parsing goes on.
#include <string>
#include <string_view>

namespace kestrune::h264 {

enum class Result {
    Ok,
    BrokenData,  // a field out of its range or a forbidden combination
    BrokenLink,  // refers to an SPS or PPS that has not been seen
    Truncated,   // the NAL unit ends before its syntax does
    NoNalUnit,   // nothing to parse (empty input, end of stream)
};

struct Status {
    Result result = Result::Ok;
    std::string message;  // names the field, e.g. "log2_max_frame_num_minus4 = 13 exceeds 12"

    bool ok() const { return result == Result::Ok; }
};

std::string_view resultName(Result result);

} // namespace kestrune::h264
