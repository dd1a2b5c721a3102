#include "tools/bitstream/nal_parser.h"

#include <algorithm>

namespace kestrune::h264 {
namespace {

// Slice headers are short; converting only a prefix of a large slice keeps
// the analyzer's work proportional to the number of NAL units, not bytes.
constexpr std::size_t kSliceHeaderPrefix = 64;

} // namespace

ParsedNal NalParser::parse(std::span<const std::uint8_t> nal, bool clipped, Trace* trace)
{
    ParsedNal out;
    out.status = parseNalHeader(nal, out.header);
    if (out.status.result == Result::NoNalUnit || out.status.result == Result::Truncated) return out;
    if (trace) {
        trace->push_back({"forbidden_zero_bit", out.header.forbidden_zero_bit});
        trace->push_back({"nal_ref_idc", out.header.nal_ref_idc});
        trace->push_back({"nal_unit_type", out.header.nal_unit_type});
    }
    const auto payload = nal.subspan(static_cast<std::size_t>(out.header.headerBytes));
    const int type = out.header.nal_unit_type;
    Status payloadStatus;

    switch (type) {
    case NalSps: {
        out.rbsp = removeEmulationPrevention(payload);
        auto sps = std::make_shared<Sps>();
        bool core = false;
        payloadStatus = parseSps(out.rbsp, *sps, trace, &core);
        if (core) {
            sets_.sps[sps->seq_parameter_set_id] = sps;
            out.sps = sps;
        }
        break;
    }
    case NalPps: {
        out.rbsp = removeEmulationPrevention(payload);
        auto pps = std::make_shared<Pps>();
        payloadStatus = parsePps(out.rbsp, sets_, *pps, trace);
        // Only a complete PPS is kept for the slices; one whose 8x8 scaling
        // lists could not be read (its SPS is missing) is still described.
        if (payloadStatus.ok()) sets_.pps[pps->pic_parameter_set_id] = pps;
        if (payloadStatus.ok() || payloadStatus.result == Result::BrokenLink) out.pps = pps;
        break;
    }
    case NalSlice:
    case NalPartitionA:
    case NalIdrSlice: {
        const std::size_t prefix = std::min(payload.size(), kSliceHeaderPrefix);
        removeEmulationPrevention(payload.first(prefix), scratch_);
        out.slice.emplace();
        Trace local;
        payloadStatus = parseSliceHeader(out.header, scratch_, sets_, *out.slice, trace ? &local : nullptr);
        if (payloadStatus.result == Result::Truncated && prefix < payload.size()) {
            removeEmulationPrevention(payload, scratch_);
            local.clear();
            payloadStatus = parseSliceHeader(out.header, scratch_, sets_, *out.slice, trace ? &local : nullptr);
        }
        if (trace) trace->insert(trace->end(), local.begin(), local.end());
        if (payloadStatus.result == Result::BrokenLink && out.slice->ppsIdParsed) {
            // The PPS was lost: the only SPS seen, if there is one, still
            // gives the widths of frame_num and idr_pic_id.
            const Sps* only = nullptr;
            int count = 0;
            for (const auto& sps : sets_.sps)
                if (sps) only = sps.get(), ++count;
            if (count == 1) parsePictureNumbers(out.header, scratch_, *only, *out.slice);
        }
        break;
    }
    case NalSei:
        out.rbsp = removeEmulationPrevention(payload);
        payloadStatus = parseSei(out.rbsp, out.sei);
        break;
    default:
        break;
    }
    if (clipped && payloadStatus.result == Result::Truncated) payloadStatus = {};
    if (out.status.ok()) out.status = payloadStatus;
    return out;
}

} // namespace kestrune::h264
