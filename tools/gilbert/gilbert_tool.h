#pragma once
// The loss-pattern generator behind gilbert.exe:
//   LOSS BURST COUNT FILE [SEED]
// writes COUNT lines of 1 (delivered) or 0 (lost), CR LF, to FILE.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace kestrune::gilbert {

// Returns the exit code. clockSeed supplies the seed when none is given.
int runGilbert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& program,
               const std::function<std::uint32_t()>& clockSeed);

// A seed from the clock, in 0..2^31-1 so it can be typed back as SEED.
std::uint32_t seedFromClock();

} // namespace kestrune::gilbert
