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
    return 1;
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

// The settings file of the output folder: written by the first run, the
// same for every shard and for the merge.
std::optional<Settings> experimentSettings(const ToolOptions& o, const QString& settingsPath, QString* error)
{
    if (!o.settingsFile.isEmpty()) {
        const auto s = parseSettingsText(readText(o.settingsFile), error);
        if (s && QFileInfo(o.settingsFile).absoluteFilePath() != QFileInfo(settingsPath).absoluteFilePath()
            && !writeFile(settingsPath, settingsText(*s).toUtf8())) {
            *error = u"cannot write "_s + settingsPath;
            return std::nullopt;
        }
        return s;
    }
    Settings s = o.settings;
    s.stream = QFileInfo(s.stream).absoluteFilePath();
    s.original = QFileInfo(s.original).absoluteFilePath();
    if (QFile::exists(settingsPath)) {
        const auto existing = parseSettingsText(readText(settingsPath), error);
        if (!existing || !(*existing == s)) {
            *error = settingsPath + u" holds another experiment: choose an empty output folder"_s;
            return std::nullopt;
        }
    } else if (!writeFile(settingsPath, settingsText(s).toUtf8())) {
        *error = u"cannot write "_s + settingsPath;
        return std::nullopt;
    }
    return s;
}

bool writeResults(const QString& dir, const Settings& s, const QStringList& rows)
{
    const QDir out(dir);
    const QString title = QFileInfo(s.stream).fileName() + u": mean Y-PSNR against loss rate"_s;
    const QList<PlotSeries> series = plotSeries(s, rows);
    bool ok = writeFile(out.filePath(u"runs.csv"_s), runsCsv(rows).toUtf8());
    ok = writeFile(out.filePath(u"summary.csv"_s), summaryCsv(s, rows).toUtf8()) && ok;
    ok = writeFile(out.filePath(u"plot.svg"_s), plotSvg(series, title).toUtf8()) && ok;
    const QString png = out.filePath(u"plot.png"_s);
    const QString temporary = png + u".part.png"_s;
    ok = plotImage(series, title).save(temporary, "PNG") && ok;
    QFile::remove(png);
    ok = QFile::rename(temporary, png) && ok;
    return ok;
}

int merge(const ToolOptions& o)
{
    const QDir dir(o.output);
    QString error;
    const auto settings = parseSettingsText(readText(dir.filePath(u"experiment.txt"_s)), &error);
    if (!settings) return fail(dir.filePath(u"experiment.txt"_s) + u": "_s + error);
    QStringList texts;
    const QStringList shardFiles = dir.entryList({u"runs-shard-*-of-*.csv"_s}, QDir::Files, QDir::Name);
    if (shardFiles.isEmpty()) return fail(u"no shard files (runs-shard-K-of-N.csv) in "_s + o.output);
    for (const QString& name : shardFiles) texts << readText(dir.filePath(name));
    const auto rows = mergeRows(*settings, texts, &error);
    if (!rows) return fail(error);
    if (!writeResults(o.output, *settings, *rows)) return fail(u"cannot write the results into "_s + o.output);
    std::printf("merged %d runs from %d shard files into %s\n", int(rows->size()), int(shardFiles.size()),
                o.output.toLocal8Bit().constData());
    return 0;
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
    const auto settings = experimentSettings(o, settingsPath, &error);
    if (!settings) return fail(error);
    if (!QFileInfo(settings->stream).isFile()) return fail(u"the encoded stream "_s + settings->stream + u" is missing"_s);
    if (!QFileInfo(settings->original).isFile()) return fail(u"the original "_s + settings->original + u" is missing"_s);

    const QString tools = QFileInfo(o.toolsDirectory.isEmpty() ? QCoreApplication::applicationDirPath()
                                                               : o.toolsDirectory).absoluteFilePath();
    for (const char16_t* tool : {u"gilbert.exe", u"h264_analyze.exe", u"ffmpeg.exe"})
        if (!kestrune::findProgram(QString::fromUtf16(tool), tools, {}))
            return fail(QString::fromUtf16(tool) + u" is not in "_s + tools + u" (give the workbench folder with --tools)"_s);
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).absoluteFilePath();
    const int jobs = o.jobs > 0 ? o.jobs : std::max(1, QThread::idealThreadCount());

    if (o.slurmShards > 0) {
        const SlurmJob job{program, settingsPath, dir.absolutePath(), tools, o.slurmShards, o.jobs > 0 ? o.jobs : 1,
                           o.timeLimit, o.partition};
        if (const QString problem = slurmJobProblem(job); !problem.isEmpty()) return fail(problem);
        if (!writeFile(dir.filePath(u"experiment.sbatch"_s), slurmArrayScript(job).toUtf8())
            || !writeFile(dir.filePath(u"merge.sbatch"_s), slurmMergeScript(job).toUtf8())
            || !writeFile(dir.filePath(u"submit.sh"_s), slurmSubmitScript(job).toUtf8()))
            return fail(u"cannot write the batch scripts into "_s + dir.absolutePath());
        std::printf("wrote %s, %s and %s\nsubmit with: sh %s\n", qPrintable(dir.filePath(u"experiment.sbatch"_s)),
                    qPrintable(dir.filePath(u"merge.sbatch"_s)), qPrintable(dir.filePath(u"submit.sh"_s)),
                    qPrintable(dir.filePath(u"submit.sh"_s)));
        return o.submit ? submitSlurm(dir) : 0;
    }

    QList<int> runs;
    if (o.shard) runs = shardRuns(*settings, *o.shard);
    else
        for (int i = 0; i < runCount(*settings); ++i) runs << i;
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

    QObject::connect(&local, &LocalRuns::progress, [](int done, int total) {
        std::printf("progress %d/%d\n", done, total);
        std::fflush(stdout);
    });
    QObject::connect(&local, &LocalRuns::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    std::printf("runs: %d, jobs: %d, output: %s\n", int(runs.size()), jobs, qPrintable(dir.absolutePath()));
    std::fflush(stdout);
    local.start();
    app.exec();
    QDir().rmdir(work);

    const QStringList rows = local.rows().values();
    int failed = 0;
    for (const QString& row : rows)
        if (const auto parsed = parseRunRow(row); parsed && !parsed->ok) ++failed;
    bool written = false;
    if (o.shard) written = writeFile(dir.filePath(shardFileName(*o.shard)), runsCsv(rows).toUtf8());
    else written = writeResults(dir.absolutePath(), *settings, rows);
    if (!written) return fail(u"cannot write the results into "_s + dir.absolutePath());
    std::printf("%s: %d of %d runs complete, %d failed\n", local.cancelled() ? "cancelled" : "done", int(rows.size()),
                int(runs.size()), failed);
    return local.cancelled() ? 3 : 0;
}
