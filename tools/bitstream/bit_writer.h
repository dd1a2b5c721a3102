#pragma once
// Writes bits and Exp-Golomb codes (ITU-T H.264 clause 9.1), RBSP trailing
// bits, and wraps an RBSP into a NAL unit with emulation prevention
// (clause 7.4.1). The counterpart of BitReader; the encoder, the header
// rewriter and the tests' stream builders share it.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kestrune::h264 {

class BitWriter {
public:
    // n in 0..64; the low n bits of value, most significant first.
    void u(int n, std::uint64_t value);
    void flag(bool value) { bit(value); }
    void ue(std::uint64_t value);
    void se(std::int64_t value);
    // rbsp_trailing_bits(): the stop bit, then zero bits to a byte boundary.
    void trailing();
    // Zero bits up to the next byte boundary (cabac_alignment_one_bit uses ones).
    void alignWith(bool one);
    // Appends bits [from, from + count) of data, most significant bit first.
    void copyBits(std::span<const std::uint8_t> data, std::size_t from, std::size_t count);

    std::size_t bitCount() const { return count_; }
    bool byteAligned() const { return count_ % 8 == 0; }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    std::vector<std::uint8_t> take() { count_ = 0; return std::move(bytes_); }

private:
    void bit(bool b)
    {
        if (count_ % 8 == 0) bytes_.push_back(0);
        if (b) bytes_.back() |= static_cast<std::uint8_t>(0x80 >> (count_ % 8));
        ++count_;
    }
    std::vector<std::uint8_t> bytes_;
    std::size_t count_ = 0;
};

// Inserts emulation_prevention_three_byte wherever the RBSP needs one.
std::vector<std::uint8_t> addEmulationPrevention(std::span<const std::uint8_t> rbsp);

// One NAL unit without start code: header byte, then the escaped RBSP.
std::vector<std::uint8_t> makeNalUnit(int nal_ref_idc, int nal_unit_type, std::span<const std::uint8_t> rbsp);

} // namespace kestrune::h264
