#pragma once
// Seeded uniform loss of slice NAL units, for benchmarks and tests: every
// NAL unit of type 1 or 5 (type 1 only with keepIdr) is left out with the
// given probability.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestrune::decode {

struct DropResult {
    int slices = 0;
    int dropped = 0;
    std::vector<std::uint8_t> stream;   // the stream without the dropped NAL units
    std::vector<bool> droppedSlices;    // per slice NAL unit in stream order
};

DropResult dropSlices(std::span<const std::uint8_t> stream, double rate, std::uint32_t seed, bool keepIdr = false);
// The same from file to file; throws std::runtime_error on read or write errors.
DropResult dropSlicesFromFile(const std::string& input, const std::string& output, double rate, std::uint32_t seed,
                              bool keepIdr = false);

} // namespace kestrune::decode
