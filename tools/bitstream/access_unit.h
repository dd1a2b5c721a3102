#pragma once
// Detects the first NAL unit of each access unit (ITU-T H.264 clause
// 7.4.1.2.4) in a stream that may have lost NAL units.
#include "tools/bitstream/nal_unit.h"
#include "tools/bitstream/parameter_sets.h"
#include "tools/bitstream/slice_header.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrune::h264 {

class AccessUnitDetector {
public:
    // Call for every NAL unit in stream order. slice: the parsed header of a
    // type 1, 2 or 5 NAL unit (as far as parsing got), nullptr otherwise.
    // Returns true when this NAL unit begins a new access unit:
    // - the first NAL unit of the stream;
    // - an access unit delimiter;
    // - SEI, SPS, PPS or types 15..18 after a slice of the current access unit;
    // - the first slice of a new primary coded picture, unless the access
    //   unit was already begun by one of the NAL units above.
    // A prefix NAL unit (type 14) belongs to the slice after it, which may be
    // any slice of a picture, so it never begins an access unit by itself.
    // A slice whose header could not be read past pic_parameter_set_id (its
    // PPS is missing) starts a new picture when first_mb_in_slice is 0 or its
    // pic_parameter_set_id differs. Redundant slices never start one.
    // Whatever the header fields say, a slice whose first_mb_in_slice equals
    // that of an earlier slice of the current picture starts a new picture:
    // after losses, two pictures can carry the same frame_num (a small
    // MaxFrameNum wrapped within the loss) and nothing else tells them apart.
    // A smaller first_mb_in_slice says nothing: Baseline streams may send a
    // picture's slices in any order. A slice after a NAL unit that began the
    // access unit (delimiter, SEI, parameter sets) starts its picture, and an
    // IDR slice never shares a picture with a non-IDR one, even where nothing
    // else of the header could be read.
    bool startsAccessUnit(const NalHeader& header, const SliceHeader* slice, const ParameterSets& sets);

    // True once a slice of the current access unit has been seen.
    bool currentHasSlice() const { return sliceInCurrent_; }

    struct PictureId {
        std::uint32_t frame_num = 0;
        std::uint32_t pic_parameter_set_id = 0;
        bool field_pic_flag = false;
        bool bottom_field_flag = false;
        int nal_ref_idc = 0;
        std::uint32_t pic_order_cnt_type = 0;
        std::uint32_t pic_order_cnt_lsb = 0;
        std::int32_t delta_pic_order_cnt_bottom = 0;
        std::int32_t delta_pic_order_cnt[2] = {0, 0};
        bool idr = false;
        std::uint32_t idr_pic_id = 0;
        bool complete = false;
        bool numbers = false;  // frame_num and the IDR fields are valid (complete, or read with the only SPS)
        std::uint32_t first_mb_in_slice = 0;
    };
    // What clause 7.4.1.2.4 compares of a slice, as far as its header was read
    // (sps: the one its PPS names, when known).
    static PictureId pictureIdOf(const NalHeader& header, const SliceHeader& slice, const Sps* sps);
    // The comparison of clause 7.4.1.2.4 between the previous primary slice
    // and this one.
    static bool isNewPicture(const PictureId& previous, const PictureId& current);
    // Whether a slice starting at firstMb starts where an earlier slice of the
    // current picture did (no two slices of one picture do).
    static bool alreadyCovered(const std::vector<std::uint32_t>& starts, std::uint32_t firstMb);

private:
    void beginPicture();

    bool first_ = true;
    bool sliceInCurrent_ = false;
    std::optional<PictureId> last_;
    std::vector<std::uint32_t> starts_;  // first_mb_in_slice of the current picture's primary slices
};

// A channel that duplicates packets hands over some slices twice. No two
// slices of one picture are equal byte for byte (first_mb_in_slice differs),
// so a slice equal to one of the picture it arrives in is a repeat. The same
// bytes in another picture are another picture: a static scene coded the same
// way after each IDR picture, or frame_num wrapping, repeats slices exactly.
class RepeatedSliceFilter {
public:
    // True for a slice NAL unit (types 1-5) equal to one of the current
    // picture's slices. Other NAL units: false.
    bool repeated(std::span<const std::uint8_t> nal);
    // Call for every NAL unit that is not a repeat, with whether it begins an
    // access unit.
    void note(std::span<const std::uint8_t> nal, bool startsAccessUnit);
    int repeats() const { return repeats_; }

private:
    static constexpr std::size_t kRemembered = 8192;  // more slices than any picture has macroblocks to start
    struct Seen {
        std::uint64_t hash = 0;
        std::size_t size = 0;
        bool operator==(const Seen&) const = default;
    };
    static bool isSlice(std::span<const std::uint8_t> nal);
    static Seen seen(std::span<const std::uint8_t> nal);
    std::vector<Seen> current_;
    int repeats_ = 0;
};

} // namespace kestrune::h264
