#include "tools/bitstream/bit_reader.h"

namespace kestrune::h264 {

std::uint32_t BitReader::uSlow(int n)
{
    if (n <= 0) return 0;
    if (static_cast<std::size_t>(n) > bitsLeft()) {
        overrun_ = true;
        pos_ = data_.size() * 8;
        return 0;
    }
    const std::size_t byte = pos_ / 8;
    const int offset = static_cast<int>(pos_ % 8);
    std::uint64_t window = 0;
    for (std::size_t i = 0; i < 8; ++i) window = (window << 8) | (byte + i < data_.size() ? data_[byte + i] : 0);
    pos_ += static_cast<std::size_t>(n);
    return static_cast<std::uint32_t>((window << offset) >> (64 - n));
}

std::uint32_t BitReader::ueSlow()
{
    int leadingZeros = 0;
    while (true) {
        if (bitsLeft() == 0) {
            overrun_ = true;
            return 0;
        }
        // Count up to 8 zero bits at a time.
        const std::size_t byte = pos_ / 8;
        const int offset = static_cast<int>(pos_ % 8);
        const unsigned rest = static_cast<unsigned>(data_[byte] << offset) & 0xFF;
        if (rest) {
            const int zeros = __builtin_clz(rest) - 24;
            leadingZeros += zeros;
            pos_ += static_cast<std::size_t>(zeros) + 1;
            break;
        }
        leadingZeros += 8 - offset;
        pos_ += static_cast<std::size_t>(8 - offset);
        if (leadingZeros > 31) {
            invalid_ = true;
            return 0;
        }
    }
    if (leadingZeros > 31) {
        invalid_ = true;
        return 0;
    }
    if (leadingZeros == 0) return 0;
    const std::uint64_t suffix = u(leadingZeros);
    if (overrun_) return 0;
    const std::uint64_t value = (std::uint64_t{1} << leadingZeros) - 1 + suffix;
    if (value > 0xFFFFFFFEu) {
        invalid_ = true;
        return 0;
    }
    return static_cast<std::uint32_t>(value);
}

std::uint32_t BitReader::peek32Slow() const
{
    std::uint64_t window = 0;
    const std::size_t byte = pos_ / 8;
    for (std::size_t i = 0; i < 8; ++i) window = (window << 8) | (byte + i < data_.size() ? data_[byte + i] : 0);
    return static_cast<std::uint32_t>((window << (pos_ % 8)) >> 32);
}

void BitReader::skip(std::size_t bits)
{
    if (bits > bitsLeft()) {
        overrun_ = true;
        pos_ = data_.size() * 8;
        return;
    }
    pos_ += bits;
}

std::optional<std::size_t> rbspStopBitPosition(std::span<const std::uint8_t> rbsp)
{
    std::size_t last = rbsp.size();
    while (last > 0 && rbsp[last - 1] == 0) --last;
    if (last == 0) return std::nullopt;
    const std::uint8_t byte = rbsp[last - 1];
    int trailing = 0;
    while (!((byte >> trailing) & 1)) ++trailing;
    return (last - 1) * 8 + static_cast<std::size_t>(7 - trailing);
}

bool BitReader::moreRbspData() const
{
    const std::optional<std::size_t> stopBit = rbspStopBitPosition(data_);
    return stopBit && pos_ < *stopBit;
}

} // namespace kestrune::h264
