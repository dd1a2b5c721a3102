#pragma once
// Repeated channel runs: the plan of an experiment (every loss rate x burst
// length x concealment pair x repetition, each run with its own seed), the
// rows a run leaves, and the statistics over them. Pure functions; the
// kestrune-experiment tool runs the plan through the window's command lines.
#include "runner/concealment_pair.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

namespace kestrune::experiment {

struct Settings {
    QString stream;          // the encoded stream (absolute path)
    QString original;        // the original YUV (absolute path)
    int width = 0;
    int height = 0;
    QStringList lossRates;   // percent, real numbers (the Gilbert channel's)
    QStringList burstLengths;
    // "gilbert" (every loss rate x burst length), "ge:P,R,K,H" or
    // "trace:FILE" (one setting each), as kestrune-channel takes them.
    QStringList channels{QStringLiteral("gilbert")};
    QString packets = QStringLiteral("nal");            // or "rtp:MTU"
    QString parameterSets = QStringLiteral("in-band");  // or "out-of-band"
    QList<ConcealmentPair> pairs;
    int runs = 10;           // repetitions per setting
    quint32 firstSeed = 1;
    int nalUnits = 0;        // the stream's NAL unit count, taken once before the runs; 0: not yet
    // The opinion score of every frame of the stream decoded without loss,
    // one digit each, taken once before the runs; empty: not yet.
    QString losslessScores;
    bool operator==(const Settings&) const = default;
};

// The first reason the settings cannot run, or the empty text: values out of
// range or given twice, a loss rate the channel model cannot reach with a
// burst length, seeds the loss-pattern tool does not take.
QString validate(const Settings& settings);
// gilbert.exe reads its seed as a signed 32-bit number.
inline constexpr quint32 kSeedLimit = 0x80000000u;

// The same experiment whatever the NAL unit count and lossless scores recorded so far.
bool sameExperiment(Settings a, Settings b);

// The settings as "key=value" lines (the experiment file) and back.
QString settingsText(const Settings& settings);
std::optional<Settings> parseSettingsText(const QString& text, QString* error);

// The channel settings of the plan: each Gilbert rate x burst, then each
// other channel (its rate and burst empty), in the order of `channels`.
struct ChannelSetting {
    QString channel;
    QString lossRate;
    QString burstLength;
};
QList<ChannelSetting> channelSettings(const Settings& settings);
// True when the runs go through kestrune-channel rather than gilbert.exe:
// another channel, packets or parameter sets, or a rate or burst that is
// not an integer.
bool needsChannelTool(const Settings& settings, const ChannelSetting& setting);

// One run of the plan. Repetition r of every setting uses seed firstSeed + r,
// so the concealment pairs and burst lengths compare on the same draws.
struct PlannedRun {
    int index = 0;
    QString channel = QStringLiteral("gilbert");
    QString lossRate;
    QString burstLength;
    ConcealmentPair pair;
    int repetition = 0;
    quint32 seed = 0;
};

int runCount(const Settings& settings);
// Index order: channel setting (loss rate, then burst length), then pair,
// then repetition.
PlannedRun plannedRun(const Settings& settings, int index);

// Shard K of N holds the runs whose index is K modulo N.
struct Shard {
    int index = 0;
    int count = 1;
};
std::optional<Shard> parseShard(const QString& text); // "K/N", 0 <= K < N
QList<int> shardRuns(const Settings& settings, Shard shard);
QString shardFileName(Shard shard);                   // "runs-shard-K-of-N.csv"

struct RunResult {
    bool ok = false;
    QString error;
    int nalUnits = 0;
    int dropped = 0;
    double realisedLossRate = 0;    // percent of the stream's NAL units dropped
    double realisedBurstLength = 0; // mean length of the runs of dropped NAL units
    double nominalLossRate = 0;     // percent: the channel's own rate
    int packets = 0;                // packets sent
    double packetLossRate = 0;      // percent of the packets lost
    double packetBurstLength = 0;   // mean length of the runs of lost packets
    int frames = 0;
    int framesWithLoss = 0;
    double psnrY = 0, psnrU = 0, psnrV = 0, ssimY = 0;
    double mos = 0;                           // mean opinion score over the frames, 1..5
    std::optional<double> mosBelowLossless;   // share of frames scoring below the lossless decode's, 0..1
    // Frames compared against originals they may not show: the decoded
    // frame count differs from the original's, or the decoder guessed places.
    bool frameCountDiffers = false;
    bool placementGuessed = false;
};

// The alignment column of runs.csv: "exact", "guessed", "frame-count" or
// "guessed+frame-count" for a good run, empty for a failed one.
QString alignmentText(const RunResult& result);

QString runsHeader();
// One CSV line (no line end) of runs.csv.
QString runRow(const PlannedRun& planned, const RunResult& result);

struct ParsedRow {
    int index = -1;
    bool ok = false;
    QString settingKey;  // channel, loss rate, burst length and pair
    double nominalLossRate = 0;
    int repetition = 0;
    double psnrY = 0, ssimY = 0;
    QString error;
    bool misaligned = false;  // a good run whose alignment is not "exact"
    std::optional<double> mos, mosBelowLossless;  // rows from before the opinion scores have none
};
std::optional<ParsedRow> parseRunRow(const QString& line);

// The mean, sample standard deviation and 95 % confidence interval of the
// mean (Student's t with n - 1 degrees of freedom); sd and interval need n >= 2.
// The interval is clipped to the range the quantity can take (SSIM <= 1).
struct Statistics {
    int count = 0;
    double mean = 0;
    std::optional<double> sd;
    std::optional<double> low, high;
};
Statistics statistics(const QList<double>& values, double lowest = -1e300, double highest = 1e300);
// The 0.975 quantile of Student's t (exact, for any degrees of freedom >= 1).
double studentT975(int degreesOfFreedom);

// What the quantities can take: PSNR is capped at the identical-picture value.
inline constexpr double kPsnrLowest = 0, kPsnrHighest = 100, kSsimLowest = -1, kSsimHighest = 1;
inline constexpr double kMosLowest = 1, kMosHighest = 5, kShareLowest = 0, kShareHighest = 1;

// How many runs failed and their most common reasons, as text:
// "3 failed (decode: no picture x2; quality: short x1)"; "0 failed".
struct Failures {
    int count = 0;
    QString text;
};
Failures failures(const QStringList& rows, int reasons = 3);
// "12 of 30 runs complete, 2 failed (reasons), 16 not run": complete are the
// good runs of `total`, failed those with an error, not run those without a row.
QString outcomeText(const QStringList& rows, int total);

// summary.csv from the rows of runs.csv (in plan order).
QString summaryCsv(const Settings& settings, const QStringList& rows);

// Paired comparison of two concealment pairs A and B at one setting: the
// difference A - B of Y-PSNR and of SSIM over the repetitions (same seed, so
// the same loss pattern) that both completed.
struct PairedDifference {
    QString channel;               // "gilbert", "ge:..." or "trace:..."
    QString lossRate, burstLength; // another channel's rate is its nominal one, its burst empty
    ConcealmentPair a, b;
    Statistics psnrY, ssimY;   // count: the pairs of runs it stands on
};
// Every channel setting, every two pairs in the order given (A before B).
QList<PairedDifference> pairedDifferences(const Settings& settings, const QStringList& rows);
// differences.csv: one line per PairedDifference.
QString differencesCsv(const Settings& settings, const QStringList& rows);

// The complete rows of runs.csv or shard file texts by run index; lines that
// are not complete rows (a header, a line cut short by a kill) are skipped and
// counted in *skipped. A run given twice with different rows, or one outside
// the plan, is an error.
std::optional<QMap<int, QString>> completeRows(const Settings& settings, const QStringList& texts, QString* error,
                                               int* skipped = nullptr);

// Rows by run index from shard files' texts, in plan order. Runs without a
// row are listed in *missing (the rows that exist are still returned).
std::optional<QStringList> mergeRows(const Settings& settings, const QStringList& shardTexts, QString* error,
                                     QList<int>* missing = nullptr);
// "2 5 8", or the first ones and how many more.
QString runList(const QList<int>& runs, int shown = 20);

// The whole runs.csv text (header, rows, CR LF lines).
QString runsCsv(const QStringList& rows);

// The points of a plot: mean Y-PSNR with its interval at each x (a channel's
// nominal loss rate, or a burst length) that has at least one good run, and
// how many runs it stands on of those asked.
struct PlotPoint {
    double x = 0;
    double mean = 0;
    double low = 0, high = 0; // equal to mean when no interval exists
    int runs = 0, asked = 0;
};
struct PlotSeries {
    QString label;
    int colour = 0;  // index of the concealment pair: one colour per pair
    int dash = 0;    // index of the burst length (or loss rate): one line style each
    QList<PlotPoint> points;
};
// Against loss rate: one series per (pair, burst length).
QList<PlotSeries> plotSeries(const Settings& settings, const QStringList& rows);
// Against mean burst length: one series per (pair, loss rate); empty with
// one burst length.
QList<PlotSeries> burstPlotSeries(const Settings& settings, const QStringList& rows);

} // namespace kestrune::experiment

namespace kestrune::experiment {

// The batch scripts of an experiment on Slurm: a job array of `shards`
// tasks, each running one shard with `cpus` CPUs, and a merge job.
struct SlurmJob {
    QString program;       // kestrune-experiment, absolute
    QString output;        // DIR, holding experiment.txt
    QString toolsDirectory;
    int shards = 1;
    int cpus = 1;
    QString timeLimit;     // HH:MM:SS
    QString partition;     // empty: the cluster's default
};
// Why sbatch would refuse a time limit ("90", "1:30:00", "2-12", ...), or the
// empty text.
QString slurmTimeLimitProblem(const QString& timeLimit);
// Why sbatch could not take the job's folder, time limit or partition as
// written, or the empty text.
QString slurmJobProblem(const SlurmJob& job);
QString slurmArrayScript(const SlurmJob& job);
QString slurmMergeScript(const SlurmJob& job);
// Submits both and prints their job ids: sh DIR/submit.sh
QString slurmSubmitScript(const SlurmJob& job);

} // namespace kestrune::experiment

namespace kestrune::experiment {

// kestrune-experiment's arguments for these settings and output folder
// (the window's dialog starts the tool with them).
QStringList toolArguments(const Settings& settings, const QString& output);

} // namespace kestrune::experiment
