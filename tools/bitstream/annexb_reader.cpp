#include "tools/bitstream/annexb_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kestrune::h264 {
namespace {

constexpr std::size_t kChunkSize = 1 << 20;

} // namespace

AnnexBReader::AnnexBReader(std::span<const std::uint8_t> memory, std::size_t keepBytes)
    : memoryMode_(true), view_(memory), keep_(keepBytes)
{
}

AnnexBReader::AnnexBReader(const std::filesystem::path& file, std::size_t keepBytes) : keep_(keepBytes)
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
    chunk_.resize(kChunkSize);
}

AnnexBReader::~AnnexBReader()
{
    if (file_) std::fclose(file_);
}

bool AnnexBReader::refill()
{
    if (memoryMode_ || !file_) return false;
    base_ += view_.size();
    pos_ = 0;
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
        unitLength_ += size;
        if (current_.size() < keep_) {
            const std::size_t take = std::min(size, keep_ - current_.size());
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
        const std::uint8_t* begin = view_.data() + pos_;
        const std::size_t left = view_.size() - pos_;
        const auto* one = static_cast<const std::uint8_t*>(std::memchr(begin, 1, left));
        if (!one) {
            consume(begin, left);
            pos_ = view_.size();
            continue;
        }
        const std::size_t before = static_cast<std::size_t>(one - begin);
        consume(begin, before);
        pos_ += before + 1;
        if (zeros_ < 2) {
            consume(one, 1);
            continue;
        }
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
