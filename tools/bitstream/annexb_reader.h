#pragma once
// Streaming splitter of an Annex B byte stream (ITU-T H.264 Annex B) into NAL
// units, over a file or a memory buffer, in constant memory.
//
// A NAL unit starts after a 0x000001 start code (a 4-byte start code is its
// zero_byte plus that) and ends before the next start code; zero bytes in front
// of a start code are trailing_zero_8bits (or a zero_byte) and belong to no NAL
// unit. Start codes with nothing but zeros between them yield no (empty) NAL
// unit. Bytes before the first start code are skipped; non-zero ones are
// counted in leadingGarbageBytes().
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <span>
#include <string>
#include <vector>

namespace kestrune::h264 {

struct NalUnit {
    // The unit's stretch of the stream: from the end of the previous NAL unit
    // (0 for the first) through its last byte. The stretches of all NAL units
    // plus what follows the last one cover the file, so dropping a NAL unit
    // means leaving out exactly its stretch, start code included.
    std::uint64_t spanOffset = 0;
    std::uint64_t offset = 0;  // first byte of the NAL unit header
    std::uint64_t size = 0;    // NumBytesInNALunit, never 0
    std::vector<std::uint8_t> bytes;  // the first min(size, keep) bytes of the NAL unit

    bool clipped() const { return bytes.size() < size; }
    std::uint64_t end() const { return offset + size; }
};

class AnnexBReader {
public:
    static constexpr std::size_t kKeepAll = std::numeric_limits<std::size_t>::max();

    // keepBytes caps NalUnit::bytes so a huge NAL unit (or a file without any
    // start code) never has to fit in memory; offset and size stay exact.
    // keepSliceBytes caps slices (types 1..5 and 19..21) further, for callers
    // that only read their headers. A memory buffer must outlive the reader.
    explicit AnnexBReader(std::span<const std::uint8_t> memory, std::size_t keepBytes = kKeepAll,
                          std::size_t keepSliceBytes = kKeepAll);
    explicit AnnexBReader(const std::filesystem::path& file, std::size_t keepBytes = kKeepAll,
                          std::size_t keepSliceBytes = kKeepAll);
    ~AnnexBReader();
    AnnexBReader(const AnnexBReader&) = delete;
    AnnexBReader& operator=(const AnnexBReader&) = delete;

    // False when the file could not be opened; error() tells why.
    bool isOpen() const { return file_ != nullptr || memoryMode_; }
    // Fills unit with the next NAL unit; false at the end of the stream or on
    // a read error (then error() is non-empty).
    bool next(NalUnit& unit);
    const std::string& error() const { return error_; }
    // Tuning (and tests of the window edges): the bytes read or mapped at a
    // time, rounded up to whole pages, and whether regular files are mapped
    // rather than read. Call before the first next().
    void setWindow(std::size_t bytes, bool mapFiles);
    // Bytes consumed so far; after the last next() the size of the stream.
    std::uint64_t bytesRead() const { return base_ + pos_; }
    std::uint64_t leadingGarbageBytes() const { return leadingGarbage_; }

private:
    bool refill();
    void unmap();
    void consume(const std::uint8_t* data, std::size_t size);
    bool finishUnit(NalUnit& unit);

    std::FILE* file_ = nullptr;
    bool memoryMode_ = false;
    std::vector<std::uint8_t> chunk_;
    std::size_t window_ = 4 << 20;
    // Regular files are mapped a window at a time: no copy into a buffer,
    // and only one window is ever resident.
    bool useMap_ = false;
    std::uint64_t mapFileSize_ = 0;
    void* mapped_ = nullptr;
    std::size_t mappedSize_ = 0;
    std::span<const std::uint8_t> view_;
    std::size_t pos_ = 0;
    std::uint64_t base_ = 0;  // stream offset of view_[0]
    std::size_t keep_;
    std::size_t keepSlice_;
    std::size_t unitKeep_ = 0;  // the cap of the NAL unit being read
    std::string error_;

    bool inUnit_ = false;
    bool done_ = false;
    std::uint64_t zeros_ = 0;  // zero bytes just before the scan position
    std::uint64_t unitStart_ = 0;
    std::uint64_t unitLength_ = 0;  // bytes since unitStart_, trailing zeros included
    std::uint64_t lastEnd_ = 0;
    std::uint64_t leadingGarbage_ = 0;
    std::vector<std::uint8_t> current_;
};

} // namespace kestrune::h264
