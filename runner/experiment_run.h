#pragma once
// One run of an experiment in the current directory, through the tools'
// command files exactly as the window writes them: count the NAL units,
// draw the loss pattern (with the run's seed), apply it, decode with the
// run's concealment pair, and measure the quality against the original.
#include "runner/experiment.h"

namespace kestrune::experiment {

// The channel output and decoded file the run leaves in the current directory.
inline constexpr char16_t kRunChannelOutput[] = u"channel.264";

// Uses settings.nalUnits when it is known, else counts the NAL units itself.
RunResult executeRun(const Settings& settings, const PlannedRun& planned);

// kestrune-channel's command line for a run: the pattern into gilbert.txt
// (where the window's apply-loss reads it), the packet log into packets.csv.
QString packetChannelCommand(const Settings& settings, const ChannelSetting& setting, quint32 seed);

// The inputs checked once before any run, in the current directory (a scratch
// folder): the stream is H.264 and decodes without loss to pictures of the
// original's size, and the original holds every frame of it. The NAL unit
// count and the lossless decode's opinion scores taken here are the ones
// every run uses.
struct InputCheck {
    QString error;          // the first problem; empty when the runs can start
    int nalUnits = 0;
    int streamFrames = 0;
    int originalFrames = 0;
    QString losslessScores;  // each frame's opinion score decoded without loss
};
InputCheck checkInputs(const Settings& settings);

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
