#include "tools/decode/slice_dropper.h"

#include "tools/bitstream/annexb_reader.h"
#include "tools/bitstream/nal_unit.h"
#include "tools/common/atomic_output.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace kestrune::decode {

DropResult dropSlices(std::span<const std::uint8_t> stream, double rate, std::uint32_t seed, bool keepIdr)
{
    DropResult result;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> draw(0.0, 1.0);
    h264::AnnexBReader reader(stream);
    h264::NalUnit nal;
    while (reader.next(nal)) {
        const int type = nal.bytes.empty() ? 0 : nal.bytes[0] & 0x1F;
        if (type == h264::NalSlice || (type == h264::NalIdrSlice && !keepIdr)) {
            ++result.slices;
            const bool lost = draw(random) < rate;
            result.droppedSlices.push_back(lost);
            if (lost) {
                ++result.dropped;
                continue;
            }
        }
        // Each NAL unit's stretch runs from the end of the previous one, start code included.
        result.stream.insert(result.stream.end(), stream.begin() + std::ptrdiff_t(nal.spanOffset),
                             stream.begin() + std::ptrdiff_t(nal.end()));
    }
    return result;
}

DropResult dropSlicesFromFile(const std::string& input, const std::string& output, double rate, std::uint32_t seed,
                              bool keepIdr)
{
    std::ifstream in(input, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + input);
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    DropResult result = dropSlices(bytes, rate, seed, keepIdr);
    AtomicOutput out{std::filesystem::path(output)};
    if (!out.ok() || !out.write(result.stream.data(), result.stream.size()) || !out.commit())
        throw std::runtime_error(out.error());
    return result;
}

} // namespace kestrune::decode
