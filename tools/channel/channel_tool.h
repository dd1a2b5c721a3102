#pragma once
// kestrune-channel: sends a stream's NAL units through a loss process as
// packets and writes the loss pattern the analyzer's apply-loss mode reads
// (one value per NAL unit: 1 received, 0 lost), a packet log, and the
// realised loss.
#include "tools/channel/packetiser.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::channel {

// Returns the exit code. clockSeed supplies the seed when none is given.
int runChannel(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const std::string& program,
               const std::function<std::uint32_t()>& clockSeed);

// The NAL units of an Annex B stream with the access units they begin;
// nullopt with error set when the stream cannot be read.
std::optional<std::vector<NalInfo>> readNalUnits(const std::filesystem::path& stream, std::string& error);

} // namespace kestrune::channel
