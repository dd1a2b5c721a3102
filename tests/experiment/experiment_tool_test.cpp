// kestrune-experiment with the real tools of the workbench folder: shards
// merged equal the local run row for row, a cancel keeps complete rows only,
// and a failing tool becomes a recorded failure while the other runs go on.
#include "experiment/runtime_directory_notice.h"
#include "runner/experiment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
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
    QDir tools(path(u"tools"_s));
    ASSERT_TRUE(tools.mkpath(u"."_s));
    for (const QString& name : {u"gilbert.exe"_s, u"h264_analyze.exe"_s})
        ASSERT_TRUE(QFile::link(workbench().filePath(name), tools.filePath(name)));
    {
        QFile fake(tools.filePath(u"ffmpeg.exe"_s));
        ASSERT_TRUE(fake.open(QIODevice::WriteOnly));
        fake.write("#!/bin/sh\necho 'decoder exploded' >&2\nexit 1\n");
    }
    QFile::setPermissions(tools.filePath(u"ffmpeg.exe"_s), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const Finished f = runTool(experiment(path(u"failing"_s), u"2"_s, u"5"_s) << u"--tools"_s << tools.path());
    ASSERT_EQ(f.exitCode, 0) << f.err.toStdString();
    EXPECT_TRUE(f.out.contains(u"4 of 4 runs complete, 4 failed"_s)) << f.out.toStdString();
    const QString runs = QString::fromUtf8(readAll(path(u"failing/runs.csv"_s)));
    EXPECT_EQ(runs.count(u"decode: decoder exploded"_s), 4) << runs.toStdString();
    const QStringList summary = QString::fromUtf8(readAll(path(u"failing/summary.csv"_s))).split(u"\r\n"_s);
    EXPECT_TRUE(summary[1].startsWith(u"5,2,3,1,Bilinear + BMA,0,2,"_s)) << summary[1].toStdString();
}

// A trace and a real-number Gilbert setting over RTP with parameter sets
// out of band: the rows name the channel, its nominal rate (the trace's own
// count) and the realised packet and NAL-unit loss.
TEST_F(ExperimentTool, PacketChannelsRecordTheirChannelAndRealisedLoss)
{
    QByteArray trace;
    int lost = 0;
    for (int i = 0; i < 400; ++i) {
        const bool l = (i / 10) % 7 == 3 && i % 10 < 6;  // bursts of 6 in every 70 packets
        lost += l;
        trace += l ? '0' : '1';
        if (i % 37 == 36) trace += "\r\n";
    }
    {
        QFile file(path(u"trace.txt"_s));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(trace);
    }
    const Finished f = runTool(experiment(path(u"packets"_s), u"2"_s, u"2.5"_s)
                               << u"--bursts"_s << u"1.5"_s << u"--channel"_s << u"trace:"_s + path(u"trace.txt"_s)
                               << u"--channel"_s << u"gilbert"_s << u"--packets"_s << u"rtp:300"_s
                               << u"--parameter-sets"_s << u"out-of-band"_s << u"--jobs"_s << u"2"_s);
    ASSERT_EQ(f.exitCode, 0) << f.err.toStdString();
    const QStringList rows = QString::fromUtf8(readAll(path(u"packets/runs.csv"_s))).split(u"\r\n"_s, Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 1 + 8);
    const QStringList header = rows[0].split(u',');
    auto column = [&](const QString& row, const QString& name) { return row.split(u',')[header.indexOf(name)]; };
    for (int i = 1; i < rows.size(); ++i) {
        const QString& row = rows[i];
        SCOPED_TRACE(row.toStdString());
        ASSERT_EQ(column(row, u"status"_s), u"ok"_s);
        const bool isTrace = i <= 4;
        EXPECT_EQ(column(row, u"channel"_s), isTrace ? u"trace:"_s + path(u"trace.txt"_s) : u"gilbert"_s);
        EXPECT_EQ(column(row, u"nominal_loss_rate"_s).toDouble(), isTrace ? std::round(1e6 * lost / 400.0) / 1e4 : 2.5);
        // FU-A fragments make more packets than NAL units are sent.
        EXPECT_GT(column(row, u"packets"_s).toInt(), column(row, u"nal_units"_s).toInt() - 2);
        const double packetLoss = column(row, u"realised_packet_loss_rate"_s).toDouble();
        if (isTrace) {
            EXPECT_GT(packetLoss, 0);
        }
        if (packetLoss > 0) {
            EXPECT_GT(column(row, u"nal_units_dropped"_s).toInt(), 0);
        }
    }
    const QStringList summary = QString::fromUtf8(readAll(path(u"packets/summary.csv"_s))).split(u"\r\n"_s);
    EXPECT_TRUE(summary[1].startsWith(QString::number(100.0 * lost / 400, 'f', 4) + u",,3,1,"_s)) << summary[1].toStdString();
    EXPECT_TRUE(summary[3].startsWith(u"2.5,1.5,3,1,"_s)) << summary[3].toStdString();
}

} // namespace
