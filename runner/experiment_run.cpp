#include "runner/experiment_run.h"

#include "runner/analyzer_interface.h"
#include "runner/channel_command.h"
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

} // namespace

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

    const auto gilbert = seededGilbertCommand(count, s.stream, planned.lossRate, planned.burstLength, planned.seed);
    if (!gilbert.ok()) return failed(u"loss pattern"_s, gilbert.error);
    QFile::remove(u"gilbert.txt"_s);
    if (!run(u"gil.bat"_s, gilbert.command, u"gilout.txt"_s, &exitCode) || !QFile::exists(u"gilbert.txt"_s))
        return failed(u"loss pattern"_s, lastLine(u"gilout.txt"_s));

    const QString channel = QString::fromUtf16(kRunChannelOutput);
    if (!run(u"analyze.bat"_s, applyLossCommand(s.stream, count, channel), u"analyze.txt"_s, &exitCode)
        || !QFile::exists(channel))
        return failed(u"apply loss"_s, lastLine(u"analyze.txt"_s));
    TextReader pattern(u"gilbert.txt"_s);
    const RealisedLoss loss = realisedLoss(droppedNalUnits(count, [&] { return pattern.readInteger(); }), count);

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
    r.frames = int(m.comparison.frames.size());
    r.framesWithLoss = m.framesWithLoss;
    r.psnrY = m.comparison.mean.psnrY;
    r.psnrU = m.comparison.mean.psnrU;
    r.psnrV = m.comparison.mean.psnrV;
    r.ssimY = m.comparison.mean.ssimY;
    return r;
}

} // namespace kestrune::experiment
