#pragma once
// The stream that went into the channel. A channel only drops NAL units
// (and may repeat some), so every received NAL unit is one of the sent ones,
// in the same order: matching each to the sent stream tells which access
// unit, and so which picture, it belongs to, whatever was lost around it.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace kestrune::decode {

class SentStream {
public:
    // Reads the whole stream; throws std::runtime_error when it cannot.
    explicit SentStream(const std::filesystem::path& file);

    struct Match {
        std::int64_t accessUnit = 0;  // from 0, in stream order
        std::int64_t picture = -1;    // from 0 among the access units with slices; -1 for one without
    };
    // The first sent NAL unit after the last one matched with these bytes;
    // nullopt when no later one has them.
    std::optional<Match> match(std::span<const std::uint8_t> nal);
    // Whether a NAL unit before the last one matched has these bytes (a late repeat).
    bool sentEarlier(std::span<const std::uint8_t> nal) const;

    // Coded pictures in the sent stream.
    std::int64_t pictures() const { return pictures_; }
    // The cropped picture size of its first SPS (0 without one): the size of
    // the grey frames written where every received SPS was lost.
    int width() const { return width_; }
    int height() const { return height_; }
    // Pictures whose received slices also fit a later place: byte-identical
    // slices (a static scene repeats its pictures after every IDR picture)
    // with losses between them. Matching takes the first place that fits, a
    // guess. Counted over the NAL units matched so far.
    std::int64_t ambiguousPictures() const;

private:
    struct Sent {
        std::uint64_t hash = 0;
        std::size_t size = 0;
        std::int64_t accessUnit = 0;
        bool slice = false;
    };
    std::vector<Sent> nals_;
    std::vector<std::size_t> matched_;         // per NAL unit matched: its place in nals_
    std::vector<std::int64_t> pictureOfUnit_;  // per access unit: its picture, or -1
    std::size_t next_ = 0;                     // where the next match is searched from
    std::int64_t pictures_ = 0;
    int width_ = 0;
    int height_ = 0;
};

} // namespace kestrune::decode
