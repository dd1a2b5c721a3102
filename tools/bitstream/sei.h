#pragma once
// SEI messages (ITU-T H.264 clause 7.3.2.3): type and size of each, with the
// contents of the few types a researcher looks at.
#include "tools/bitstream/result.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune::h264 {

struct SeiMessage {
    std::uint32_t payloadType = 0;
    std::uint32_t payloadSize = 0;
    std::size_t payloadOffset = 0;  // byte offset of the payload in the RBSP
    std::span<const std::uint8_t> payload;  // into the parsed RBSP
};

// rbsp: SEI payload after the NAL header, emulation prevention removed. Fills
// messages in order; a payload running past the end is Truncated (the
// messages before it stay). The spans point into rbsp.
Status parseSei(std::span<const std::uint8_t> rbsp, std::vector<SeiMessage>& messages);

// Annex D names ("user_data_unregistered"), "reserved_sei_message" otherwise.
std::string_view seiPayloadTypeName(std::uint32_t type);

// user_data_unregistered: uuid in hex and the printable text after it.
std::string describeUserDataUnregistered(std::span<const std::uint8_t> payload);

} // namespace kestrune::h264
