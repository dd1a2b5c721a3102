#pragma once
// One run of an experiment in the current directory, through the tools'
// command files exactly as the window writes them: count the NAL units,
// draw the loss pattern (with the run's seed), apply it, decode with the
// run's concealment pair, and measure the quality against the original.
#include "runner/experiment.h"

namespace kestrune::experiment {

// The channel output and decoded file the run leaves in the current directory.
inline constexpr char16_t kRunChannelOutput[] = u"channel.264";

RunResult executeRun(const Settings& settings, const PlannedRun& planned);

// kestrune-channel's command line for a run: the pattern into gilbert.txt
// (where the window's apply-loss reads it), the packet log into packets.csv.
QString packetChannelCommand(const Settings& settings, const ChannelSetting& setting, quint32 seed);

// Realised loss from a loss pattern: dropped NAL units (1..count-2 marked 0),
// their share of all NAL units in percent, and the mean length of the runs
// of consecutive dropped NAL units.
struct RealisedLoss {
    int dropped = 0;
    double rate = 0;
    double meanBurst = 0;
};
RealisedLoss realisedLoss(const QString& droppedList, int nalUnitCount);

} // namespace kestrune::experiment
