#include "tools/decode/slice_order.h"

#include "tools/bitstream/annexb_reader.h"

#include <algorithm>

namespace kestrune::decode {

bool primarySlicesInMacroblockOrder(std::span<const std::uint8_t> unit, h264::NalParser& parser,
                                    std::vector<std::uint8_t>& reordered)
{
    struct Entry {
        std::span<const std::uint8_t> bytes;
        std::uint32_t firstMb = 0;
        bool primarySlice = false;
    };
    std::vector<Entry> entries;
    h264::AnnexBReader reader{unit};
    h264::NalUnit nal;
    while (reader.next(nal)) {
        const h264::ParsedNal parsed = parser.parse(nal.bytes);
        Entry entry{unit.subspan(std::size_t(nal.offset), nal.bytes.size())};
        if (h264::isPrimarySliceNalType(parsed.header.nal_unit_type) && parsed.slice && parsed.slice->complete
            && parsed.slice->redundant_pic_cnt == 0) {
            entry.primarySlice = true;
            entry.firstMb = parsed.slice->first_mb_in_slice;
        }
        entries.push_back(entry);
    }
    std::vector<Entry> slices;
    for (const Entry& e : entries)
        if (e.primarySlice) slices.push_back(e);
    const auto byStart = [](const Entry& a, const Entry& b) { return a.firstMb < b.firstMb; };
    if (std::is_sorted(slices.begin(), slices.end(), byStart)) return false;
    std::stable_sort(slices.begin(), slices.end(), byStart);
    reordered.clear();
    auto next = slices.begin();
    for (const Entry& e : entries) {
        const Entry& out = e.primarySlice ? *next++ : e;
        reordered.insert(reordered.end(), {0, 0, 0, 1});
        reordered.insert(reordered.end(), out.bytes.begin(), out.bytes.end());
    }
    return true;
}

} // namespace kestrune::decode
