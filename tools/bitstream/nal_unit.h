#pragma once
// NAL unit header (ITU-T H.264 clause 7.3.1), the NAL unit type table and
// emulation-prevention removal.
#include "tools/bitstream/result.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace kestrune::h264 {

enum NalUnitType : int {
    NalUnspecified = 0,
    NalSlice = 1,
    NalPartitionA = 2,
    NalPartitionB = 3,
    NalPartitionC = 4,
    NalIdrSlice = 5,
    NalSei = 6,
    NalSps = 7,
    NalPps = 8,
    NalAccessUnitDelimiter = 9,
    NalEndOfSequence = 10,
    NalEndOfStream = 11,
    NalFiller = 12,
    NalSpsExtension = 13,
    NalPrefix = 14,
    NalSubsetSps = 15,
    NalDepthParameterSet = 16,
    NalAuxiliarySlice = 19,
    NalSliceExtension = 20,
    NalSliceExtensionDepth = 21,
};

struct NalHeader {
    int forbidden_zero_bit = 0;
    int nal_ref_idc = 0;
    int nal_unit_type = 0;
    // Bytes of the header: 1, or 4 for types 14, 20 and 21 (3-byte extension).
    int headerBytes = 1;
};

// Parses the first byte(s) of a NAL unit. Empty input: NoNalUnit; a missing
// extension: Truncated; forbidden_zero_bit set: BrokenData (header still filled).
Status parseNalHeader(std::span<const std::uint8_t> nal, NalHeader& header);

// Removes emulation_prevention_three_byte (every 0x03 after 0x00 0x00).
std::vector<std::uint8_t> removeEmulationPrevention(std::span<const std::uint8_t> bytes);
// The same into a caller's buffer, reusing its capacity.
void removeEmulationPrevention(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out);

// Table 7-1. Long name ("Coded slice of an IDR picture", "Reserved",
// "Unspecified") and a short tag ("IDR", "SPS", "RSV17", "UNSPEC24").
std::string_view nalUnitTypeName(int type);
std::string_view nalUnitTypeTag(int type);
// Inverse of nalUnitTypeTag; nullopt for an unknown tag.
std::optional<int> nalUnitTypeFromTag(std::string_view tag);
// Reserved (17, 18, 22, 23) or unspecified (0, 24..31) types.
bool isReservedOrUnspecifiedNalType(int type);
// Types that carry a slice header of the primary picture: 1, 2, 5.
inline bool isPrimarySliceNalType(int type) { return type == NalSlice || type == NalPartitionA || type == NalIdrSlice; }

} // namespace kestrune::h264
