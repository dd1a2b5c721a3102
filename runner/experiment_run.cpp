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

RunResult executeRun(const Settings& s, const PlannedRun& planned)
{
    int exitCode = 0;
    if (!run(u"analyze.bat"_s, analyzeCommand(s.stream), u"analyze.txt"_s, &exitCode) || !QFile::exists(u"general.txt"_s))
        return failed(u"count"_s, lastLine(u"analyze.txt"_s));
    TextReader summary(u"general.txt"_s);
    const int count = readSummaryCounts(summary).total;

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
    r.frames = int(m.comparison.frames.size());
    r.framesWithLoss = m.framesWithLoss;
    r.psnrY = m.comparison.mean.psnrY;
    r.psnrU = m.comparison.mean.psnrU;
    r.psnrV = m.comparison.mean.psnrV;
    r.ssimY = m.comparison.mean.ssimY;
    return r;
}

} // namespace kestrune::experiment
