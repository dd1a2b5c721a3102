// kestrune-experiment with the real tools of the workbench folder: shards
// merged equal the local run row for row, a cancel keeps complete rows only,
// a failing tool becomes a recorded failure while the other runs go on, and a
// cancel waits for the tools of its runs.
#include "experiment/runtime_directory_notice.h"
#include "runner/experiment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace kestrune::experiment;

namespace {

QDir workbench()
{
    return QDir(qEnvironmentVariable("KESTRUNE_WORKBENCH", QStringLiteral(KESTRUNE_WORKBENCH_DIR)));
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing " + path.toUtf8() + ">");
}

struct Finished {
    int exitCode = -1;
    QString out, err;
};

// Run as batch jobs run it: without a desktop session's XDG_RUNTIME_DIR.
Finished runTool(const QStringList& arguments, int timeoutMs = 300000)
{
    QProcess p;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"XDG_RUNTIME_DIR"_s);
    p.setProcessEnvironment(environment);
    p.start(workbench().filePath(u"kestrune-experiment"_s), arguments);
    Finished f;
    if (!p.waitForFinished(timeoutMs)) return f;
    f.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    f.out = QString::fromUtf8(p.readAllStandardOutput());
    f.err = QString::fromUtf8(p.readAllStandardError());
    return f;
}

class ExperimentTool : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new QTemporaryDir;
        // A short stream with four slices per picture, so a loss can hit part of a picture.
        QProcess encode;
        encode.start(workbench().filePath(u"x264.exe"_s),
                     {u"--qp"_s, u"30"_s, u"--slices"_s, u"4"_s, u"--frames"_s, u"24"_s,
                      workbench().filePath(u"sample_176x144.yuv"_s), u"-o"_s, stream()});
        encode.waitForFinished(120000);
    }
    static void TearDownTestSuite() { delete dir; }
    static QString stream() { return dir->filePath(u"s.264"_s); }
    static QString path(const QString& name) { return dir->filePath(name); }
    static QStringList experiment(const QString& output, const QString& runs, const QString& lossRates)
    {
        return {u"--stream"_s, stream(), u"--original"_s, workbench().filePath(u"sample_176x144.yuv"_s),
                u"--loss-rates"_s, lossRates, u"--pairs"_s, u"3:1,0:0"_s, u"--runs"_s, runs,
                u"--seed"_s, u"11"_s, u"--output"_s, output};
    }
    // A tools folder with the real channel and analyzer and a decoder that
    // is this shell script.
    static QDir toolsWithDecoder(const QString& name, const QByteArray& script)
    {
        QDir tools(path(name));
        tools.mkpath(u"."_s);
        for (const QString& tool : {u"gilbert.exe"_s, u"h264_analyze.exe"_s})
            QFile::link(workbench().filePath(tool), tools.filePath(tool));
        QFile fake(tools.filePath(u"ffmpeg.exe"_s));
        if (fake.open(QIODevice::WriteOnly)) fake.write("#!/bin/sh\n" + script);
        fake.close();
        fake.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return tools;
    }
    static QTemporaryDir* dir;
};
QTemporaryDir* ExperimentTool::dir = nullptr;

TEST_F(ExperimentTool, ShardsMergedEqualTheLocalRunRowForRow)
{
    ASSERT_TRUE(QFile::exists(stream()));
    const Finished local = runTool(experiment(path(u"local"_s), u"3"_s, u"5,20"_s) << u"--jobs"_s << u"2"_s);
    ASSERT_EQ(local.exitCode, 0) << local.err.toStdString();
    EXPECT_EQ(local.err, QString()) << "nothing on standard error when all went well";
    const QByteArray runs = readAll(path(u"local/runs.csv"_s));
    EXPECT_EQ(runs.count("\r\n"), 1 + 12);
    EXPECT_TRUE(runs.contains(",ok,")) << runs.constData();

    const QString settings = path(u"local/experiment.txt"_s);
    for (int k = 0; k < 3; ++k) {
        const Finished shard = runTool({u"--settings"_s, settings, u"--output"_s, path(u"sharded"_s), u"--jobs"_s,
                                        u"1"_s, u"--shard"_s, u"%1/3"_s.arg(k)});
        ASSERT_EQ(shard.exitCode, 0) << shard.err.toStdString();
        EXPECT_EQ(shard.err, QString());
    }
    EXPECT_FALSE(QFile::exists(path(u"sharded/runs.csv"_s)));
    const Finished merged = runTool({u"merge"_s, path(u"sharded"_s)});
    ASSERT_EQ(merged.exitCode, 0) << merged.err.toStdString();
    EXPECT_EQ(merged.err, QString());
    for (const QString& name : {u"runs.csv"_s, u"summary.csv"_s, u"plot.svg"_s})
        EXPECT_EQ(readAll(path(u"sharded/"_s + name)), readAll(path(u"local/"_s + name))) << name.toStdString();
    EXPECT_TRUE(QFile::exists(path(u"sharded/plot.png"_s)));

    // A shard file missing or given twice is named by its runs.
    QFile::copy(path(u"sharded/runs-shard-1-of-3.csv"_s), path(u"sharded/runs-shard-1-of-3b.csv"_s));
    QFile::remove(path(u"sharded/runs-shard-2-of-3.csv"_s));
    const Finished broken = runTool({u"merge"_s, path(u"sharded"_s)});
    EXPECT_NE(broken.exitCode, 0);
    EXPECT_TRUE(broken.err.contains(u"missing runs: 2 5 8 11"_s)) << broken.err.toStdString();
    EXPECT_TRUE(broken.err.contains(u"duplicated runs: 1 4 7 10"_s)) << broken.err.toStdString();
}

