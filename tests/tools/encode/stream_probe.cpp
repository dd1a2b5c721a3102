#include "tests/tools/encode/stream_probe.h"

#include "tools/bitstream/annexb_reader.h"
#include "tools/bitstream/nal_parser.h"

#include <stdexcept>

namespace kestrune::probe {

Stream parseStream(const std::string& path)
{
    h264::AnnexBReader reader{std::filesystem::path(path)};
    if (!reader.isOpen()) throw std::runtime_error("cannot open " + path + ": " + reader.error());
    h264::NalParser parser;
    Stream stream;
    h264::NalUnit unit;
    while (reader.next(unit)) {
        const h264::ParsedNal nal = parser.parse(unit.bytes);
        if (!nal.status.ok())
            throw std::runtime_error("NAL unit " + std::to_string(stream.nalUnits.size() + 1) + ": " + nal.status.message);
        stream.nalUnits.push_back({nal.header.nal_unit_type, static_cast<std::size_t>(unit.size)});
        if (nal.sps) {
            Sps sps{static_cast<int>(nal.sps->max_num_ref_frames), nal.sps->widthInMbs(), nal.sps->heightInMapUnits(), {}, {}};
            if (nal.sps->vui.timing_info_present_flag) {
                sps.num_units_in_tick = nal.sps->vui.num_units_in_tick;
                sps.time_scale = nal.sps->vui.time_scale;
            }
            stream.spsList.push_back(sps);
        }
        if (nal.slice) {
            const h264::Pps* pps = parser.parameterSets().findPps(nal.slice->pic_parameter_set_id);
            if (!pps) throw std::runtime_error("slice without its PPS");
            stream.slices.push_back({nal.header.nal_unit_type, static_cast<std::size_t>(unit.size),
                                     static_cast<int>(nal.slice->first_mb_in_slice), static_cast<int>(nal.slice->slice_type),
                                     26 + pps->pic_init_qp_minus26 + nal.slice->slice_qp_delta});
        }
    }
    if (!reader.error().empty()) throw std::runtime_error("cannot read " + path + ": " + reader.error());
    return stream;
}

std::vector<std::vector<SliceHeader>> Stream::pictures() const
{
    std::vector<std::vector<SliceHeader>> result;
    for (const SliceHeader& slice : slices) {
        if (slice.first_mb_in_slice == 0 || result.empty()) result.emplace_back();
        result.back().push_back(slice);
    }
    return result;
}

} // namespace kestrune::probe
