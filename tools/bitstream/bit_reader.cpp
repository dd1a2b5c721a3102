#include "tools/bitstream/bit_reader.h"

namespace kestrune::h264 {

std::uint32_t BitReader::u(int n)
{
    if (n <= 0) return 0;
    if (static_cast<std::size_t>(n) > bitsLeft()) {
        overrun_ = true;
        pos_ = data_.size() * 8;
        return 0;
    }
    std::uint64_t value = 0;
    for (int left = n; left > 0;) {
        const std::size_t byte = pos_ / 8;
        const int offset = static_cast<int>(pos_ % 8);
        const int take = left < 8 - offset ? left : 8 - offset;
        const unsigned bits = (data_[byte] >> (8 - offset - take)) & ((1u << take) - 1);
        value = (value << take) | bits;
        pos_ += static_cast<std::size_t>(take);
        left -= take;
    }
    return static_cast<std::uint32_t>(value);
}

std::uint32_t BitReader::ue()
{
    int leadingZeros = 0;
    while (true) {
        if (bitsLeft() == 0) {
            overrun_ = true;
            return 0;
        }
        if (u(1)) break;
        if (++leadingZeros > 31) {
            invalid_ = true;
            return 0;
        }
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

std::int32_t BitReader::se()
{
    const std::uint32_t k = ue();
    const std::int64_t magnitude = (static_cast<std::int64_t>(k) + 1) / 2;
    return static_cast<std::int32_t>(k % 2 ? magnitude : -magnitude);
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

bool BitReader::moreRbspData() const
{
    // Find the last set bit of the buffer: the rbsp_stop_one_bit.
    std::size_t last = data_.size();
    while (last > 0 && data_[last - 1] == 0) --last;
    if (last == 0) return false;
    const std::uint8_t byte = data_[last - 1];
    int trailing = 0;
    while (!((byte >> trailing) & 1)) ++trailing;
    const std::size_t stopBit = (last - 1) * 8 + static_cast<std::size_t>(7 - trailing);
    return pos_ < stopBit;
}

} // namespace kestrune::h264
