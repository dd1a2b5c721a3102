#include "tools/bitstream/annexb_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#if defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#define KESTRUNE_HAVE_MMAP 1
#endif

namespace kestrune::h264 {
namespace {


// The first i in [from, size) ending a start code (data[i - 2..i] is
// 00 00 01), or size. Needs from >= 2.
std::size_t findStartCodeEnd(const std::uint8_t* data, std::size_t from, std::size_t size)
{
    std::size_t i = from;
#ifdef __SSE2__
    // Sixteen positions at a time; nearly every block of slice data has none.
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi8(1);
    for (; i + 16 <= size; i += 16) {
        // Memory is the bottleneck here: ask for the data well ahead of the loads.
        __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(data) + i + 2048));
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i - 2));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i - 1));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i hit = _mm_and_si128(_mm_and_si128(_mm_cmpeq_epi8(a, zero), _mm_cmpeq_epi8(b, zero)), _mm_cmpeq_epi8(c, one));
        if (const int mask = _mm_movemask_epi8(hit)) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#endif
    while (i < size) {
        const auto* found = static_cast<const std::uint8_t*>(std::memchr(data + i, 1, size - i));
        if (!found) return size;
        i = static_cast<std::size_t>(found - data);
        if (data[i - 1] == 0 && data[i - 2] == 0) return i;
        ++i;
    }
    return size;
}

} // namespace

AnnexBReader::AnnexBReader(std::span<const std::uint8_t> memory, std::size_t keepBytes, std::size_t keepSliceBytes)
    : memoryMode_(true), view_(memory), keep_(keepBytes), keepSlice_(std::min(keepBytes, keepSliceBytes))
{
}

AnnexBReader::AnnexBReader(const std::filesystem::path& file, std::size_t keepBytes, std::size_t keepSliceBytes)
    : keep_(keepBytes), keepSlice_(std::min(keepBytes, keepSliceBytes))
{
    file_ = std::fopen(file.c_str(), "rb");
    if (!file_) {
        error_ = file.string() + ": " + std::strerror(errno);
        return;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(file, ec)) {
        error_ = file.string() + ": is a directory";
        std::fclose(file_);
        file_ = nullptr;
        return;
    }
#ifdef KESTRUNE_HAVE_MMAP
    struct stat info {};
    if (::fstat(::fileno(file_), &info) == 0 && S_ISREG(info.st_mode)) {
        mapFileSize_ = static_cast<std::uint64_t>(info.st_size);
        useMap_ = true;
        return;
    }
#endif
}

AnnexBReader::~AnnexBReader()
{
    unmap();
    if (file_) std::fclose(file_);
}

void AnnexBReader::setWindow(std::size_t bytes, bool mapFiles)
{
#ifdef KESTRUNE_HAVE_MMAP
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    bytes = (std::max<std::size_t>(bytes, 1) + page - 1) / page * page;
#endif
    window_ = bytes;
    if (!mapFiles) useMap_ = false;
}

void AnnexBReader::unmap()
{
#ifdef KESTRUNE_HAVE_MMAP
    if (mapped_) ::munmap(mapped_, mappedSize_);
#endif
    mapped_ = nullptr;
    mappedSize_ = 0;
}

bool AnnexBReader::refill()
{
    if (memoryMode_ || !file_) return false;
    base_ += view_.size();
    pos_ = 0;
    view_ = {};
#ifdef KESTRUNE_HAVE_MMAP
    if (useMap_) {
        unmap();
        // A file cut short meanwhile must not be mapped past its end (that
        // would end the process on first touch): take the smaller size.
        struct stat info {};
        if (::fstat(::fileno(file_), &info) == 0 && static_cast<std::uint64_t>(info.st_size) < mapFileSize_)
            mapFileSize_ = static_cast<std::uint64_t>(info.st_size);
        if (base_ >= mapFileSize_) return false;
        const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(window_, mapFileSize_ - base_));
        void* map = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, ::fileno(file_), static_cast<off_t>(base_));
        if (map != MAP_FAILED) {
            ::madvise(map, length, MADV_WILLNEED);
            mapped_ = map;
            mappedSize_ = length;
            view_ = std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(map), length);
            return true;
        }
        // Mapping failed (odd file system): read it the ordinary way.
        useMap_ = false;
        if (std::fseek(file_, static_cast<long>(base_), SEEK_SET) != 0) {
            error_ = std::string("read error: ") + std::strerror(errno);
            return false;
        }
    }
#endif
    chunk_.resize(window_);
    const std::size_t got = std::fread(chunk_.data(), 1, chunk_.size(), file_);
    if (got == 0 && std::ferror(file_)) error_ = std::string("read error: ") + std::strerror(errno);
    view_ = std::span<const std::uint8_t>(chunk_.data(), got);
    return got > 0;
}

void AnnexBReader::consume(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return;
    std::size_t trailing = 0;
    while (trailing < size && data[size - 1 - trailing] == 0) ++trailing;
    if (!inUnit_) {
        for (std::size_t i = 0; i < size; ++i) leadingGarbage_ += data[i] != 0;
    } else {
        if (unitLength_ == 0) {
            const int type = data[0] & 31;
            unitKeep_ = (type >= 1 && type <= 5) || (type >= 19 && type <= 21) ? keepSlice_ : keep_;
        }
        unitLength_ += size;
        if (current_.size() < unitKeep_) {
            const std::size_t take = std::min(size, unitKeep_ - current_.size());
            current_.insert(current_.end(), data, data + take);
        }
    }
    zeros_ = trailing == size ? zeros_ + size : trailing;
}

bool AnnexBReader::finishUnit(NalUnit& unit)
{
    const bool wasInUnit = inUnit_;
    const std::uint64_t size = unitLength_ - std::min(zeros_, unitLength_);
    if (!wasInUnit || size == 0) {
        current_.clear();
        return false;
    }
    unit.spanOffset = lastEnd_;
    unit.offset = unitStart_;
    unit.size = size;
    if (current_.size() > size) current_.resize(static_cast<std::size_t>(size));
    unit.bytes.swap(current_);
    current_.clear();
    lastEnd_ = unit.end();
    return true;
}

bool AnnexBReader::next(NalUnit& unit)
{
    while (!done_) {
        if (pos_ >= view_.size() && !refill()) {
            done_ = true;
            const bool produced = finishUnit(unit);
            inUnit_ = false;
            return produced;
        }
        // Bytes from segment on are consumed in one piece when a start code
        // (or the end of the buffer) is found; a lone 0x01 needs no work.
        const std::size_t segment = pos_;
        const std::uint8_t* data = view_.data();
        const std::size_t size = view_.size();
        // The first two positions may complete a start code begun before the segment.
        bool startCode = false;
        std::size_t at = size;
        for (std::size_t j = segment; j < size && j < segment + 2 && !startCode; ++j) {
            if (data[j] != 1) continue;
            startCode = j == segment ? zeros_ >= 2 : data[j - 1] == 0 && zeros_ >= 1;
            if (startCode) at = j;
        }
        if (!startCode && segment + 2 < size) {
            at = findStartCodeEnd(data, segment + 2, size);
            startCode = at < size;
        }
        if (!startCode) {
            consume(data + segment, size - segment);
            pos_ = size;
            continue;
        }
        consume(data + segment, at - segment);
        pos_ = at + 1;
        // Start code 0x000001 ending at this byte.
        const bool produced = finishUnit(unit);
        inUnit_ = true;
        unitStart_ = base_ + pos_;
        unitLength_ = 0;
        zeros_ = 0;
        if (produced) return true;
    }
    return false;
}

} // namespace kestrune::h264
