// kestrune-experiment: repeated channel runs through the workbench's tools,
// locally in parallel, as shards, or as a Slurm job array.
#include "runner/experiment.h"
#include "runner/experiment_run.h"
#include "runner/program_lookup.h"
#include "runner/user_error.h"
#include "experiment/experiment_options.h"
#include "experiment/experiment_plot.h"
#include "experiment/local_runs.h"
#include "experiment/runtime_directory_notice.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace kestrune::experiment;

namespace {

int fail(const QString& message)
{
    std::fprintf(stderr, "kestrune-experiment: %s\n", message.toLocal8Bit().constData());
    return kExitNothingRun;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

int runOne(const ToolOptions& o)
{
    QString error;
    const auto settings = parseSettingsText(readText(o.settingsFile), &error);
    if (!settings) return fail(o.settingsFile + u": "_s + error);
    if (o.index >= runCount(*settings)) return fail(u"run index out of range"_s);
    const PlannedRun planned = plannedRun(*settings, o.index);
    RunResult result;
    try {
        result = executeRun(*settings, planned);
    } catch (const kestrune::UserError& e) {
        result.error = e.text();
    } catch (const std::exception& e) {
        result.error = QString::fromLocal8Bit(e.what());
    }
    std::printf("%s\n", runRow(planned, result).toUtf8().constData());
    return 0;
}

// The experiment's settings: from --settings (or --resume's folder) or the
// options. An experiment.txt already in the output folder must describe the
// same experiment; its NAL unit count is kept, so a changed stream shows.
std::optional<Settings> experimentSettings(const ToolOptions& o, const QString& settingsPath, QString* error)
{
    std::optional<Settings> s;
    if (!o.settingsFile.isEmpty()) {
        if (!QFileInfo(o.settingsFile).isFile()) {
            *error = o.resume ? u"no experiment to resume in "_s + o.output + u" (experiment.txt is missing)"_s
                              : o.settingsFile + u" is missing"_s;
            return std::nullopt;
        }
        s = parseSettingsText(readText(o.settingsFile), error);
        if (!s) {
            *error = o.settingsFile + u": "_s + *error;
            return std::nullopt;
        }
    } else {
        s = o.settings;
        s->stream = QFileInfo(s->stream).absoluteFilePath();
        s->original = QFileInfo(s->original).absoluteFilePath();
    }
    if (QFile::exists(settingsPath)) {
        const auto existing = parseSettingsText(readText(settingsPath), error);
        if (!existing || !sameExperiment(*existing, *s)) {
            *error = settingsPath + u" holds another experiment: choose an empty output folder"_s;
            return std::nullopt;
        }
        if (s->nalUnits == 0) s->nalUnits = existing->nalUnits;
        if (s->losslessScores.isEmpty()) s->losslessScores = existing->losslessScores;
    }
    return s;
}

// Checks the inputs once, in a scratch folder of the output folder, and
// records the stream's NAL unit count in the settings.
bool checkInputsOnce(Settings& s, const QDir& dir, QString* error)
{
    // A folder of its own: the shards of a cluster run check at the same time.
    const QTemporaryDir scratch(dir.filePath(u"check-XXXXXX"_s));
    const QString current = QDir::currentPath();
    if (!scratch.isValid() || !QDir::setCurrent(scratch.path())) {
        *error = u"cannot create a folder in "_s + dir.absolutePath();
        return false;
    }
    InputCheck check;
    try {
        check = checkInputs(s);
    } catch (const kestrune::UserError& e) {
        check.error = e.text();
    }
    QDir::setCurrent(current);
    if (!check.error.isEmpty()) {
        *error = check.error;
        return false;
    }
    if (s.nalUnits > 0 && s.nalUnits != check.nalUnits) {
        *error = u"the encoded stream has %1 NAL units, the experiment counted %2: it changed since"_s
                     .arg(check.nalUnits)
                     .arg(s.nalUnits);
        return false;
    }
    if (!s.losslessScores.isEmpty() && s.losslessScores != check.losslessScores) {
        *error = u"the encoded stream decodes without loss to other pictures than when the experiment began: it "
                 u"changed since"_s;
        return false;
    }
    s.nalUnits = check.nalUnits;
    s.losslessScores = check.losslessScores;
    std::printf("inputs: %d NAL units, %d frames in the stream, %d in the original\n", check.nalUnits,
                check.streamFrames, check.originalFrames);
    return true;
}

bool writePlot(const QDir& out, const QString& name, const QList<PlotSeries>& series, const PlotText& text)
{
    bool ok = writeFile(out.filePath(name + u".svg"_s), plotSvg(series, text).toUtf8());
    const QString png = out.filePath(name + u".png"_s);
    const QString temporary = png + u".part.png"_s;
    ok = plotImage(series, text).save(temporary, "PNG") && ok;
    QFile::remove(png);
    return QFile::rename(temporary, png) && ok;
}

// runs.csv, summary.csv, differences.csv and the plots from the rows there are.
bool writeResults(const QString& dir, const Settings& s, const QStringList& rows)
{
    const QDir out(dir);
    const QString stream = QFileInfo(s.stream).fileName();
    const QString note = rows.size() < runCount(s) ? u"partial: %1 of %2 runs"_s.arg(rows.size()).arg(runCount(s))
                                                   : QString();
    bool ok = writeFile(out.filePath(u"runs.csv"_s), runsCsv(rows).toUtf8());
    ok = writeFile(out.filePath(u"summary.csv"_s), summaryCsv(s, rows).toUtf8()) && ok;
    ok = writeFile(out.filePath(u"differences.csv"_s), differencesCsv(s, rows).toUtf8()) && ok;
    ok = writePlot(out, u"plot"_s, plotSeries(s, rows),
                   {stream + u": mean Y-PSNR against loss rate"_s, u"channel loss rate (%)"_s, note})
        && ok;
    if (s.burstLengths.size() > 1)
        ok = writePlot(out, u"plot-burst"_s, burstPlotSeries(s, rows),
                       {stream + u": mean Y-PSNR against mean burst length"_s,
                        u"mean burst length (packets)"_s, note})
            && ok;
    return ok;
}

QStringList shardFileNames(const QDir& dir)
{
    return dir.entryList({u"runs-shard-*-of-*.csv"_s}, QDir::Files, QDir::Name);
}

int merge(const ToolOptions& o)
{
    const QDir dir(o.output);
    QString error;
    const auto settings = parseSettingsText(readText(dir.filePath(u"experiment.txt"_s)), &error);
    if (!settings) return fail(dir.filePath(u"experiment.txt"_s) + u": "_s + error);
    // runs.csv too: rows a local run or a resume here left.
    QStringList files = shardFileNames(dir), texts;
    if (files.isEmpty()) return fail(u"no shard files (runs-shard-K-of-N.csv) in "_s + o.output);
    if (QFile::exists(dir.filePath(u"runs.csv"_s))) files << u"runs.csv"_s;
    for (const QString& name : files) texts << readText(dir.filePath(name));
    QList<int> missing;
    const auto rows = mergeRows(*settings, texts, &error, &missing);
    if (!rows) return fail(error);
    if (!writeResults(o.output, *settings, *rows)) return fail(u"cannot write the results into "_s + o.output);
    const Failures failed = failures(*rows);
    if (!missing.isEmpty())
        std::fprintf(stderr, "kestrune-experiment: missing runs (no row in any shard file): %s; continue them with "
                             "--resume %s\n",
                     qPrintable(runList(missing)), qPrintable(dir.absolutePath()));
    std::printf("merged %d of %d runs from %d files, %s; results in %s\n", int(rows->size()),
                runCount(*settings), int(files.size()), qPrintable(failed.text), qPrintable(dir.absolutePath()));
    if (!missing.isEmpty()) return kExitRunsMissing;
    return failed.count == 0 ? kExitAllRunsOk : kExitRunsFailed;
}

int sigintPipe[2] = {-1, -1};
void onSignal(int) { [[maybe_unused]] auto n = ::write(sigintPipe[1], "x", 1); }

// --submit runs the submit.sh just written, so that the tool and a user who
// runs the script submit alike; its messages go straight to ours.
int submitSlurm(const QDir& dir)
{
    QProcess submit;
    submit.setProcessChannelMode(QProcess::ForwardedChannels);
    submit.start(u"sh"_s, {dir.filePath(u"submit.sh"_s)});
    if (!submit.waitForFinished(180000)) {
        submit.kill();
        submit.waitForFinished();
        return fail(u"submit.sh did not finish within 3 minutes: "_s + submit.errorString());
    }
    if (submit.exitStatus() != QProcess::NormalExit || submit.exitCode() != 0)
        return fail(u"submitting with "_s + dir.filePath(u"submit.sh"_s) + u" failed"_s);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    ToolOptions o;
    if (const QString error = parseToolOptions(arguments, o); !error.isEmpty()) return fail(error);
    if (o.mode == ToolOptions::Help) {
        std::fputs(toolUsage(), stdout);
        return 0;
    }
    if (o.mode == ToolOptions::RunOne) {
        QCoreApplication app(argc, argv);
        return runOne(o);
    }
    // The plot needs fonts, not a display: cluster nodes have none.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    std::optional<RuntimeDirectoryNoticeFilter> startupFilter(std::in_place);
    QGuiApplication app(argc, argv);
    startupFilter.reset();
    if (o.mode == ToolOptions::Merge) return merge(o);

    if (!QDir().mkpath(o.output)) return fail(u"cannot create "_s + o.output);
    const QDir dir(QFileInfo(o.output).absoluteFilePath());
    const QString settingsPath = dir.filePath(u"experiment.txt"_s);
    QString error;
    auto settings = experimentSettings(o, settingsPath, &error);
    if (!settings) return fail(error);

    const QString tools = QFileInfo(o.toolsDirectory.isEmpty() ? QCoreApplication::applicationDirPath()
                                                               : o.toolsDirectory).absoluteFilePath();
    QStringList needed{u"gilbert.exe"_s, u"h264_analyze.exe"_s, u"ffmpeg.exe"_s};
    for (const ChannelSetting& c : channelSettings(*settings))
        if (needsChannelTool(*settings, c)) needed << u"kestrune-channel"_s;
    for (const QString& tool : needed)
        if (!kestrune::findProgram(tool, tools, {}))
            return fail(tool + u" is not in "_s + tools + u" (give the workbench folder with --tools)"_s);
    qputenv("PATH", (tools + u':' + qEnvironmentVariable("PATH")).toLocal8Bit());
    if (!checkInputsOnce(*settings, dir, &error)) return fail(error);
    if (readText(settingsPath) != settingsText(*settings) && !writeFile(settingsPath, settingsText(*settings).toUtf8()))
        return fail(u"cannot write "_s + settingsPath);
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).absoluteFilePath();
    const int jobs = o.jobs > 0 ? o.jobs : std::max(1, QThread::idealThreadCount());

    if (o.slurmShards > 0) {
        const SlurmJob job{program, dir.absolutePath(), tools, o.slurmShards, o.jobs > 0 ? o.jobs : 1, o.timeLimit,
                           o.partition};
        if (const QString problem = slurmJobProblem(job); !problem.isEmpty()) return fail(problem);
        // A new experiment starts without the rows of an earlier one.
        if (!o.resume)
            for (const QString& name : shardFileNames(dir)) QFile::remove(dir.filePath(name));
        if (!writeFile(dir.filePath(u"experiment.sbatch"_s), slurmArrayScript(job).toUtf8())
            || !writeFile(dir.filePath(u"merge.sbatch"_s), slurmMergeScript(job).toUtf8())
            || !writeFile(dir.filePath(u"submit.sh"_s), slurmSubmitScript(job).toUtf8()))
            return fail(u"cannot write the batch scripts into "_s + dir.absolutePath());
        std::printf("wrote %s, %s and %s\nsubmit with: sh %s\n", qPrintable(dir.filePath(u"experiment.sbatch"_s)),
                    qPrintable(dir.filePath(u"merge.sbatch"_s)), qPrintable(dir.filePath(u"submit.sh"_s)),
                    qPrintable(dir.filePath(u"submit.sh"_s)));
        return o.submit ? submitSlurm(dir) : 0;
    }

    // The file the rows go to as each run ends, and the rows it starts with:
    // when resuming, the complete rows there are (a row cut short by a kill is
    // dropped); runs with a row anywhere in the folder are not run again.
    const QString target = dir.filePath(o.shard ? shardFileName(*o.shard) : u"runs.csv"_s);
    QMap<int, QString> kept, known;
    if (o.resume) {
        QStringList everywhere{readText(dir.filePath(u"runs.csv"_s))};
        for (const QString& name : shardFileNames(dir)) everywhere << readText(dir.filePath(name));
        const auto all = completeRows(*settings, everywhere, &error);
        if (!all) return fail(error);
        known = *all;
        if (o.shard) {
            const auto own = completeRows(*settings, {readText(target)}, &error);
            if (!own) return fail(error);
            kept = *own;
        } else {
            kept = known;
        }
    }
    QList<int> runs;
    const QList<int> planned = o.shard ? shardRuns(*settings, *o.shard) : shardRuns(*settings, {0, 1});
    for (int i : planned)
        if (!known.contains(i)) runs << i;
    // Progress and the last line count every run of this experiment (or
    // shard), those that ended before a resume included.
    const int whole = int(planned.size());
    const int already = whole - int(runs.size());
    QFile rowsFile(target);
    if (!rowsFile.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || rowsFile.write(runsCsv(kept.values()).toUtf8()) < 0 || !rowsFile.flush())
        return fail(u"cannot write "_s + target);

    const QString work = dir.filePath(o.shard ? u"work-shard-%1"_s.arg(o.shard->index) : u"work"_s);
    LocalRuns local(program, settingsPath, work, tools, *settings, runs, jobs);

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sigintPipe) != 0) return fail(u"socketpair failed"_s);
    QSocketNotifier notifier(sigintPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &local, [&] {
        char c;
        [[maybe_unused]] auto n = ::read(sigintPipe[0], &c, 1);
        local.cancel();
    });
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGHUP, onSignal);

    bool appended = true;
    QObject::connect(&local, &LocalRuns::rowReady, [&](int, const QString& row) {
        appended = rowsFile.write((row + u"\r\n"_s).toUtf8()) > 0 && rowsFile.flush() && appended;
    });
    QObject::connect(&local, &LocalRuns::progress, [&](int done, int) {
        std::printf("progress %d/%d\n", already + done, whole);
        std::fflush(stdout);
    });
    QObject::connect(&local, &LocalRuns::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    std::printf("runs: %d", int(runs.size()));
    if (already > 0) std::printf(" (%d of %d ended already)", already, whole);
    std::printf(", jobs: %d, output: %s\nprogress %d/%d\n", jobs, qPrintable(dir.absolutePath()), already, whole);
    std::fflush(stdout);
    local.start();
    app.exec();
    QDir().rmdir(work);
    rowsFile.close();

    QMap<int, QString> all = kept;
    all.insert(local.rows());
    const QStringList rows = all.values();
    bool written = appended;
    if (o.shard) written = writeFile(target, runsCsv(rows).toUtf8()) && written;
    else written = writeResults(dir.absolutePath(), *settings, rows) && written;
    if (!written) return fail(u"cannot write the results into "_s + dir.absolutePath());
    QMap<int, QString> ended = known;
    ended.insert(local.rows());
    QStringList endedRows;
    for (int i : planned)
        if (ended.contains(i)) endedRows << ended[i];
    std::printf("%s: %s; results in %s\n", local.cancelled() ? "cancelled" : "done",
                qPrintable(outcomeText(endedRows, whole)), qPrintable(o.shard ? target : dir.absolutePath()));
    if (local.cancelled()) return kExitCancelled;
    return failures(endedRows).count == 0 ? kExitAllRunsOk : kExitRunsFailed;
}
