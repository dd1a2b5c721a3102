#include "tools/bitstream/access_unit.h"

#include <algorithm>

namespace kestrune::h264 {

bool RepeatedSliceFilter::isSlice(std::span<const std::uint8_t> nal)
{
    if (nal.empty()) return false;
    const int type = nal[0] & 0x1f;
    return type >= 1 && type <= 5;
}

RepeatedSliceFilter::Seen RepeatedSliceFilter::seen(std::span<const std::uint8_t> nal)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a
    for (std::uint8_t byte : nal) hash = (hash ^ byte) * 0x100000001b3ull;
    return {hash, nal.size()};
}

bool RepeatedSliceFilter::repeated(std::span<const std::uint8_t> nal)
{
    if (!isSlice(nal) || current_.empty()) return false;
    if (std::find(current_.begin(), current_.end(), seen(nal)) == current_.end()) return false;
    ++repeats_;
    return true;
}

void RepeatedSliceFilter::note(std::span<const std::uint8_t> nal, bool startsAccessUnit)
{
    if (startsAccessUnit) current_.clear();
    if (isSlice(nal) && current_.size() < kRemembered) current_.push_back(seen(nal));
}

AccessUnitDetector::PictureId AccessUnitDetector::pictureIdOf(const NalHeader& header, const SliceHeader& slice,
                                                              const Sps* sps)
{
    PictureId id;
    id.first_mb_in_slice = slice.first_mb_in_slice;
    id.pic_parameter_set_id = slice.pic_parameter_set_id;
    id.complete = slice.complete;
    id.numbers = slice.numbersParsed;
    id.idr = header.nal_unit_type == NalIdrSlice;
    if (slice.numbersParsed || slice.complete) {
        id.frame_num = slice.frame_num;
        id.idr_pic_id = slice.idr_pic_id;
    }
    if (slice.complete) {
        id.field_pic_flag = slice.field_pic_flag;
        id.bottom_field_flag = slice.bottom_field_flag;
        id.nal_ref_idc = header.nal_ref_idc;
        id.pic_order_cnt_type = sps ? sps->pic_order_cnt_type : 0;
        id.pic_order_cnt_lsb = slice.pic_order_cnt_lsb;
        id.delta_pic_order_cnt_bottom = slice.delta_pic_order_cnt_bottom;
        id.delta_pic_order_cnt[0] = slice.delta_pic_order_cnt[0];
        id.delta_pic_order_cnt[1] = slice.delta_pic_order_cnt[1];
    }
    return id;
}

bool AccessUnitDetector::isNewPicture(const PictureId& a, const PictureId& b)
{
    if (!a.complete || !b.complete) {
        // A missing PPS hides most fields; frame_num and the IDR fields, when
        // read with the only SPS seen, still tell pictures apart.
        // IdrPicFlag is in the NAL header, read without any parameter set.
        if (a.idr != b.idr) return true;
        if (a.numbers && b.numbers && (a.frame_num != b.frame_num || (a.idr && a.idr_pic_id != b.idr_pic_id)))
            return true;
        return b.first_mb_in_slice == 0 || a.pic_parameter_set_id != b.pic_parameter_set_id;
    }
    if (a.frame_num != b.frame_num || a.pic_parameter_set_id != b.pic_parameter_set_id) return true;
    if (a.field_pic_flag != b.field_pic_flag) return true;
    if (a.field_pic_flag && a.bottom_field_flag != b.bottom_field_flag) return true;
    if (a.nal_ref_idc != b.nal_ref_idc && (a.nal_ref_idc == 0 || b.nal_ref_idc == 0)) return true;
    if (a.pic_order_cnt_type == 0 && b.pic_order_cnt_type == 0
        && (a.pic_order_cnt_lsb != b.pic_order_cnt_lsb || a.delta_pic_order_cnt_bottom != b.delta_pic_order_cnt_bottom))
        return true;
    if (a.pic_order_cnt_type == 1 && b.pic_order_cnt_type == 1
        && (a.delta_pic_order_cnt[0] != b.delta_pic_order_cnt[0] || a.delta_pic_order_cnt[1] != b.delta_pic_order_cnt[1]))
        return true;
    if (a.idr != b.idr) return true;
    return a.idr && b.idr && a.idr_pic_id != b.idr_pic_id;
}

bool AccessUnitDetector::alreadyCovered(const std::vector<std::uint32_t>& starts, std::uint32_t firstMb)
{
    return std::find(starts.begin(), starts.end(), firstMb) != starts.end();
}

void AccessUnitDetector::beginPicture()
{
    last_.reset();
    starts_.clear();
}

bool AccessUnitDetector::startsAccessUnit(const NalHeader& header, const SliceHeader* slice, const ParameterSets& sets)
{
    const int type = header.nal_unit_type;
    const bool wasFirst = first_;
    first_ = false;

    if (type == NalAccessUnitDelimiter) {
        sliceInCurrent_ = false;
        beginPicture();
        return true;
    }
    if (type == NalSei || type == NalSps || type == NalPps || (type > NalPrefix && type <= 18)) {
        const bool starts = sliceInCurrent_ || wasFirst;
        if (sliceInCurrent_) sliceInCurrent_ = false;
        // The next slice belongs to a new picture whatever its header says:
        // none of the current picture's slice starts may split it.
        if (starts) beginPicture();
        return starts;
    }
    if (!isPrimarySliceNalType(type)) return wasFirst;
    if (!slice || !slice->ppsIdParsed) {
        // Nothing to compare: treat it as part of the current picture.
        sliceInCurrent_ = true;
        return wasFirst;
    }
    if (slice->complete && slice->redundant_pic_cnt > 0) return wasFirst;

    const Pps* pps = sets.findPps(slice->pic_parameter_set_id);
    const PictureId id = pictureIdOf(header, *slice, pps ? sets.findSps(pps->seq_parameter_set_id) : nullptr);
    const bool newPicture = !last_ || isNewPicture(*last_, id) || alreadyCovered(starts_, id.first_mb_in_slice);
    const bool starts = wasFirst || (newPicture && sliceInCurrent_);
    if (newPicture) starts_.clear();
    starts_.push_back(id.first_mb_in_slice);
    sliceInCurrent_ = true;
    last_ = id;
    return starts;
}

} // namespace kestrune::h264
