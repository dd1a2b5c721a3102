#include "tools/bitstream/bit_writer.h"

namespace kestrune::h264 {

void BitWriter::u(int n, std::uint64_t value)
{
    for (int i = n - 1; i >= 0; --i) bit((value >> i) & 1);
}

void BitWriter::ue(std::uint64_t value)
{
    const std::uint64_t v = value + 1;
    int bits = 0;
    while ((v >> bits) > 1) ++bits;
    u(bits, 0);
    u(bits + 1, v);
}

void BitWriter::se(std::int64_t value)
{
    ue(value > 0 ? 2 * static_cast<std::uint64_t>(value) - 1 : 2 * static_cast<std::uint64_t>(-value));
}

void BitWriter::trailing()
{
    bit(true);
    alignWith(false);
}

void BitWriter::alignWith(bool one)
{
    while (count_ % 8) bit(one);
}

void BitWriter::copyBits(std::span<const std::uint8_t> data, std::size_t from, std::size_t count)
{
    std::size_t i = from;
    const std::size_t end = from + count;
    // Bit by bit up to a byte boundary of the source, then whole bytes.
    while (i < end && i % 8) {
        bit((data[i / 8] >> (7 - i % 8)) & 1);
        ++i;
    }
    for (; i + 8 <= end; i += 8) u(8, data[i / 8]);
    for (; i < end; ++i) bit((data[i / 8] >> (7 - i % 8)) & 1);
}

std::vector<std::uint8_t> addEmulationPrevention(std::span<const std::uint8_t> rbsp)
{
    std::vector<std::uint8_t> out;
    out.reserve(rbsp.size() + rbsp.size() / 64 + 1);
    int zeros = 0;
    for (std::uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    // A NAL unit may not end in 0x00 (clause 7.4.1): after cabac_zero_words
    // a final emulation_prevention_three_byte follows.
    if (zeros >= 2) out.push_back(3);
    return out;
}

std::vector<std::uint8_t> makeNalUnit(int nal_ref_idc, int nal_unit_type, std::span<const std::uint8_t> rbsp)
{
    std::vector<std::uint8_t> out{static_cast<std::uint8_t>((nal_ref_idc << 5) | nal_unit_type)};
    const auto escaped = addEmulationPrevention(rbsp);
    out.insert(out.end(), escaped.begin(), escaped.end());
    return out;
}

} // namespace kestrune::h264
