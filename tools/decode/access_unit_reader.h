#pragma once
// Groups an Annex B stream into access units with our bitstream library
// (clause 7.4.1.2.4), so a picture whose first slice was lost still arrives
// on its own instead of merged into its neighbour.
#include "tools/baseline_decoder/picture_order_count.h"
#include "tools/decode/received_picture.h"
#include "tools/decode/sent_stream.h"
#include "tools/bitstream/bitstream.h"

#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace kestrune::decode {

class AccessUnitReader {
public:
    explicit AccessUnitReader(const std::filesystem::path& file);
    explicit AccessUnitReader(std::span<const std::uint8_t> memory);

    bool isOpen() const { return reader_.isOpen(); }
    // Empty unless opening or reading failed.
    const std::string& error() const { return reader_.error(); }
    // Groups NAL units by the sent stream's access units instead, and gives
    // each picture its place there (sentPicture). Not owned.
    void useSentStream(SentStream* sent) { sent_ = sent; }
    // The next access unit; false at the end of the stream or on a read error.
    // Throws std::runtime_error for a NAL unit the sent stream does not have.
    bool next(ReceivedPicture& unit);
    std::uint64_t bytesRead() const { return reader_.bytesRead(); }
    // Slices that arrived twice byte for byte; the repeats were left out.
    int repeatedSlices() const { return repeats_.repeats(); }
    // The parameter sets seen so far.
    const h264::ParameterSets& parameterSets() const { return parser_.parameterSets(); }

private:
    void append(const h264::NalUnit& nal, const h264::ParsedNal& parsed, ReceivedPicture& unit);
    void notePictureOrder(const h264::NalHeader& header, const h264::SliceHeader& slice, ReceivedPicture& unit);

    h264::AnnexBReader reader_;
    h264::NalParser parser_;
    h264::AccessUnitDetector detector_;
    h264::RepeatedSliceFilter repeats_;
    codec::PictureOrderCount poc_;
    std::optional<h264::NalUnit> held_; // first NAL unit of the next access unit
    std::optional<h264::ParsedNal> heldParsed_;
    SentStream* sent_ = nullptr;
    std::optional<SentStream::Match> sentUnit_;  // where the current access unit stands in the sent stream
    std::optional<SentStream::Match> heldUnit_;
};

} // namespace kestrune::decode
