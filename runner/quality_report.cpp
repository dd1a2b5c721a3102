#include "runner/quality_report.h"

#include "runner/conventions.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <exception>

using namespace Qt::StringLiterals;

namespace kestrune {
namespace {

std::optional<quality::FrameLossFile> readFrameLoss(const QString& path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) return std::nullopt;
    return quality::parseFrameLoss(file.readAll().toStdString());
}

QString sizeText(PictureSize s) { return QString::number(s.width) + u'x' + QString::number(s.height); }

QString decibels(double value) { return QString::number(value, 'f', 2) + u" dB"_s; }

} // namespace

std::optional<PictureSize> pictureSizeFromName(const QString& path)
{
    static const QRegularExpression pattern(u"(\\d{1,5})x(\\d{1,5})"_s);
    std::optional<PictureSize> found;
    auto matches = pattern.globalMatch(QFileInfo(path).fileName());
    while (matches.hasNext()) {
        const auto match = matches.next();
        const PictureSize size{match.captured(1).toInt(), match.captured(2).toInt()};
        if (size.width > 0 && size.height > 0) found = size;
    }
    return found;
}

std::optional<PictureSize> originalPictureSize(const QString& path, const QString& widthText, const QString& heightText)
{
    if (IsInteger(widthText) && IsInteger(heightText)) {
        const PictureSize size{StrToInt(widthText), StrToInt(heightText)};
        if (size.width > 0 && size.height > 0) return size;
    }
    return pictureSizeFromName(path);
}

QualityMeasurement measureQuality(const QualityRequest& request)
{
    QualityMeasurement m;
    if (request.originalPath.isEmpty()) {
        m.notMeasured = u"No quality measured: no Input YUV File is given to compare with."_s;
        return m;
    }
    if (!QFileInfo(request.originalPath).isFile()) {
        m.notMeasured = u"No quality measured: the original ("_s + request.originalPath + u") was not found."_s;
        return m;
    }
    const auto originalSize = originalPictureSize(request.originalPath, request.widthText, request.heightText);
    if (!originalSize) {
        m.notMeasured = u"No quality measured: the picture size of the original is unknown "
                        u"(give Input Width and Height, or WIDTHxHEIGHT in its name)."_s;
        return m;
    }
    m.size = *originalSize;
    const quality::FrameLayout layout{m.size.width, m.size.height};
    const auto loss = readFrameLoss(request.frameLossPath);
    if (loss) {
        const PictureSize decodedSize{loss->width, loss->height};
        if (decodedSize != m.size) {
            m.notMeasured = u"No quality measured: the original is "_s + sizeText(m.size) + u", the decoded video "_s
                + sizeText(decodedSize) + u'.';
            return m;
        }
    } else if (QFileInfo(request.decodedPath).size() % qint64(layout.frameSize()) != 0) {
        m.notMeasured = u"No quality measured: the decoded video does not hold whole "_s + sizeText(m.size)
            + u" frames."_s;
        return m;
    }
    try {
        m.comparison = quality::compareFiles(request.originalPath.toStdString(), request.decodedPath.toStdString(), layout);
    } catch (const std::exception& e) {
        m.notMeasured = u"No quality measured: "_s + QString::fromStdString(e.what()) + u'.';
        return m;
    }
    if (m.comparison.frames.empty()) {
        m.notMeasured = u"No quality measured: no frame to compare."_s;
        return m;
    }
    const auto& frames = m.comparison.frames;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].psnrY < frames[std::size_t(m.worstFrame)].psnrY) m.worstFrame = int(i);
        if (frames[i].psnrY >= quality::kIdenticalPsnr) ++m.identicalFrames;
    }
    if (loss) {
        m.framesWithLoss = 0;
        for (std::size_t i = 0; i < frames.size() && i < loss->frames.size(); ++i) {
            m.frameLoss.push_back(loss->frames[i]);
            if (loss->frames[i].lost > 0) ++m.framesWithLoss;
        }
    }
    return m;
}

int opinionScore(double psnrY)
{
    if (psnrY > 37) return 5;
    if (psnrY >= 31) return 4;
    if (psnrY >= 25) return 3;
    if (psnrY >= 20) return 2;
    return 1;
}

