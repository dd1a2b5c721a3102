#include "tools/bitstream/sei.h"

namespace kestrune::h264 {

Status parseSei(std::span<const std::uint8_t> rbsp, std::vector<SeiMessage>& messages)
{
    messages.clear();
    std::size_t pos = 0;
    auto readVarying = [&](std::uint32_t& value, const char* name) -> Status {
        value = 0;
        while (true) {
            if (pos >= rbsp.size()) return {Result::Truncated, std::string("NAL unit ends inside ") + name};
            const std::uint8_t byte = rbsp[pos++];
            if (value > 0xFFFFFFFFu - byte) return {Result::BrokenData, std::string(name) + " is too large"};
            value += byte;
            if (byte != 0xFF) return {};
        }
    };
    // more_rbsp_data(): stop at the byte holding only the rbsp_stop_one_bit.
    auto moreData = [&] {
        std::size_t last = rbsp.size();
        while (last > 0 && rbsp[last - 1] == 0) --last;
        return pos + 1 < last || (pos + 1 == last && rbsp[pos] != 0x80);
    };
    if (!moreData()) return {Result::BrokenData, "SEI NAL unit holds no message"};
    while (moreData()) {
        SeiMessage m;
        if (Status s = readVarying(m.payloadType, "payloadType"); !s.ok()) return s;
        if (Status s = readVarying(m.payloadSize, "payloadSize"); !s.ok()) return s;
        if (m.payloadSize > rbsp.size() - pos)
            return {Result::Truncated, "NAL unit ends inside the payload of SEI message " + std::to_string(messages.size() + 1)
                        + " (" + std::string(seiPayloadTypeName(m.payloadType)) + ", payloadSize " + std::to_string(m.payloadSize) + ")"};
        m.payloadOffset = pos;
        m.payload = rbsp.subspan(pos, m.payloadSize);
        pos += m.payloadSize;
        messages.push_back(m);
    }
    return {};
}

std::string_view seiPayloadTypeName(std::uint32_t type)
{
    switch (type) {
    case 0: return "buffering_period";
    case 1: return "pic_timing";
    case 2: return "pan_scan_rect";
    case 3: return "filler_payload";
    case 4: return "user_data_registered_itu_t_t35";
    case 5: return "user_data_unregistered";
    case 6: return "recovery_point";
    case 7: return "dec_ref_pic_marking_repetition";
    case 8: return "spare_pic";
    case 9: return "scene_info";
    case 10: return "sub_seq_info";
    case 11: return "sub_seq_layer_characteristics";
    case 12: return "sub_seq_characteristics";
    case 13: return "full_frame_freeze";
    case 14: return "full_frame_freeze_release";
    case 15: return "full_frame_snapshot";
    case 16: return "progressive_refinement_segment_start";
    case 17: return "progressive_refinement_segment_end";
    case 18: return "motion_constrained_slice_group_set";
    case 19: return "film_grain_characteristics";
    case 20: return "deblocking_filter_display_preference";
    case 21: return "stereo_video_info";
    case 22: return "post_filter_hint";
    case 23: return "tone_mapping_info";
    case 45: return "frame_packing_arrangement";
    case 47: return "display_orientation";
    case 137: return "mastering_display_colour_volume";
    case 144: return "content_light_level_info";
    case 147: return "alternative_transfer_characteristics";
    default: return "reserved_sei_message";
    }
}

std::string describeUserDataUnregistered(std::span<const std::uint8_t> payload)
{
    static const char* const kHex = "0123456789abcdef";
    std::string text = "uuid_iso_iec_11578 = ";
    for (std::size_t i = 0; i < 16 && i < payload.size(); ++i) {
        text += kHex[payload[i] >> 4];
        text += kHex[payload[i] & 15];
    }
    if (payload.size() > 16) {
        text += ", user_data = \"";
        for (std::size_t i = 16; i < payload.size(); ++i) {
            const std::uint8_t c = payload[i];
            if (c == 0) break;
            text += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
        }
        text += "\"";
    }
    return text;
}

} // namespace kestrune::h264
