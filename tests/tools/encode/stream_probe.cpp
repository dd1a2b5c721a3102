#include "tests/tools/encode/stream_probe.h"

#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>

namespace kestrune::probe {
namespace {

class BitReader {
public:
    explicit BitReader(const std::vector<std::uint8_t>& data) : data_(data) {}
    std::uint32_t u(int bits)
    {
        std::uint32_t value = 0;
        for (int i = 0; i < bits; ++i) {
            if (pos_ >= data_.size() * 8) throw std::runtime_error("read past the end of an RBSP");
            value = value << 1 | ((data_[pos_ / 8] >> (7 - pos_ % 8)) & 1u);
            ++pos_;
        }
        return value;
    }
    bool flag() { return u(1) != 0; }
    std::uint32_t ue()
    {
        int zeros = 0;
        while (u(1) == 0)
            if (++zeros > 31) throw std::runtime_error("Exp-Golomb code too long");
        return ((1u << zeros) - 1) + u(zeros);
    }
    std::int32_t se()
    {
        const std::uint32_t k = ue();
        return (k & 1) ? static_cast<std::int32_t>((k + 1) / 2) : -static_cast<std::int32_t>(k / 2);
    }

private:
    const std::vector<std::uint8_t>& data_;
    std::size_t pos_ = 0;
};

bool isHighProfile(int profile)
{
    switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118: case 128: case 138: case 139: case 134: case 135:
        return true;
    default:
        return false;
    }
}

Sps parseSps(const std::vector<std::uint8_t>& rbsp)
{
    BitReader r(rbsp);
    Sps s;
    s.profile_idc = static_cast<int>(r.u(8));
    r.u(16);  // constraint flags, level_idc
    s.seq_parameter_set_id = static_cast<int>(r.ue());
    if (isHighProfile(s.profile_idc)) {
        if (r.ue() == 3) r.u(1);  // chroma_format_idc, separate_colour_plane_flag
        r.ue();
        r.ue();
        r.u(1);
        if (r.flag()) throw std::runtime_error("scaling matrices are not followed");
    }
    s.log2_max_frame_num = static_cast<int>(r.ue()) + 4;
    s.pic_order_cnt_type = static_cast<int>(r.ue());
    if (s.pic_order_cnt_type == 0) {
        s.log2_max_pic_order_cnt_lsb = static_cast<int>(r.ue()) + 4;
    } else if (s.pic_order_cnt_type == 1) {
        s.delta_pic_order_always_zero_flag = r.flag();
        r.se();
        r.se();
        for (std::uint32_t n = r.ue(); n > 0; --n) r.se();
    }
    s.max_num_ref_frames = static_cast<int>(r.ue());
    r.u(1);
    s.width_in_mbs = static_cast<int>(r.ue()) + 1;
    s.height_in_mbs = static_cast<int>(r.ue()) + 1;
    s.frame_mbs_only_flag = r.flag();
    if (!s.frame_mbs_only_flag) {
        r.u(1);
        s.height_in_mbs *= 2;
    }
    r.u(1);  // direct_8x8_inference_flag
    if (r.flag()) {
        r.ue();
        r.ue();
        r.ue();
        r.ue();
    }
    if (!r.flag()) return s;  // vui_parameters_present_flag
    if (r.flag() && r.u(8) == 255) r.u(32);  // aspect ratio, extended SAR
    if (r.flag()) r.u(1);                    // overscan
    if (r.flag()) {                          // video signal type
        r.u(4);
        if (r.flag()) r.u(24);
    }
    if (r.flag()) {  // chroma location
        r.ue();
        r.ue();
    }
    if (r.flag()) {
        s.num_units_in_tick = r.u(32);
        s.time_scale = r.u(32);
    }
    return s;
}

Pps parsePps(const std::vector<std::uint8_t>& rbsp)
{
    BitReader r(rbsp);
    Pps p;
    p.pic_parameter_set_id = static_cast<int>(r.ue());
    p.seq_parameter_set_id = static_cast<int>(r.ue());
    p.entropy_coding_mode_flag = r.flag();
    p.bottom_field_pic_order_in_frame_present_flag = r.flag();
    p.num_slice_groups = static_cast<int>(r.ue()) + 1;
    if (p.num_slice_groups > 1) throw std::runtime_error("slice groups are not followed");
    r.ue();
    r.ue();
    p.weighted_pred_flag = r.flag();
    p.weighted_bipred_idc = static_cast<int>(r.u(2));
    p.pic_init_qp = 26 + r.se();
    r.se();
    r.se();
    r.u(1);
    r.u(1);
    p.redundant_pic_cnt_present_flag = r.flag();
    return p;
}

SliceHeader parseSlice(const NalUnit& nal, const std::map<int, Sps>& spsById, const std::map<int, Pps>& ppsById)
{
    BitReader r(nal.rbsp);
    SliceHeader h;
    h.nal_unit_type = nal.nal_unit_type;
    h.nalSize = nal.size;
    h.first_mb_in_slice = static_cast<int>(r.ue());
    h.slice_type = static_cast<int>(r.ue());
    h.pic_parameter_set_id = static_cast<int>(r.ue());
    const auto pps = ppsById.find(h.pic_parameter_set_id);
    if (pps == ppsById.end()) throw std::runtime_error("slice refers to a missing PPS");
    const auto sps = spsById.find(pps->second.seq_parameter_set_id);
    if (sps == spsById.end()) throw std::runtime_error("PPS refers to a missing SPS");
    const Sps& s = sps->second;
    const Pps& p = pps->second;
    const int type = h.slice_type % 5;
    h.frame_num = static_cast<int>(r.u(s.log2_max_frame_num));
    if (!s.frame_mbs_only_flag && r.flag()) r.u(1);  // field_pic_flag, bottom_field_flag
    if (nal.nal_unit_type == 5) r.ue();              // idr_pic_id
    if (s.pic_order_cnt_type == 0) {
        r.u(s.log2_max_pic_order_cnt_lsb);
        if (p.bottom_field_pic_order_in_frame_present_flag) r.se();
    } else if (s.pic_order_cnt_type == 1 && !s.delta_pic_order_always_zero_flag) {
        r.se();
        if (p.bottom_field_pic_order_in_frame_present_flag) r.se();
    }
    if (p.redundant_pic_cnt_present_flag) r.ue();
    if (type == 1) r.u(1);  // direct_spatial_mv_pred_flag
    if (type == 0 || type == 1 || type == 3) {
        if (r.flag()) {  // num_ref_idx_active_override_flag
            r.ue();
            if (type == 1) r.ue();
        }
    }
    if (type != 2 && type != 4) {  // ref_pic_list_modification
        for (int list = 0; list < (type == 1 ? 2 : 1); ++list)
            if (r.flag())
                for (std::uint32_t idc = r.ue(); idc != 3; idc = r.ue()) r.ue();
    }
    if ((p.weighted_pred_flag && (type == 0 || type == 3)) || (p.weighted_bipred_idc == 1 && type == 1))
        throw std::runtime_error("weighted prediction tables are not followed");
    if (nal.nal_ref_idc != 0) {  // dec_ref_pic_marking
        if (nal.nal_unit_type == 5) {
            r.u(2);
        } else if (r.flag()) {
            for (std::uint32_t op = r.ue(); op != 0; op = r.ue()) {
                if (op == 1 || op == 3) r.ue();
                if (op == 2) r.ue();
                if (op == 3 || op == 6) r.ue();
                if (op == 4) r.ue();
            }
        }
    }
    if (p.entropy_coding_mode_flag && type != 2 && type != 4) r.ue();  // cabac_init_idc
    h.qp = p.pic_init_qp + r.se();
    return h;
}

} // namespace

