#pragma once
// Seeded uniform loss of slice NAL units, for benchmarks and tests: every
// slice NAL unit in scope is left out with the given probability.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestrune::decode {

// Which slice NAL units may be lost: all (types 1 and 5), all but IDR slices
// (type 1), or IDR slices only (type 5, to measure the intra methods alone).
enum class SliceScope { All, KeepIdr, IdrOnly };

struct DropResult {
    int slices = 0;
    int dropped = 0;
    std::vector<std::uint8_t> stream;   // the stream without the dropped NAL units
    std::vector<bool> droppedSlices;    // per slice NAL unit in scope, in stream order
};

DropResult dropSlices(std::span<const std::uint8_t> stream, double rate, std::uint32_t seed,
                      SliceScope scope = SliceScope::All);
// The same from file to file; throws std::runtime_error on read or write errors.
DropResult dropSlicesFromFile(const std::string& input, const std::string& output, double rate, std::uint32_t seed,
                              SliceScope scope = SliceScope::All);

} // namespace kestrune::decode
