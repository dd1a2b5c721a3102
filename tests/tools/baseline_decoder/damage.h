#pragma once
// Random damage to Annex B streams for the decoder's robustness runs: bit
// flips, truncated NAL units, dropped and duplicated NAL units, and a
// rewritten slice_group_change_cycle.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace kestrune::codec::testing {

// NAL units (without start codes) of an Annex B stream.
std::vector<std::vector<std::uint8_t>> splitNalUnits(const std::vector<std::uint8_t>& stream);
std::vector<std::uint8_t> joinNalUnits(const std::vector<std::vector<std::uint8_t>>& nals);

// One to a few kinds of damage, chosen by rng; describes what it did.
std::string damageStream(std::vector<std::vector<std::uint8_t>>& nals, std::mt19937& rng);

} // namespace kestrune::codec::testing