std::vector<NalUnit> splitAnnexB(const std::vector<std::uint8_t>& bytes)
{
    std::vector<std::size_t> starts;  // first byte after each start code
    for (std::size_t i = 0; i + 2 < bytes.size(); ++i)
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) {
            starts.push_back(i + 3);
            i += 2;
        }
    std::vector<NalUnit> units;
    for (std::size_t k = 0; k < starts.size(); ++k) {
        std::size_t end = k + 1 < starts.size() ? starts[k + 1] - 3 : bytes.size();
        while (end > starts[k] && bytes[end - 1] == 0) --end;  // the zero_byte of the next start code
        if (end <= starts[k]) throw std::runtime_error("empty NAL unit");
        NalUnit nal;
        nal.nal_ref_idc = bytes[starts[k]] >> 5 & 3;
        nal.nal_unit_type = bytes[starts[k]] & 31;
        nal.size = end - starts[k];
        int zeros = 0;
        for (std::size_t i = starts[k] + 1; i < end; ++i) {
            if (zeros == 2 && bytes[i] == 3) {
                zeros = 0;
                continue;
            }
            zeros = bytes[i] == 0 ? zeros + 1 : 0;
            nal.rbsp.push_back(bytes[i]);
        }
        units.push_back(std::move(nal));
    }
    return units;
}

Stream parseStream(const std::vector<std::uint8_t>& bytes)
{
    Stream stream;
    stream.nalUnits = splitAnnexB(bytes);
    std::map<int, Sps> spsById;
    std::map<int, Pps> ppsById;
    for (const NalUnit& nal : stream.nalUnits) {
        if (nal.nal_unit_type == 7) {
            const Sps sps = parseSps(nal.rbsp);
            spsById[sps.seq_parameter_set_id] = sps;
            stream.spsList.push_back(sps);
        } else if (nal.nal_unit_type == 8) {
            const Pps pps = parsePps(nal.rbsp);
            ppsById[pps.pic_parameter_set_id] = pps;
        } else if (nal.nal_unit_type == 1 || nal.nal_unit_type == 5) {
            stream.slices.push_back(parseSlice(nal, spsById, ppsById));
        }
    }
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

std::vector<std::uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace kestrune::probe
