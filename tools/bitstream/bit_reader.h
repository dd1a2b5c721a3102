#pragma once
// Reads bits, Exp-Golomb codes (ITU-T H.264 clause 9.1) and RBSP trailing
// bits from a byte buffer that has had its emulation-prevention bytes removed.
// A read past the end never touches memory outside the buffer: it returns 0
// and sets overrun(); the reader then stays at the end.
#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrune::h264 {

class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> data) : data_(data) {}

    // n in 0..32.
    std::uint32_t u(int n);
    bool flag() { return u(1) != 0; }
    // ue(v): codes above 2^32 - 2 (32 or more leading zero bits) set invalid().
    std::uint32_t ue();
    // se(v): -2147483647..2147483647, through ue().
    std::int32_t se();
    void skip(std::size_t bits);

    bool overrun() const { return overrun_; }
    bool invalid() const { return invalid_; }
    std::size_t bitPosition() const { return pos_; }
    std::size_t bitsLeft() const { return data_.size() * 8 - pos_; }
    bool byteAligned() const { return pos_ % 8 == 0; }
    // more_rbsp_data(): true while bits remain before the rbsp_stop_one_bit.
    bool moreRbspData() const;

private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
    bool overrun_ = false;
    bool invalid_ = false;
};

} // namespace kestrune::h264
