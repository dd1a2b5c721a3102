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
#include <QFileInfo>
#include <optional>

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

// Whether the decoder's report holds this text.
bool reportSays(const QString& capture, const char* text)
{
    QFile file(capture);
    return file.open(QIODevice::ReadOnly) && file.readAll().contains(text);
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

// The stream's summary counts from the analyzer, or nothing.
std::optional<SummaryCounts> analyzeStream(const QString& stream)
{
    int exitCode = 0;
    QFile::remove(u"general.txt"_s);
    if (!run(u"analyze.bat"_s, analyzeCommand(stream), u"analyze.txt"_s, &exitCode) || !QFile::exists(u"general.txt"_s))
        return std::nullopt;
    TextReader summary(u"general.txt"_s);
    return readSummaryCounts(summary);
}

// Why a file cannot serve as an input, or the empty text.
QString unreadable(const QString& what, const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists()) return what + u" "_s + path + u" is missing"_s;
    if (!info.isFile()) return what + u" "_s + path + u" is not a file"_s;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return what + u" "_s + path + u" cannot be read: "_s + file.errorString();
    if (info.size() == 0) return what + u" "_s + path + u" is empty"_s;
    return {};
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

InputCheck checkInputs(const Settings& s)
{
    InputCheck check;
    auto problem = [&](const QString& text) {
        check.error = text;
        return check;
    };
    if (const QString why = unreadable(u"the encoded stream"_s, s.stream); !why.isEmpty()) return problem(why);
    if (const QString why = unreadable(u"the original"_s, s.original); !why.isEmpty()) return problem(why);
    const qint64 frameBytes = qint64(s.width) * s.height * 3 / 2;
    const qint64 originalBytes = QFileInfo(s.original).size();
    if (originalBytes % frameBytes != 0)
        return problem(u"the original %1 (%2 bytes) is not a whole number of %3x%4 frames of %5 bytes: is the picture "
                       u"size right?"_s.arg(s.original).arg(originalBytes).arg(s.width).arg(s.height).arg(frameBytes));
    check.originalFrames = int(originalBytes / frameBytes);

    const auto counts = analyzeStream(s.stream);
    if (!counts) return problem(u"the encoded stream could not be analysed: "_s + lastLine(u"analyze.txt"_s));
    if (counts->total <= 0 || counts->iSlices + counts->pSlices + counts->bSlices <= 0)
        return problem(u"the encoded stream "_s + s.stream + u" is not an H.264 stream (no slices found)"_s);
    check.nalUnits = counts->total;

    // Decoded without loss, the stream shows its picture size and frame count.
    const QString scratch = QString::fromUtf16(kDecoderScratchFile);
    const QString lossFile = QString::fromStdString(quality::frameLossPath(scratch.toStdString()));
    QFile::remove(scratch);
    QFile::remove(lossFile);
    int exitCode = 0;
    if (!run(u"fbatch.bat"_s, decodeCommand(0, 0, s.stream), u"fbatch.txt"_s, &exitCode) || !QFile::exists(scratch))
        return problem(u"the encoded stream does not decode: "_s + lastLine(u"fbatch.txt"_s));
    QFile file(lossFile);
    const auto loss = file.open(QIODevice::ReadOnly) ? quality::parseFrameLoss(file.readAll().toStdString())
                                                     : std::nullopt;
    if (!loss) return problem(u"the decoder wrote no picture size for the encoded stream"_s);
    if (loss->width != s.width || loss->height != s.height)
        return problem(u"the encoded stream's pictures are %1x%2, the original's %3x%4"_s.arg(loss->width)
                           .arg(loss->height)
                           .arg(s.width)
                           .arg(s.height));
    check.streamFrames = int(loss->frames.size());
    if (check.originalFrames < check.streamFrames)
        return problem(u"the original holds %1 frames, the encoded stream %2: it must hold every frame of the stream"_s
                           .arg(check.originalFrames)
                           .arg(check.streamFrames));
    // The reference every run's frames are scored against.
    const QualityMeasurement lossless = measureQuality({s.original, QString::number(s.width),
                                                        QString::number(s.height),
                                                        QDir::current().absoluteFilePath(scratch), lossFile});
    if (!lossless.measured()) return problem(u"the encoded stream decoded without loss: "_s + lossless.notMeasured);
    check.losslessScores = opinionScoreDigits(lossless.comparison.frames);
    return check;
}

RunResult executeRun(const Settings& s, const PlannedRun& planned)
{
    int exitCode = 0;
    int count = s.nalUnits;
    if (count <= 0) {
        const auto counts = analyzeStream(s.stream);
        if (!counts) return failed(u"count"_s, lastLine(u"analyze.txt"_s));
        count = counts->total;
    }

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
    if (!run(u"fbatch.bat"_s, decodeCommand(planned.pair.iItem, planned.pair.pItem, channel, s.stream), u"fbatch.txt"_s, &exitCode)
        || !QFile::exists(scratch))
        return failed(u"decode"_s, lastLine(u"fbatch.txt"_s));

    const QualityMeasurement m = measureQuality({s.original, QString::number(s.width), QString::number(s.height),
                                                 QDir::current().absoluteFilePath(scratch),
                                                 QString::fromStdString(quality::frameLossPath(scratch.toStdString()))});
    if (!m.measured()) return failed(u"quality"_s, m.notMeasured);
    if (m.comparison.framesInFirst < m.comparison.framesInSecond)
        return failed(u"quality"_s, u"the original holds %1 frames, the decoded video %2"_s
                                        .arg(m.comparison.framesInFirst)
                                        .arg(m.comparison.framesInSecond));

    RunResult r;
    r.ok = true;
    // Placed from the sent stream, the decoder writes one frame per coded
    // picture: fewer frames than the original means a shorter stream.
    const bool fromSent = reportSays(u"fbatch.txt"_s, "placement: from the sent stream");
    r.frameCountDiffers = fromSent ? m.comparison.framesInSecond > m.comparison.framesInFirst
                                   : m.comparison.framesInSecond != m.comparison.framesInFirst;
    r.placementGuessed = reportSays(u"fbatch.txt"_s, "at a guessed place");
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
    const OpinionScores scores = opinionScores(m.comparison.frames, s.losslessScores);
    r.mos = scores.mean;
    r.mosBelowLossless = scores.belowReference;
    return r;
}

} // namespace kestrune::experiment
