#include "tools/decode/access_unit_reader.h"

namespace kestrune::decode {

AccessUnitReader::AccessUnitReader(const std::filesystem::path& file) : reader_(file) {}

AccessUnitReader::AccessUnitReader(std::span<const std::uint8_t> memory) : reader_(memory) {}

void AccessUnitReader::append(const h264::NalUnit& nal, const h264::ParsedNal& parsed, AccessUnit& unit)
{
    static constexpr std::uint8_t startCode[] = {0, 0, 0, 1};
    unit.bytes.insert(unit.bytes.end(), std::begin(startCode), std::end(startCode));
    unit.bytes.insert(unit.bytes.end(), nal.bytes.begin(), nal.bytes.end());
    unit.hasSps = unit.hasSps || parsed.header.nal_unit_type == h264::NalSps;
    if (!h264::isPrimarySliceNalType(parsed.header.nal_unit_type) || !parsed.slice || !parsed.slice->typeParsed) return;
    const h264::SliceHeader& slice = *parsed.slice;
    if (!unit.hasSlices) {
        unit.hasSlices = true;
        unit.idr = parsed.header.nal_unit_type == h264::NalIdrSlice;
        unit.reference = parsed.header.nal_ref_idc != 0;
        unit.type = PictureType::I;
        if (slice.ppsIdParsed) { // with its PPS known, frame_num follows directly
            const h264::Pps* pps = parser_.parameterSets().findPps(slice.pic_parameter_set_id);
            const h264::Sps* sps = pps ? parser_.parameterSets().findSps(pps->seq_parameter_set_id) : nullptr;
            if (sps) {
                unit.frameNum = int(slice.frame_num);
                unit.maxFrameNum = 1 << sps->maxFrameNumBits();
            }
        }
    }
    const h264::SliceKind kind = slice.kind();
    if (kind == h264::SliceKind::B) unit.type = PictureType::B;
    else if ((kind == h264::SliceKind::P || kind == h264::SliceKind::SP) && unit.type == PictureType::I)
        unit.type = PictureType::P;
}

bool AccessUnitReader::next(AccessUnit& unit)
{
    unit = AccessUnit{};
    bool any = false;
    if (held_) {
        append(*held_, *heldParsed_, unit);
        held_.reset();
        heldParsed_.reset();
        any = true;
    }
    h264::NalUnit nal;
    while (reader_.next(nal)) {
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