QString opinionScoreDigits(const std::vector<quality::FrameQuality>& frames)
{
    QString digits;
    digits.reserve(qsizetype(frames.size()));
    for (const auto& f : frames) digits += QChar(u'0' + opinionScore(f.psnrY));
    return digits;
}

OpinionScores opinionScores(const std::vector<quality::FrameQuality>& frames, const QString& referenceDigits)
{
    OpinionScores s;
    if (frames.empty()) return s;
    int sum = 0, below = 0;
    const std::size_t compared = std::min(frames.size(), std::size_t(referenceDigits.size()));
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const int score = opinionScore(frames[i].psnrY);
        sum += score;
        if (i < compared && score < referenceDigits[qsizetype(i)].digitValue()) ++below;
    }
    s.mean = double(sum) / double(frames.size());
    if (compared > 0) s.belowReference = double(below) / double(compared);
    return s;
}

QStringList qualityLogLines(const QualityMeasurement& m, const QString& originalPath, const QString& csvPath)
{
    if (!m.measured()) return {m.notMeasured};
    const auto& c = m.comparison;
    const auto& worst = c.frames[std::size_t(m.worstFrame)];
    QStringList lines;
    lines << u"Quality against the original "_s + originalPath + u" ("_s + sizeText(m.size) + u", "_s
                 + QString::number(c.frames.size()) + u" frames compared):"_s;
    if (c.framesInFirst != c.framesInSecond)
        lines << u"  The original has "_s + QString::number(c.framesInFirst) + u" frames, the decoded video "_s
                     + QString::number(c.framesInSecond) + u"; only the first "_s + QString::number(c.frames.size())
                     + u" are compared."_s;
    lines << u"  Mean PSNR Y "_s + decibels(c.mean.psnrY) + u", U "_s + decibels(c.mean.psnrU) + u", V "_s
                 + decibels(c.mean.psnrV) + u"; mean SSIM Y "_s + QString::number(c.mean.ssimY, 'f', 4);
    // The reference decode without loss is not at hand here: the window does
    // not know which stream the decoded input was damaged from.
    lines << u"  Mean opinion score "_s + QString::number(opinionScores(c.frames).mean, 'f', 2)
                 + u" (1..5, each frame's from its Y-PSNR: above 37 dB 5, from 31 dB 4, from 25 dB 3, from 20 dB 2, "
                   u"else 1)"_s;
    lines << u"  Worst frame: "_s + QString::number(m.worstFrame) + u" (Y-PSNR "_s + decibels(worst.psnrY) + u')';
    lines << (m.framesWithLoss < 0 ? u"  Frames with lost macroblocks: unknown (the decoder wrote no loss file)"_s
                                   : u"  Frames with lost macroblocks: "_s + QString::number(m.framesWithLoss));
    lines << u"  Identical planes count as "_s + decibels(quality::kIdenticalPsnr)
                 + u" (PSNR capped) in the means, which are plain averages over the frames; frames identical in Y: "_s
                 + QString::number(m.identicalFrames);
    lines << u"  Per-frame values: "_s + csvPath;
    return lines;
}

QString qualityCsv(const QualityMeasurement& m)
{
    QString text = u"frame,psnr_y,psnr_u,psnr_v,ssim_y,lost_macroblocks,concealed_macroblocks\r\n"_s;
    const auto& frames = m.comparison.frames;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const auto& f = frames[i];
        text += QString::number(i) + u',' + QString::number(f.psnrY, 'f', 4) + u',' + QString::number(f.psnrU, 'f', 4)
            + u',' + QString::number(f.psnrV, 'f', 4) + u',' + QString::number(f.ssimY, 'f', 6) + u',';
        if (i < m.frameLoss.size())
            text += QString::number(m.frameLoss[i].lost) + u',' + QString::number(m.frameLoss[i].concealed);
        else
            text += u',';
        text += u"\r\n"_s;
    }
    return text;
}

QString qualityCsvPath(const QString& decodedPath)
{
    const QFileInfo info(decodedPath);
    const QString suffix = info.suffix();
    if (suffix.isEmpty() || info.fileName() == u'.' + suffix) return decodedPath + u".csv"_s;
    return decodedPath.left(decodedPath.size() - suffix.size()) + u"csv"_s;
}

} // namespace kestrune
