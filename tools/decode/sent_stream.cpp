#include "tools/decode/sent_stream.h"

#include "tools/bitstream/bitstream.h"

#include <set>
#include <stdexcept>

namespace kestrune::decode {
namespace {

std::uint64_t hashOf(std::span<const std::uint8_t> bytes)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a
    for (std::uint8_t byte : bytes) hash = (hash ^ byte) * 0x100000001b3ull;
    return hash;
}

} // namespace

SentStream::SentStream(const std::filesystem::path& file)
{
    h264::AnnexBReader reader(file);
    if (!reader.isOpen()) throw std::runtime_error("cannot read the sent stream: " + reader.error());
    h264::NalParser parser;
    h264::AccessUnitDetector detector;
    h264::NalUnit nal;
    std::int64_t unit = -1;
    while (reader.next(nal)) {
        const h264::ParsedNal parsed = parser.parse(nal.bytes);
        if (detector.startsAccessUnit(parsed.header, parsed.slice ? &*parsed.slice : nullptr, parser.parameterSets()) ||
            unit < 0) {
            ++unit;
            pictureOfUnit_.push_back(-1);
        }
        if (h264::isPrimarySliceNalType(parsed.header.nal_unit_type) && pictureOfUnit_.back() < 0)
            pictureOfUnit_.back() = pictures_++;
        nals_.push_back({hashOf(nal.bytes), nal.bytes.size(), unit, h264::isPrimarySliceNalType(parsed.header.nal_unit_type)});
        if (width_ == 0 && parsed.header.nal_unit_type == h264::NalSps)
            for (const auto& sps : parser.parameterSets().sps)
                if (sps) width_ = sps->width(), height_ = sps->height();
    }
    if (!reader.error().empty()) throw std::runtime_error("cannot read the sent stream: " + reader.error());
    if (pictures_ == 0) throw std::runtime_error("the sent stream " + file.string() + " holds no coded picture");
}

std::optional<SentStream::Match> SentStream::match(std::span<const std::uint8_t> nal)
{
    const std::uint64_t hash = hashOf(nal);
    for (std::size_t k = next_; k < nals_.size(); ++k) {
        if (nals_[k].hash != hash || nals_[k].size != nal.size()) continue;
        next_ = k + 1;
        matched_.push_back(k);
        const std::int64_t unit = nals_[k].accessUnit;
        return Match{unit, pictureOfUnit_[std::size_t(unit)]};
    }
    return std::nullopt;
}

std::int64_t SentStream::ambiguousPictures() const
{
    // The latest places the matched NAL units fit, from the end back; a slice
    // whose latest place is not its first has two.
    std::set<std::int64_t> pictures;
    std::size_t end = nals_.size();
    for (auto m = matched_.rbegin(); m != matched_.rend(); ++m) {
        const Sent& first = nals_[*m];
        std::size_t latest = end - 1;
        while (latest > *m && (nals_[latest].hash != first.hash || nals_[latest].size != first.size)) --latest;
        if (latest != *m && first.slice) pictures.insert(pictureOfUnit_[std::size_t(first.accessUnit)]);
        end = latest;
    }
    return std::int64_t(pictures.size());
}

bool SentStream::sentEarlier(std::span<const std::uint8_t> nal) const
{
    const std::uint64_t hash = hashOf(nal);
    for (std::size_t k = 0; k < next_; ++k)
        if (nals_[k].hash == hash && nals_[k].size == nal.size()) return true;
    return false;
}

} // namespace kestrune::decode
