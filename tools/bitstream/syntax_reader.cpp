#include "tools/bitstream/syntax_reader.h"

namespace kestrune::h264 {
namespace {

std::string fieldName(const char* name, int index)
{
    std::string text = name;
    if (index >= 0) text += "[" + std::to_string(index) + "]";
    return text;
}

} // namespace

std::string_view resultName(Result result)
{
    switch (result) {
    case Result::Ok: return "ok";
    case Result::BrokenData: return "broken data";
    case Result::BrokenLink: return "broken link";
    case Result::Truncated: return "truncated";
    case Result::NoNalUnit: return "no NAL unit";
    }
    return "unknown";
}

void SyntaxReader::fail(Result result, std::string message)
{
    if (!status_.ok()) return;
    status_.result = result;
    status_.message = std::move(message);
}

bool SyntaxReader::readFailed(const char* name, int index)
{
    if (!status_.ok()) return true;
    if (bits_.overrun()) {
        fail(Result::Truncated, "NAL unit ends inside " + fieldName(name, index));
        return true;
    }
    if (bits_.invalid()) {
        fail(Result::BrokenData, fieldName(name, index) + " is not a valid Exp-Golomb code");
        return true;
    }
    return false;
}

template <typename T>
T SyntaxReader::checkSlow(const char* name, int index, T value, T min, T max)
{
    if (readFailed(name, index)) return 0;
    if (value < min || value > max) {
        fail(Result::BrokenData, fieldName(name, index) + " = " + std::to_string(value) + " is outside "
                 + std::to_string(min) + ".." + std::to_string(max));
        return 0;
    }
    if (trace_) trace_->push_back({fieldName(name, index), static_cast<long long>(value)});
    return value;
}

template std::uint32_t SyntaxReader::checkSlow(const char*, int, std::uint32_t, std::uint32_t, std::uint32_t);
template std::int32_t SyntaxReader::checkSlow(const char*, int, std::int32_t, std::int32_t, std::int32_t);

} // namespace kestrune::h264
