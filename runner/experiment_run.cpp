#include "runner/experiment_run.h"

#include "runner/analyzer_interface.h"
#include "runner/channel_command.h"
#include "runner/command_path.h"
#include "runner/command_file.h"
#include "runner/decode_command.h"
#include "runner/launch.h"
#include "runner/quality_report.h"
#include "runner/text_file.h"
#include "runner/user_error.h"
#include "tools/quality/frame_loss_file.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

namespace kestrune::experiment {
namespace {

// The last non-empty line of a capture file: the tool's own reason on failure.
QString lastLine(const QString& capture)
{
    QFile file(capture);
    if (!file.open(QIODevice::ReadOnly)) return u"(no output)"_s;
    const QStringList lines = fromSystemText(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        if (!it->trimmed().isEmpty()) return it->trimmed();
    return u"(no output)"_s;
}

bool run(const QString& commandFile, const QString& command, const QString& capture, int* exitCode)
{
    writeCommandFile(commandFile, command);
    const WaitResult wait = runCommandFile(commandFile);
    *exitCode = wait.exitCode;
    return wait.launched && !wait.stillRunning && wait.exitCode == 0 && QFile::exists(capture);
}

RunResult failed(const QString& step, const QString& reason)
{
    RunResult r;
    r.error = step + u": "_s + reason;
    return r;
}

// The number after `prefix` on the capture's line that starts with it.
std::optional<double> printedNumber(const QString& capture, const QString& prefix)
{
    QFile file(capture);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    for (const QString& line : fromSystemText(file.readAll()).split(u'\n')) {
        if (!line.startsWith(prefix)) continue;
        const QString rest = line.mid(prefix.size());
        qsizetype end = 0;
        while (end < rest.size() && (rest[end].isDigit() || rest[end] == u'.' || rest[end] == u'e' || rest[end] == u'-'
                                     || rest[end] == u'+'))
            ++end;
        bool ok = false;
        const double value = rest.left(end).toDouble(&ok);
        if (ok) return value;
    }
    return std::nullopt;
}

} // namespace

QString packetChannelCommand(const Settings& s, const ChannelSetting& c, quint32 seed)
{
    const QString channel = c.channel == u"gilbert"_s ? u"gilbert:"_s + c.lossRate + u',' + c.burstLength : c.channel;
    return u"kestrune-channel "_s + commandLinePath(s.stream) + u" gilbert.txt --channel "_s + commandLinePath(channel)
        + u" --seed "_s + QString::number(seed) + u" --packets "_s + s.packets + u" --parameter-sets "_s
        + s.parameterSets + u" --log packets.csv >chanout.txt 2>&1"_s;
}

RealisedLoss realisedLoss(const QString& droppedList, int nalUnitCount)
{
    RealisedLoss loss;
    int bursts = 0, previous = -2;
    for (const QString& number : droppedList.split(u',', Qt::SkipEmptyParts)) {
        const int k = number.toInt();
        ++loss.dropped;
        if (k != previous + 1) ++bursts;
        previous = k;
    }
    if (nalUnitCount > 0) loss.rate = 100.0 * loss.dropped / nalUnitCount;
    if (bursts > 0) loss.meanBurst = double(loss.dropped) / bursts;
    return loss;
}

RunResult executeRun(const Settings& s, const PlannedRun& planned)
{
    int exitCode = 0;
    if (!run(u"analyze.bat"_s, analyzeCommand(s.stream), u"analyze.txt"_s, &exitCode) || !QFile::exists(u"general.txt"_s))
        return failed(u"count"_s, lastLine(u"analyze.txt"_s));
    TextReader summary(u"general.txt"_s);
    const int count = readSummaryCounts(summary).total;

    const ChannelSetting setting{planned.channel, planned.lossRate, planned.burstLength};
    const bool packetChannel = needsChannelTool(s, setting);
    QFile::remove(u"gilbert.txt"_s);
    if (packetChannel) {
        if (!run(u"channel.bat"_s, packetChannelCommand(s, setting, planned.seed), u"chanout.txt"_s, &exitCode)
            || !QFile::exists(u"gilbert.txt"_s))
            return failed(u"packet channel"_s, lastLine(u"chanout.txt"_s));
    } else {
        const auto gilbert = seededGilbertCommand(count, s.stream, planned.lossRate, planned.burstLength, planned.seed);
        if (!gilbert.ok()) return failed(u"loss pattern"_s, gilbert.error);
        if (!run(u"gil.bat"_s, gilbert.command, u"gilout.txt"_s, &exitCode) || !QFile::exists(u"gilbert.txt"_s))
            return failed(u"loss pattern"_s, lastLine(u"gilout.txt"_s));
    }

    // The window's apply-loss never drops the last two NAL units; the packet
    // channel decides for every NAL unit, so its count argument covers all.
    const int applied = packetChannel ? count + 2 : count;
    const QString channel = QString::fromUtf16(kRunChannelOutput);
    if (!run(u"analyze.bat"_s, applyLossCommand(s.stream, applied, channel), u"analyze.txt"_s, &exitCode)
        || !QFile::exists(channel))
        return failed(u"apply loss"_s, lastLine(u"analyze.txt"_s));
    TextReader pattern(u"gilbert.txt"_s);
    const RealisedLoss loss = realisedLoss(droppedNalUnits(applied, [&] { return pattern.readInteger(); }), count);

    const QString scratch = QString::fromUtf16(kDecoderScratchFile);
    QFile::remove(scratch);
    if (!run(u"fbatch.bat"_s, decodeCommand(planned.pair.iItem, planned.pair.pItem, channel), u"fbatch.txt"_s, &exitCode)
        || !QFile::exists(scratch))
        return failed(u"decode"_s, lastLine(u"fbatch.txt"_s));

    const QualityMeasurement m = measureQuality({s.original, QString::number(s.width), QString::number(s.height),
                                                 QDir::current().absoluteFilePath(scratch),
                                                 QString::fromStdString(quality::frameLossPath(scratch.toStdString()))});
    if (!m.measured()) return failed(u"quality"_s, m.notMeasured);

    RunResult r;
    r.ok = true;
    r.nalUnits = count;
    r.dropped = loss.dropped;
    r.realisedLossRate = loss.rate;
    r.realisedBurstLength = loss.meanBurst;
    if (packetChannel) {
        const QString out = u"chanout.txt"_s;
        r.nominalLossRate = printedNumber(out, u"nominal loss rate: "_s).value_or(0);
        r.packets = int(printedNumber(out, u"packets: "_s).value_or(0));
        r.packetLossRate = printedNumber(out, u"realised packet loss rate: "_s).value_or(0);
        r.packetBurstLength = printedNumber(out, u"realised mean burst length: "_s).value_or(0);
    } else {
        // One NAL unit per packet: the packets are the NAL units the pattern covers.
        r.nominalLossRate = planned.lossRate.toDouble();
        r.packets = count;
        r.packetLossRate = loss.rate;
        r.packetBurstLength = loss.meanBurst;
    }
    r.frames = int(m.comparison.frames.size());
    r.framesWithLoss = m.framesWithLoss;
    r.psnrY = m.comparison.mean.psnrY;
    r.psnrU = m.comparison.mean.psnrU;
    r.psnrV = m.comparison.mean.psnrV;
    r.ssimY = m.comparison.mean.ssimY;
    return r;
}

} // namespace kestrune::experiment
