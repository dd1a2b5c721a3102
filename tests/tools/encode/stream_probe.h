#pragma once
// The facts of an encoded stream that the encoder tests check, read with the
// project's bitstream library. Throws std::runtime_error on a NAL unit the
// library reports as broken.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::probe {

struct NalUnit {
    int nal_unit_type = 0;
    std::size_t size = 0;  // bytes of the NAL unit, start code excluded
};

struct Sps {
    int max_num_ref_frames = 0;
    int width_in_mbs = 0;
    int height_in_mbs = 0;
    std::optional<std::uint32_t> num_units_in_tick;
    std::optional<std::uint32_t> time_scale;
};

struct SliceHeader {
    int nal_unit_type = 0;
    std::size_t nalSize = 0;
    int first_mb_in_slice = 0;
    int slice_type = 0;  // 0..9; % 5 gives P=0, B=1, I=2, SP=3, SI=4
    int qp = 0;          // pic_init_qp + slice_qp_delta
};

struct Stream {
    std::vector<NalUnit> nalUnits;
    std::vector<Sps> spsList;  // in stream order (repeated ones included)
    std::vector<SliceHeader> slices;
    // Pictures start where first_mb_in_slice is 0; each holds its slices.
    std::vector<std::vector<SliceHeader>> pictures() const;
};

Stream parseStream(const std::string& path);

} // namespace kestrune::probe
