// kestrune-experiment with the real tools of the workbench folder: shards
// merged equal the local run row for row, a cancel keeps complete rows only,
// a failing tool becomes a recorded failure while the other runs go on, and a
// cancel waits for the tools of its runs.
#include "experiment/experiment_plot.h"
#include "experiment/runtime_directory_notice.h"
#include "runner/experiment.h"

#include <QDir>
#include <QSet>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
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

// Every run ended (some may fail: a loss of the parameter sets leaves nothing to decode).
bool allRunsEnded(const Finished& f) { return f.exitCode == 0 || f.exitCode == 4; }

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
    // runs this shell script on a channel output; the stream as it is (the
    // check before the runs) goes to the real decoder.
    static QDir toolsWithDecoder(const QString& name, const QByteArray& script)
    {
        QDir tools(path(name));
        tools.mkpath(u"."_s);
        for (const QString& tool : {u"gilbert.exe"_s, u"h264_analyze.exe"_s})
            QFile::link(workbench().filePath(tool), tools.filePath(tool));
        QFile fake(tools.filePath(u"ffmpeg.exe"_s));
        if (fake.open(QIODevice::WriteOnly))
            fake.write("#!/bin/sh\ncase \"$*\" in *channel.264*) ;; *) exec '" + workbench().filePath(u"ffmpeg.exe"_s).toUtf8()
                       + "' \"$@\";; esac\n" + script);
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
    ASSERT_TRUE(allRunsEnded(local)) << local.err.toStdString();
    EXPECT_EQ(local.err, QString()) << "nothing on standard error when all went well";
    const QByteArray runs = readAll(path(u"local/runs.csv"_s));
    EXPECT_EQ(runs.count("\r\n"), 1 + 12);
    EXPECT_TRUE(runs.contains(",ok,")) << runs.constData();
    // The decoder is given the sent stream: every good run is placed exactly, whatever was lost.
    EXPECT_EQ(runs.count(",exact,"), runs.count(",ok,")) << runs.constData();

    // Opinion scores: a run that lost nothing scores as the lossless decode
    // recorded in experiment.txt, frame for frame; one that lost frames' worth
    // scores no higher, and some runs at 20 % score frames below it.
    const QString lossless = QString::fromUtf8(readAll(path(u"local/experiment.txt"_s))).section(u"lossless_scores="_s, 1)
                                 .section(u'\n', 0, 0);
    ASSERT_EQ(lossless.size(), 24);
    double losslessMean = 0;
    for (const QChar c : lossless) losslessMean += c.digitValue() / 24.0;
    const QStringList lines = QString::fromUtf8(runs).split(u"\r\n"_s, Qt::SkipEmptyParts);
    const QStringList header = lines[0].split(u',');
    int lossyRunsBelow = 0;
    for (const QString& line : lines.mid(1)) {
        const auto row = parseRunRow(line);
        ASSERT_TRUE(row) << line.toStdString();
        if (!row->ok) continue;
        ASSERT_TRUE(row->mos && row->mosBelowLossless) << line.toStdString();
        const int dropped = line.split(u',')[header.indexOf(u"nal_units_dropped"_s)].toInt();
        if (dropped == 0) {
            EXPECT_NEAR(*row->mos, losslessMean, 1e-4) << line.toStdString();
            EXPECT_EQ(*row->mosBelowLossless, 0) << line.toStdString();
        }
        EXPECT_LE(*row->mos, losslessMean + 1e-4) << line.toStdString();
        EXPECT_GE(*row->mos, 1);
        lossyRunsBelow += *row->mosBelowLossless > 0;
    }
    EXPECT_GT(lossyRunsBelow, 0);
    const QStringList summary = QString::fromUtf8(readAll(path(u"local/summary.csv"_s))).split(u"\r\n"_s);
    EXPECT_TRUE(summary[0].endsWith(u",mos_below_lossless_ci95_low,mos_below_lossless_ci95_high"_s));

    const QString settings = path(u"local/experiment.txt"_s);
    for (int k = 0; k < 3; ++k) {
        const Finished shard = runTool({u"--settings"_s, settings, u"--output"_s, path(u"sharded"_s), u"--jobs"_s,
                                        u"1"_s, u"--shard"_s, u"%1/3"_s.arg(k)});
        ASSERT_TRUE(allRunsEnded(shard)) << shard.err.toStdString();
        EXPECT_EQ(shard.err, QString());
    }
    EXPECT_FALSE(QFile::exists(path(u"sharded/runs.csv"_s)));
    const Finished merged = runTool({u"merge"_s, path(u"sharded"_s)});
    ASSERT_TRUE(allRunsEnded(merged)) << merged.err.toStdString();
    EXPECT_EQ(merged.err, QString());
    for (const QString& name : {u"runs.csv"_s, u"summary.csv"_s, u"plot.svg"_s})
        EXPECT_EQ(readAll(path(u"sharded/"_s + name)), readAll(path(u"local/"_s + name))) << name.toStdString();
    EXPECT_TRUE(QFile::exists(path(u"sharded/plot.png"_s)));

    // A shard file given twice changes nothing; a missing one is named by its runs.
    QFile::copy(path(u"sharded/runs-shard-1-of-3.csv"_s), path(u"sharded/runs-shard-1-of-3b.csv"_s));
    QFile::remove(path(u"sharded/runs-shard-2-of-3.csv"_s));
    QFile::remove(path(u"sharded/runs.csv"_s));
    const Finished broken = runTool({u"merge"_s, path(u"sharded"_s)});
    EXPECT_EQ(broken.exitCode, 5);
    EXPECT_TRUE(broken.err.contains(u"missing runs (no row in any shard file): 2 5 8 11;"_s)) << broken.err.toStdString();
    EXPECT_TRUE(broken.out.contains(u"merged 8 of 12 runs"_s)) << broken.out.toStdString();
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
    EXPECT_EQ(f.exitCode, 4) << f.err.toStdString();
    EXPECT_TRUE(f.out.trimmed().endsWith(u"done: 0 of 4 runs complete, 4 failed (decode: decoder exploded x4); results in "_s
                                         + QDir(path(u"failing"_s)).absolutePath()))
        << f.out.toStdString();
    const QString runs = QString::fromUtf8(readAll(path(u"failing/runs.csv"_s)));
    EXPECT_EQ(runs.count(u"decode: decoder exploded"_s), 4) << runs.toStdString();
    const QStringList summary = QString::fromUtf8(readAll(path(u"failing/summary.csv"_s))).split(u"\r\n"_s);
    EXPECT_TRUE(summary[1].startsWith(u"5,2,3,1,Bilinear + BMA,0,2,"_s)) << summary[1].toStdString();
    EXPECT_TRUE(readAll(path(u"failing/plot.svg"_s)).contains("no run completed: nothing to plot"));
}

