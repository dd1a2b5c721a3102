#include "tools/decode/access_unit_reader.h"

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
        h264::PictureNumbers& n = unit.numbers;
        n.idr = type == h264::NalIdrSlice;
        n.reference = parsed.header.nal_ref_idc != 0;
        n.known = slice.numbersParsed;
        n.frameNum = slice.frame_num;
        n.idrPicId = slice.idr_pic_id;
        n.frameNumBits = slice.frameNumBits;
        unit.withoutParameterSets = !slice.complete && parsed.status.result == h264::Result::BrokenLink;
        unit.type = PictureType::I;
    }
    const h264::SliceKind kind = slice.kind();
    if (kind == h264::SliceKind::B) unit.type = PictureType::B;
    else if ((kind == h264::SliceKind::P || kind == h264::SliceKind::SP) && unit.type == PictureType::I)
        unit.type = PictureType::P;
}

bool AccessUnitReader::next(ReceivedPicture& unit)
{
    unit = ReceivedPicture{};
    bool any = false;
    if (held_) {
        append(*held_, *heldParsed_, unit);
        held_.reset();
        heldParsed_.reset();
        any = true;
    }
    h264::NalUnit nal;
    while (reader_.next(nal)) {
        if (repeats_.repeated(nal.bytes)) continue;
        h264::ParsedNal parsed = parser_.parse(nal.bytes, nal.clipped());
        const bool starts = detector_.startsAccessUnit(parsed.header, parsed.slice ? &*parsed.slice : nullptr,
                                                       parser_.parameterSets());
        if (starts && any) {
            held_ = std::move(nal);
            heldParsed_ = std::move(parsed);
            return true;
        }
        append(nal, parsed, unit);
        any = true;
    }
    return any;
}

} // namespace kestrune::decode
