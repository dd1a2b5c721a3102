#pragma once
// Internal helper of the parsers: reads named syntax elements, checks each
// one's range as it is read and keeps the first failure (sticky: after it
// every read yields 0, so a parser can finish its straight-line code and
// check once). Optionally records every element with its value for the
// analyzer's description of a NAL unit.
#include "tools/bitstream/bit_reader.h"
#include "tools/bitstream/result.h"
#include "tools/bitstream/trace.h"

#include <cstdint>
#include <string>

namespace kestrune::h264 {

class SyntaxReader {
public:
    SyntaxReader(std::span<const std::uint8_t> rbsp, Trace* trace) : bits_(rbsp), trace_(trace) {}

    std::uint32_t u(const char* name, int n) { return check<std::uint32_t>(name, -1, bits_.u(n), 0, 0xFFFFFFFFu); }
    bool flag(const char* name) { return u(name, 1) != 0; }
    std::uint32_t ue(const char* name, std::uint32_t max = 0xFFFFFFFEu) { return check<std::uint32_t>(name, -1, bits_.ue(), 0, max); }
    std::int32_t se(const char* name, std::int32_t min = -2147483647, std::int32_t max = 2147483647)
    {
        return check<std::int32_t>(name, -1, bits_.se(), min, max);
    }
    // Indexed forms record "name[index]".
    std::uint32_t u(const char* name, int index, int n) { return check<std::uint32_t>(name, index, bits_.u(n), 0, 0xFFFFFFFFu); }
    bool flag(const char* name, int index) { return u(name, index, 1) != 0; }
    std::uint32_t ue(const char* name, int index, std::uint32_t max) { return check<std::uint32_t>(name, index, bits_.ue(), 0, max); }
    std::int32_t se(const char* name, int index, std::int32_t min, std::int32_t max)
    {
        return check<std::int32_t>(name, index, bits_.se(), min, max);
    }

    // Records a failure that is not a single field's range (first one wins).
    void fail(Result result, std::string message);

    bool ok() const { return status_.ok(); }
    const Status& status() const { return status_; }
    BitReader& bits() { return bits_; }
    bool moreRbspData() const { return ok() && bits_.moreRbspData(); }

private:
    // The common case (in range, no trace) stays inline; the rest is out of line.
    template <typename T>
    T check(const char* name, int index, T value, T min, T max)
    {
        if (status_.ok() && !bits_.overrun() && !bits_.invalid() && value >= min && value <= max && !trace_) return value;
        return checkSlow(name, index, value, min, max);
    }
    template <typename T>
    T checkSlow(const char* name, int index, T value, T min, T max);
    bool readFailed(const char* name, int index);

    BitReader bits_;
    Trace* trace_;
    Status status_;
};

} // namespace kestrune::h264