// 8 pairs x 3 burst lengths stay legible: every series has its legend line
// inside the picture, one colour per pair and one line style per burst, points
// at their true loss rates within the axes; a point on fewer runs than asked
// is hollow and says n; a plot with nothing to show says so.
TEST(ExperimentPlot, ManySeriesFitAndPointsOnFewerRunsAreMarked)
{
    QList<PlotSeries> series;
    for (int pair = 0; pair < 8; ++pair)
        for (int burst = 0; burst < 3; ++burst) {
            PlotSeries s{u"pair %1, burst %2"_s.arg(pair).arg(burst), pair, burst, {}};
            for (double rate : {0.0, 3.0, 10.0})
                s.points << PlotPoint{rate, 30 - rate + pair, 28 - rate + pair, 32 - rate + pair, 20, 20};
            series << s;
        }
    series[5].points[1].runs = 17;
    const QString svg = plotSvg(series, {u"s.264: mean Y-PSNR against loss rate"_s, u"channel loss rate (%)"_s, {}});
    for (const PlotSeries& s : series) {
        const auto label = QRegularExpression(u"<text x=\"([0-9.]+)\" y=\"([0-9.]+)\"[^>]*>"_s
                                              + QRegularExpression::escape(s.label) + u"</text>"_s)
                               .match(svg);
        ASSERT_TRUE(label.hasMatch()) << s.label.toStdString();
        EXPECT_LT(label.captured(2).toDouble(), kPlotHeight - 60) << s.label.toStdString();
    }
    QSet<QString> strokes;
    for (const auto& m : QRegularExpression(u"<polyline points=\"[^\"]*\" fill=\"none\" stroke=\"(#[0-9a-f]+)\""_s)
                             .globalMatch(svg))
        strokes << m.captured(1);
    EXPECT_EQ(strokes.size(), 8);
    EXPECT_EQ(svg.count(u"stroke-dasharray=\"8,4\""_s), 2 * 8); // burst 1's line and legend key per pair
    // The points' x: 0 % right of the y axis, 3 % within a few pixels of 3/10 of the way to 10 %.
    double x0 = 1e9, x3 = 0, x10 = 0;
    for (const auto& m : QRegularExpression(u"<circle cx=\"([0-9.]+)\""_s).globalMatch(svg)) {
        const double x = m.captured(1).toDouble();
        x0 = std::min(x0, x);
        x10 = std::max(x10, x);
    }
    for (const auto& m : QRegularExpression(u"<circle cx=\"([0-9.]+)\"[^>]*fill=\"#ffffff\""_s).globalMatch(svg))
        x3 = m.captured(1).toDouble();
    EXPECT_GT(x0, 80);
    EXPECT_NEAR((x3 - x0) / (x10 - x0), 0.3, 0.03);
    EXPECT_EQ(svg.count(u"fill=\"#ffffff\" stroke"_s), 1);
    EXPECT_TRUE(svg.contains(u">n=17</text>"_s));
    EXPECT_TRUE(svg.contains(u"hollow points stand on fewer runs"_s));

    const QString empty = plotSvg({PlotSeries{u"a"_s, 0, 0, {}}}, {u"t"_s, u"x"_s, u"partial: 0 of 4 runs"_s});
    EXPECT_TRUE(empty.contains(u"no run completed: nothing to plot"_s));
    EXPECT_TRUE(empty.contains(u"partial: 0 of 4 runs"_s));
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

// Inputs that cannot give a result are refused before any run, with the
// reason, exit status 1 and no rows.
TEST_F(ExperimentTool, InputsThatCannotGiveAResultAreRefusedBeforeAnyRun)
{
    const QString original = workbench().filePath(u"sample_176x144.yuv"_s);
    const QByteArray frames = readAll(original);
    auto write = [](const QString& file, const QByteArray& bytes) {
        QFile f(file);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    ASSERT_TRUE(write(path(u"empty.264"_s), {}));
    ASSERT_TRUE(write(path(u"text.264"_s), QByteArray("not a video at all\n").repeated(200)));
    ASSERT_TRUE(write(path(u"empty_176x144.yuv"_s), {}));
    ASSERT_TRUE(write(path(u"ten_176x144.yuv"_s), frames.left(38016 * 10)));
    ASSERT_TRUE(write(path(u"cut_176x144.yuv"_s), frames.left(38016 * 30 + 100)));
    const QString s = stream();
    const QList<std::pair<QStringList, QString>> cases = {
        {{u"--stream"_s, path(u"empty.264"_s), u"--original"_s, original}, u"is empty"_s},
        {{u"--stream"_s, path(u"text.264"_s), u"--original"_s, original}, u"is not an H.264 stream"_s},
        {{u"--stream"_s, path(u"none.264"_s), u"--original"_s, original}, u"none.264 is missing"_s},
        {{u"--stream"_s, s, u"--original"_s, path(u"empty_176x144.yuv"_s)}, u"is empty"_s},
        {{u"--stream"_s, s, u"--original"_s, path(u"cut_176x144.yuv"_s)}, u"not a whole number of 176x144 frames"_s},
        {{u"--stream"_s, s, u"--original"_s, original, u"--size"_s, u"160x120"_s},
         u"the encoded stream's pictures are 176x144, the original's 160x120"_s},
        {{u"--stream"_s, s, u"--original"_s, path(u"ten_176x144.yuv"_s)},
         u"the original holds 10 frames, the encoded stream 24"_s},
        {{u"--stream"_s, s, u"--original"_s, original, u"--loss-rates"_s, u"70"_s}, u"the largest is 66%"_s},
        {{u"--stream"_s, s, u"--original"_s, original, u"--loss-rates"_s, u"5,5"_s}, u"loss rate 5 is given twice"_s},
        {{u"--stream"_s, s, u"--original"_s, original, u"--seed"_s, u"4294967294"_s}, u"below 2147483648"_s},
        {{u"--stream"_s, s, u"--original"_s, original, u"--slurm"_s, u"2"_s, u"--time"_s, u"1:75:00"_s},
         u"below 60"_s},
    };
    int n = 0;
    for (const auto& [arguments, reason] : cases) {
        const QString out = path(u"refused-%1"_s.arg(n++));
        QStringList all{u"--loss-rates"_s, u"5"_s, u"--runs"_s, u"2"_s, u"--output"_s, out};
        const Finished f = runTool(all + arguments);
        EXPECT_EQ(f.exitCode, 1) << reason.toStdString() << "\n" << f.out.toStdString();
        EXPECT_TRUE(f.err.contains(reason)) << reason.toStdString() << ": " << f.err.toStdString();
        EXPECT_FALSE(QFile::exists(out + u"/runs.csv"_s)) << reason.toStdString();
    }
}

// Rows are appended as each run ends: after kill -9 they are there, and
// --resume runs only the others, to files byte-identical to a run that was
// never stopped. A shard resumed after a kill merges to the same files too.
TEST_F(ExperimentTool, AKilledExperimentResumesToTheSameResults)
{
    const Finished whole = runTool(experiment(path(u"whole"_s), u"6"_s, u"5,20"_s) << u"--jobs"_s << u"2"_s);
    ASSERT_TRUE(allRunsEnded(whole)) << whole.err.toStdString();
    EXPECT_TRUE(readAll(path(u"whole/experiment.txt"_s)).contains("\nnal_units="));

    auto killAfter = [](const QStringList& arguments, const QByteArray& progress) {
        QProcess p;
        p.start(workbench().filePath(u"kestrune-experiment"_s), arguments);
        QByteArray out;
        while (!out.contains(progress) && p.waitForReadyRead(60000)) out += p.readAllStandardOutput();
        ::kill(pid_t(p.processId()), SIGKILL);
        p.waitForFinished(60000);
        return out.contains(progress);
    };
    ASSERT_TRUE(killAfter(experiment(path(u"killed"_s), u"6"_s, u"5,20"_s) << u"--jobs"_s << u"2"_s, "progress 7/"));
    const QStringList kept = QString::fromUtf8(readAll(path(u"killed/runs.csv"_s))).split(u"\r\n"_s, Qt::SkipEmptyParts);
    ASSERT_GE(kept.size(), 1 + 7);
    EXPECT_LT(kept.size(), 1 + 24);
    const Finished resumed = runTool({u"--resume"_s, path(u"killed"_s), u"--jobs"_s, u"2"_s});
    ASSERT_TRUE(allRunsEnded(resumed)) << resumed.err.toStdString();
    // Progress goes on from the rows there are, counted over the whole experiment.
    const QStringList progress = resumed.out.split(u'\n').filter(QRegularExpression(u"^progress "_s));
    ASSERT_EQ(progress.size(), 25 - kept.size() + 1) << resumed.out.toStdString();
    for (qsizetype i = 0; i < progress.size(); ++i)
        EXPECT_EQ(progress[i], u"progress %1/24"_s.arg(kept.size() - 1 + i)) << resumed.out.toStdString();
    EXPECT_TRUE(resumed.out.contains(u"runs: %1 (%2 of 24 ended already)"_s.arg(25 - kept.size()).arg(kept.size() - 1)))
        << resumed.out.toStdString();
    const int good = int(readAll(path(u"whole/runs.csv"_s)).count(",ok,"));
    EXPECT_TRUE(resumed.out.contains(u"done: %1 of 24 runs complete, %2 failed"_s.arg(good).arg(24 - good)))
        << resumed.out.toStdString();
    for (const QString& name : {u"runs.csv"_s, u"summary.csv"_s, u"plot.svg"_s, u"experiment.txt"_s})
        EXPECT_EQ(readAll(path(u"killed/"_s + name)), readAll(path(u"whole/"_s + name))) << name.toStdString();

    // Shard 0 of 2 killed mid-way; the merge names its missing runs and writes
    // the rest; the shard resumed, the merge equals the whole run.
    const QString settings = path(u"whole/experiment.txt"_s);
    const QStringList shard0{u"--settings"_s, settings, u"--output"_s, path(u"shards"_s), u"--jobs"_s, u"1"_s,
                             u"--shard"_s, u"0/2"_s};
    ASSERT_TRUE(killAfter(shard0, "progress 3/"));
    const Finished shard1 = runTool({u"--settings"_s, settings, u"--output"_s, path(u"shards"_s), u"--jobs"_s, u"2"_s,
                                     u"--shard"_s, u"1/2"_s});
    ASSERT_TRUE(allRunsEnded(shard1)) << shard1.err.toStdString();
    const Finished partial = runTool({u"merge"_s, path(u"shards"_s)});
    EXPECT_EQ(partial.exitCode, 5);
    EXPECT_TRUE(partial.err.contains(u"missing runs (no row in any shard file): "_s)) << partial.err.toStdString();
    EXPECT_TRUE(partial.err.contains(u" 22; continue them with --resume"_s)) << partial.err.toStdString();
    const Finished resumedShard = runTool({u"--resume"_s, path(u"shards"_s), u"--shard"_s, u"0/2"_s});
    ASSERT_TRUE(allRunsEnded(resumedShard)) << resumedShard.err.toStdString();
    const Finished merged = runTool({u"merge"_s, path(u"shards"_s)});
    ASSERT_TRUE(allRunsEnded(merged)) << merged.err.toStdString();
    EXPECT_TRUE(merged.out.contains(u"merged 24 of 24 runs"_s)) << merged.out.toStdString();
    for (const QString& name : {u"runs.csv"_s, u"summary.csv"_s, u"plot.svg"_s})
        EXPECT_EQ(readAll(path(u"shards/"_s + name)), readAll(path(u"whole/"_s + name))) << name.toStdString();
}

// A decoder that takes a while to stop after SIGTERM and writes into its run
// folder meanwhile: the cancelled experiment ends only after every such
// decoder has ended, and no run folder is left behind. The decoder waits in
// short sleeps: a SIGTERM that reaches a child between bash's fork and exec
// is lost, and bash runs its trap only once the child it waits for ends.
TEST_F(ExperimentTool, ACancelWaitsForEveryProcessOfItsRuns)
{
    const QString marks = path(u"slow-stop-marks"_s);
    ASSERT_TRUE(QDir().mkpath(marks));
    const QDir tools = toolsWithDecoder(u"slow-stop-tools"_s,
        "trap 'sleep 1; mkdir -p \"$PWD\"; echo late > \"$PWD/late.txt\"; touch '" + marks.toUtf8()
            + "/ended.'$$; exit 1' TERM\n"
        "touch '" + marks.toUtf8() + "/started.'$$\n"
        "for i in $(seq 1200); do sleep 0.1; done\n");
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
