#include "tests/tools/baseline_decoder/damage.h"

#include "tools/bitstream/annexb_reader.h"

namespace kestrune::codec::testing {

std::vector<std::vector<std::uint8_t>> splitNalUnits(const std::vector<std::uint8_t>& stream)
{
    std::vector<std::vector<std::uint8_t>> nals;
    h264::AnnexBReader reader(stream);
    h264::NalUnit unit;
    while (reader.next(unit)) nals.push_back(unit.bytes);
    return nals;
}

std::vector<std::uint8_t> joinNalUnits(const std::vector<std::vector<std::uint8_t>>& nals)
{
    std::vector<std::uint8_t> out;
    for (const auto& nal : nals) {
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), nal.begin(), nal.end());
    }
    return out;
}

std::string damageStream(std::vector<std::vector<std::uint8_t>>& nals, std::mt19937& rng)
{
    std::string what;
    const int kinds = 1 + static_cast<int>(rng() % 3);
    for (int k = 0; k < kinds && !nals.empty(); ++k) {
        const std::size_t i = rng() % nals.size();
        auto& nal = nals[i];
        switch (rng() % 6) {
            case 0:
            case 1: {  // bit flips anywhere after the first byte
                const int flips = 1 + static_cast<int>(rng() % 8);
                for (int f = 0; f < flips && nal.size() > 1; ++f)
                    nal[1 + rng() % (nal.size() - 1)] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
                what += "flip ";
                break;
            }
            case 2:  // truncation
                if (nal.size() > 2) nal.resize(1 + rng() % (nal.size() - 1));
                what += "truncate ";
                break;
            case 3:  // drop
                nals.erase(nals.begin() + static_cast<std::ptrdiff_t>(i));
                what += "drop ";
                break;
            case 4: {  // duplicate
                const auto copy = nal;
                nals.insert(nals.begin() + static_cast<std::ptrdiff_t>(i), copy);
                what += "duplicate ";
                break;
            }
            default: {  // rewrite the bytes near the end of the slice header (slice_group_change_cycle lives there)
                if (nal.size() > 6 && ((nal[0] & 0x1F) == 1 || (nal[0] & 0x1F) == 5)) {
                    const std::size_t at = 2 + rng() % 4;
                    nal[at] = static_cast<std::uint8_t>(rng());
                }
                what += "header ";
                break;
            }
        }
    }
    return what;
}

} // namespace kestrune::codec::testing
