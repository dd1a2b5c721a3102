#pragma once
// kestrune-experiment's command line.
#include "runner/experiment.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace kestrune::experiment {

struct ToolOptions {
    enum Mode { Run, RunOne, Merge, Help } mode = Run;
    Settings settings;
    QString settingsFile;     // --settings: the experiment file instead of the options
    QString output;           // output folder (merge: its argument)
    QString toolsDirectory;   // where x264.exe, ffmpeg.exe, gilbert.exe, h264_analyze.exe stand
    int jobs = 0;             // 0: the number of cores
    std::optional<Shard> shard;
    int index = -1;           // run-one
    int slurmShards = 0;      // --slurm N: write a batch script of N shards
    bool submit = false;
    bool resume = false;      // --resume DIR: keep DIR's complete rows, run the others
    QString timeLimit = QStringLiteral("01:00:00");
    QString partition;
};

// Exit statuses of kestrune-experiment.
enum ExitStatus : int {
    kExitAllRunsOk = 0,
    kExitNothingRun = 1,   // bad arguments or inputs, or the results could not be written
    kExitCancelled = 3,    // SIGINT, SIGTERM or SIGHUP: the complete rows are kept
    kExitRunsFailed = 4,   // every run ended, some with an error (in runs.csv)
    kExitRunsMissing = 5,  // merge: runs without a row (results written from the others)
};

// Empty text when the arguments are good, else the reason.
QString parseToolOptions(const QStringList& arguments, ToolOptions& options);
const char* toolUsage();

} // namespace kestrune::experiment
