#include "tools/decode/access_unit_reader.h"

#include <stdexcept>
#include <string>

namespace kestrune::decode {

AccessUnitReader::AccessUnitReader(const std::filesystem::path& file) : reader_(file) {}

AccessUnitReader::AccessUnitReader(std::span<const std::uint8_t> memory) : reader_(memory) {}

void AccessUnitReader::append(const h264::NalUnit& nal, const h264::ParsedNal& parsed, ReceivedPicture& unit)
{
    static constexpr std::uint8_t startCode[] = {0, 0, 0, 1};
    unit.bytes.insert(unit.bytes.end(), std::begin(startCode), std::end(startCode));
    unit.bytes.insert(unit.bytes.end(), nal.bytes.begin(), nal.bytes.end());
    const int type = parsed.header.nal_unit_type;
    if (!unit.hasSlices && (type == h264::NalSps || type == h264::NalPps)) unit.numbers.afterParameterSets = true;
    if (!h264::isPrimarySliceNalType(type) || !parsed.slice || !parsed.slice->typeParsed) return;
    const h264::SliceHeader& slice = *parsed.slice;
    if (!unit.hasSlices) {
        unit.hasSlices = true;
        const bool afterParameterSets = unit.numbers.afterParameterSets;
        unit.numbers = h264::pictureNumbersOf(parsed.header, slice, parser_.parameterSets());
        unit.numbers.afterParameterSets = afterParameterSets;
        unit.withoutParameterSets = !slice.complete && parsed.status.result == h264::Result::BrokenLink;
        unit.type = PictureType::I;
        notePictureOrder(parsed.header, slice, unit);
    }
    const h264::SliceKind kind = slice.kind();
    if (kind == h264::SliceKind::B) unit.type = PictureType::B;
    else if ((kind == h264::SliceKind::P || kind == h264::SliceKind::SP) && unit.type == PictureType::I)
        unit.type = PictureType::P;
}

void AccessUnitReader::notePictureOrder(const h264::NalHeader& header, const h264::SliceHeader& slice, ReceivedPicture& unit)
{
    const h264::Pps* pps = slice.complete ? parser_.parameterSets().findPps(slice.pic_parameter_set_id) : nullptr;
    const h264::Sps* sps = pps ? parser_.parameterSets().findSps(pps->seq_parameter_set_id) : nullptr;
    if (!sps) return;
    const std::optional<int> count = poc_.next(*sps, slice, header.nal_ref_idc, unit.numbers.idr);
    const std::int64_t shown = poc_.pictureDone(unit.numbers.reference, unit.numbers.resetsFrameNum);
    // Type 2 counts follow decode order.
    if (count && sps->pic_order_cnt_type != 2) unit.poc = shown;
}

bool AccessUnitReader::next(ReceivedPicture& unit)
{
    unit = ReceivedPicture{};
    bool any = false;
    if (held_) {
        append(*held_, *heldParsed_, unit);
        held_.reset();
        heldParsed_.reset();
        sentUnit_ = heldUnit_;
        any = true;
    }
    h264::NalUnit nal;
    while (reader_.next(nal)) {
        if (repeats_.repeated(nal.bytes)) continue;
        h264::ParsedNal parsed = parser_.parse(nal.bytes, nal.clipped());
        bool starts = false;
        std::optional<SentStream::Match> sentUnit;
        if (sent_) {
            sentUnit = sent_->match(nal.bytes);
            if (!sentUnit && sent_->sentEarlier(nal.bytes)) continue;  // a repeat that arrived late
            if (!sentUnit)
                throw std::runtime_error("the NAL unit at byte " + std::to_string(nal.offset) +
                                         " was never sent (or not in this order): the sent stream is another one");
            starts = !sentUnit_ || sentUnit->accessUnit != sentUnit_->accessUnit;
        } else {
            starts = detector_.startsAccessUnit(parsed.header, parsed.slice ? &*parsed.slice : nullptr,
                                                parser_.parameterSets());
        }
        repeats_.note(nal.bytes, starts);
        if (starts && any) {
            held_ = std::move(nal);
            heldParsed_ = std::move(parsed);
            heldUnit_ = sentUnit;
            break;
        }
        if (sent_) sentUnit_ = sentUnit;
        append(nal, parsed, unit);
        any = true;
    }
    if (any && sentUnit_) unit.sentPicture = sentUnit_->picture;
    return any;
}

} // namespace kestrune::decode
