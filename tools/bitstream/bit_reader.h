#pragma once
// Reads bits, Exp-Golomb codes (ITU-T H.264 clause 9.1) and RBSP trailing
// bits from a byte buffer that has had its emulation-prevention bytes removed.
// A read past the end never touches memory outside the buffer: it returns 0
// and sets overrun(); the reader then stays at the end.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

namespace kestrune::h264 {

// Bit position of the rbsp_stop_one_bit, the last 1 bit of rbsp; none when
// every byte is 0.
std::optional<std::size_t> rbspStopBitPosition(std::span<const std::uint8_t> rbsp);

class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> data) : data_(data) {}

    // n in 0..32.
    std::uint32_t u(int n)
    {
        // Fast path, inline: a 64-bit window holds the at most 39 bits needed.
        if (n <= 0 || pos_ / 8 + 8 > data_.size()) return uSlow(n);
        const std::uint64_t window = windowAt(pos_ / 8) << (pos_ % 8);
        pos_ += static_cast<std::size_t>(n);
        return static_cast<std::uint32_t>(window >> (64 - n));
    }
    bool flag() { return u(1) != 0; }
    // ue(v): codes above 2^32 - 2 (32 or more leading zero bits) set invalid().
    std::uint32_t ue()
    {
        // Fast path, inline: codes of up to 55 bits within one 64-bit window.
        if (pos_ / 8 + 8 <= data_.size()) {
            const std::uint64_t window = windowAt(pos_ / 8) << (pos_ % 8);
            if (window >> 36) {
                const int length = 2 * __builtin_clzll(window) + 1;
                pos_ += static_cast<std::size_t>(length);
                return static_cast<std::uint32_t>((window >> (64 - length)) - 1);
            }
        }
        return ueSlow();
    }
    // se(v): -2147483647..2147483647, through ue().
    std::int32_t se()
    {
        const std::uint32_t k = ue();
        const std::int64_t magnitude = (static_cast<std::int64_t>(k) + 1) / 2;
        return static_cast<std::int32_t>(k % 2 ? magnitude : -magnitude);
    }
    void skip(std::size_t bits);
    // The next 32 bits without consuming them (bits past the end read as 0),
    // and consume() to take n bits (n >= 0; past the end it sets overrun()):
    // table-driven decoders look before they know a code's length.
    std::uint32_t peek32() const
    {
        if (pos_ / 8 + 8 <= data_.size()) return static_cast<std::uint32_t>((windowAt(pos_ / 8) << (pos_ % 8)) >> 32);
        return peek32Slow();
    }
    void consume(int n)
    {
        pos_ += static_cast<std::size_t>(n);
        if (pos_ > data_.size() * 8) {
            overrun_ = true;
            pos_ = data_.size() * 8;
        }
    }

    // The whole buffer, for decoders that keep a copy of the position in
    // registers over a run of codes and skip() by what they read.
    std::span<const std::uint8_t> data() const { return data_; }

    bool overrun() const { return overrun_; }
    bool invalid() const { return invalid_; }
    std::size_t bitPosition() const { return pos_; }
    std::size_t bitsLeft() const { return data_.size() * 8 - pos_; }
    bool byteAligned() const { return pos_ % 8 == 0; }
    // more_rbsp_data(): true while bits remain before the rbsp_stop_one_bit.
    bool moreRbspData() const;

private:
    std::uint32_t uSlow(int n);
    std::uint32_t ueSlow();
    std::uint32_t peek32Slow() const;
    // Eight bytes from byte on as a big-endian number (byte + 8 <= size).
    std::uint64_t windowAt(std::size_t byte) const
    {
        std::uint64_t window;
        std::memcpy(&window, data_.data() + byte, 8);
        return __builtin_bswap64(window);
    }

    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
    bool overrun_ = false;
    bool invalid_ = false;
};

} // namespace kestrune::h264
