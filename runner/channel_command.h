#pragma once
// Command lines of the channel run (loss pattern and channel output) and the
// list of dropped NAL units read back from the loss pattern.
#include <QString>
#include <functional>

namespace kestrune {

// Either the loss-pattern command or the message of the first failing check.
struct GilbertCommandResult {
    QString command;
    QString error;
    bool ok() const { return error.isEmpty(); }
};

// Checks, in order, the NAL unit count, the loss rate and the burst length,
// and builds "Gilbert.exe RATE BURST COUNT gilbert.txt >gilout.txt 2>&1".
// The texts enter the command exactly as typed.
GilbertCommandResult gilbertCommand(int nalUnitCount, const QString& streamPath, const QString& lossRate,
                                    const QString& burstLength);

// The same command with SEED after the pattern file, so a draw can be
// repeated: "Gilbert.exe RATE BURST COUNT gilbert.txt SEED >gilout.txt 2>&1".
// The window's Apply never passes one.
GilbertCommandResult seededGilbertCommand(int nalUnitCount, const QString& streamPath, const QString& lossRate,
                                          const QString& burstLength, quint32 seed);

// The analyzer's apply-loss command: it writes the channel output without
// the NAL units that gilbert.txt marks lost, never dropping a NAL unit
// numbered at or above its count argument (NAL unit count - 1).
QString applyLossCommand(const QString& streamPath, int nalUnitCount, const QString& outputPath);

// "k," for each k in 1..nalUnitCount-2 whose loss-pattern value is 0, in
// order; nextValue yields the pattern's integers one by one (0 past the end,
// throwing the reader's error on a bad value).
QString droppedNalUnits(int nalUnitCount, const std::function<int()>& nextValue);

// The log line that stands in for the dropped list when the apply-loss run
// wrote no channel output: a list would name NAL units missing from a file
// that this run did not make.
QString channelOutputNotWritten(const QString& outputPath, bool oldOutputExists);

} // namespace kestrune