// The start-up filter drops only Qt's notice about an unset XDG_RUNTIME_DIR,
// and only while it is alive.
TEST(RuntimeDirectoryNoticeFilter, DropsOnlyTheUnsetRuntimeDirectoryNotice)
{
    static QStringList seen;
    seen.clear();
    const QtMessageHandler before = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& message) { seen << message; });
    const char* notice = "QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '/tmp/runtime-x'";
    {
        RuntimeDirectoryNoticeFilter filter;
        qWarning("%s", notice);
        qWarning("QStandardPaths: wrong permissions on runtime directory /run/user/0, 0755 instead of 0700");
        qCritical("%s", notice);  // not the warning Qt gives
        qWarning("plot: no font");
    }
    qWarning("%s", notice);
    qInstallMessageHandler(before);
    const QStringList expected{u"QStandardPaths: wrong permissions on runtime directory /run/user/0, 0755 instead of 0700"_s,
                               QString::fromLatin1(notice), u"plot: no font"_s, QString::fromLatin1(notice)};
    EXPECT_EQ(seen, expected);
}

TEST_F(ExperimentTool, CancelKeepsOnlyCompleteRows)
{
    QProcess p;
    p.start(workbench().filePath(u"kestrune-experiment"_s),
            experiment(path(u"cancel"_s), u"30"_s, u"10"_s) << u"--jobs"_s << u"2"_s);
    ASSERT_TRUE(p.waitForStarted());
    QByteArray out;
    while (!out.contains("progress 3/") && p.waitForReadyRead(60000)) out += p.readAllStandardOutput();
    ASSERT_TRUE(out.contains("progress 3/")) << out.constData();
    ::kill(pid_t(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 3);
    const QStringList lines = QString::fromUtf8(readAll(path(u"cancel/runs.csv"_s))).split(u"\r\n"_s, Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 1 + 3);
    EXPECT_LT(lines.size(), 1 + 60);
    for (const QString& row : lines.mid(1)) EXPECT_TRUE(parseRunRow(row)) << row.toStdString();
    EXPECT_FALSE(QDir(path(u"cancel/work"_s)).exists());
    EXPECT_TRUE(QFile::exists(path(u"cancel/summary.csv"_s)));
}

TEST_F(ExperimentTool, AFailingDecoderIsRecordedAndTheOtherRunsGoOn)
{
    const QDir tools = toolsWithDecoder(u"tools"_s, "echo 'decoder exploded' >&2\nexit 1\n");
    const Finished f = runTool(experiment(path(u"failing"_s), u"2"_s, u"5"_s) << u"--tools"_s << tools.path());
    ASSERT_EQ(f.exitCode, 0) << f.err.toStdString();
    EXPECT_TRUE(f.out.contains(u"4 of 4 runs complete, 4 failed"_s)) << f.out.toStdString();
    const QString runs = QString::fromUtf8(readAll(path(u"failing/runs.csv"_s)));
    EXPECT_EQ(runs.count(u"decode: decoder exploded"_s), 4) << runs.toStdString();
    const QStringList summary = QString::fromUtf8(readAll(path(u"failing/summary.csv"_s))).split(u"\r\n"_s);
    EXPECT_TRUE(summary[1].startsWith(u"5,2,3,1,Bilinear + BMA,0,2,"_s)) << summary[1].toStdString();
}

// A decoder that takes a while to stop after SIGTERM and writes into its run
// folder meanwhile: the cancelled experiment ends only after every such
// decoder has ended, and no run folder is left behind.
TEST_F(ExperimentTool, ACancelWaitsForEveryProcessOfItsRuns)
{
    const QString marks = path(u"slow-stop-marks"_s);
    ASSERT_TRUE(QDir().mkpath(marks));
    const QDir tools = toolsWithDecoder(u"slow-stop-tools"_s,
        "touch '" + marks.toUtf8() + "/started.'$$\n"
        "trap 'sleep 1; mkdir -p \"$PWD\"; echo late > \"$PWD/late.txt\"; touch '" + marks.toUtf8()
            + "/ended.'$$; exit 1' TERM\n"
        "sleep 120\n");
    QProcess p;
    p.start(workbench().filePath(u"kestrune-experiment"_s),
            experiment(path(u"slow-stop"_s), u"5"_s, u"10"_s) << u"--jobs"_s << u"2"_s << u"--tools"_s << tools.path());
    ASSERT_TRUE(p.waitForStarted());
    const auto marked = [&](const QString& pattern) { return QDir(marks).entryList({pattern}, QDir::Files).size(); };
    for (int i = 0; i < 1200 && marked(u"started.*"_s) < 2; ++i) p.waitForFinished(100);
    ASSERT_EQ(marked(u"started.*"_s), 2) << "both decoders running";
    ::kill(pid_t(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 3);
    EXPECT_EQ(marked(u"ended.*"_s), 2) << "the experiment ended before its decoders";
    EXPECT_FALSE(QDir(path(u"slow-stop/work"_s)).exists());
}

} // namespace
