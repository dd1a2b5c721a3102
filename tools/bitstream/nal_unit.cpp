#include "tools/bitstream/nal_unit.h"

#include <array>
#include <cstring>
#include <string>

namespace kestrune::h264 {
namespace {

struct TypeNames {
    std::string_view name;
    std::string_view tag;
};

constexpr std::array<TypeNames, 32> kTypeNames{{
    {"Unspecified", "UNSPEC0"},
    {"Coded slice of a non-IDR picture", "SLICE"},
    {"Coded slice data partition A", "DPA"},
    {"Coded slice data partition B", "DPB"},
    {"Coded slice data partition C", "DPC"},
    {"Coded slice of an IDR picture", "IDR"},
    {"Supplemental enhancement information", "SEI"},
    {"Sequence parameter set", "SPS"},
    {"Picture parameter set", "PPS"},
    {"Access unit delimiter", "AUD"},
    {"End of sequence", "EOSEQ"},
    {"End of stream", "EOSTREAM"},
    {"Filler data", "FILLER"},
    {"Sequence parameter set extension", "SPSEXT"},
    {"Prefix NAL unit", "PREFIX"},
    {"Subset sequence parameter set", "SUBSPS"},
    {"Depth parameter set", "DPS"},
    {"Reserved", "RSV17"},
    {"Reserved", "RSV18"},
    {"Coded slice of an auxiliary coded picture without partitioning", "AUX"},
    {"Coded slice extension", "SLICEEXT"},
    {"Coded slice extension for a depth view component", "SLICEDEPTH"},
    {"Reserved", "RSV22"},
    {"Reserved", "RSV23"},
    {"Unspecified", "UNSPEC24"},
    {"Unspecified", "UNSPEC25"},
    {"Unspecified", "UNSPEC26"},
    {"Unspecified", "UNSPEC27"},
    {"Unspecified", "UNSPEC28"},
    {"Unspecified", "UNSPEC29"},
    {"Unspecified", "UNSPEC30"},
    {"Unspecified", "UNSPEC31"},
}};

} // namespace

Status parseNalHeader(std::span<const std::uint8_t> nal, NalHeader& header)
{
    header = NalHeader{};
    if (nal.empty()) return {Result::NoNalUnit, "empty NAL unit"};
    header.forbidden_zero_bit = nal[0] >> 7;
    header.nal_ref_idc = (nal[0] >> 5) & 3;
    header.nal_unit_type = nal[0] & 31;
    const int type = header.nal_unit_type;
    if (type == NalPrefix || type == NalSliceExtension || type == NalSliceExtensionDepth) {
        header.headerBytes = 4;
        if (nal.size() < 4) return {Result::Truncated, "NAL unit ends inside its header extension"};
    }
    if (header.forbidden_zero_bit) return {Result::BrokenData, "forbidden_zero_bit is 1"};
    return {};
}

void removeEmulationPrevention(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out)
{
    out.resize(bytes.size());
    // Nothing to remove before the first zero byte: copy that part at once.
    const auto* zero = static_cast<const std::uint8_t*>(std::memchr(bytes.data(), 0, bytes.size()));
    std::size_t o = zero ? static_cast<std::size_t>(zero - bytes.data()) : bytes.size();
    if (o) std::memcpy(out.data(), bytes.data(), o);
    int zeros = 0;
    for (std::uint8_t b : bytes.subspan(o)) {
        if (zeros >= 2 && b == 3) {
            zeros = 0;
            continue;
        }
        out[o++] = b;
        zeros = b == 0 ? zeros + 1 : 0;
    }
    out.resize(o);
}

std::vector<std::uint8_t> removeEmulationPrevention(std::span<const std::uint8_t> bytes)
{
    std::vector<std::uint8_t> out;
    removeEmulationPrevention(bytes, out);
    return out;
}

std::string_view nalUnitTypeName(int type)
{
    if (type < 0 || type > 31) return "Invalid";
    return kTypeNames[static_cast<std::size_t>(type)].name;
}

std::string_view nalUnitTypeTag(int type)
{
    if (type < 0 || type > 31) return "INVALID";
    return kTypeNames[static_cast<std::size_t>(type)].tag;
}

std::optional<int> nalUnitTypeFromTag(std::string_view tag)
{
    for (std::size_t i = 0; i < kTypeNames.size(); ++i)
        if (kTypeNames[i].tag == tag) return static_cast<int>(i);
    return std::nullopt;
}

bool isReservedOrUnspecifiedNalType(int type)
{
    return type == 0 || type == 17 || type == 18 || type == 22 || type == 23 || type >= 24;
}

} // namespace kestrune::h264
