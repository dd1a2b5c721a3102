#include "frame_view/viewed_decode.h"

#include "runner/quality_report.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <span>

using namespace Qt::StringLiterals;
namespace q = kestrune::quality;

namespace kestrune::frameview {

namespace {

QString sizeText(FrameSize s) { return u"%1x%2"_s.arg(s.width).arg(s.height); }

} // namespace

bool ViewedDecode::open(const QString& path, FrameSize fallback)
{
    lossMap_.reset();
    psnrY_.clear();
    error_.clear();
    notes_.clear();
    const QString lossPath = QString::fromStdString(q::frameLossPath(path.toStdString()));
    QFile lossFile(lossPath);
    if (!lossFile.exists()) {
        notes_ << u"No loss map beside %1 (%2): the overlays are off. A decode made with Decode keeps one."_s.arg(
            QFileInfo(path).fileName(), QFileInfo(lossPath).fileName());
    } else if (!lossFile.open(QIODevice::ReadOnly)
               || !(lossMap_ = q::parseFrameLoss(lossFile.readAll().toStdString()))) {
        notes_ << u"The loss map %1 cannot be read: the overlays are off."_s.arg(lossPath);
    }
    FrameSize size = fallback;
    if (lossMap_) size = {lossMap_->width, lossMap_->height};
    if (!size.valid()) {
        error_ = u"The picture size of %1 is not known: it has no loss map beside it, and no original size was given "
                 u"(put WIDTHxHEIGHT in the original's name)."_s.arg(path);
        return false;
    }
    frames_ = std::make_unique<YuvFrameFile>();
    if (!frames_->open(path, size)) {
        error_ = u"The decode cannot be shown: "_s + frames_->error() + u'.';
        return false;
    }
    if (frames_->trailingBytes() > 0)
        notes_ << u"%1 ends with %2 bytes that are not a whole %3 frame; they are not shown."_s.arg(name())
                      .arg(frames_->trailingBytes()).arg(sizeText(size));
    if (lossMap_ && qint64(lossMap_->frames.size()) != frames_->frames())
        notes_ << u"The loss map describes %1 frames, the decode holds %2: it may belong to an earlier decode."_s
                      .arg(lossMap_->frames.size()).arg(frames_->frames());
    QFile csv(qualityCsvPath(path));
    if (csv.open(QIODevice::ReadOnly)) psnrY_ = psnrYFromCsv(QString::fromUtf8(csv.readAll()));
    return true;
}

const q::FrameLossEntry* ViewedDecode::loss(qint64 frame) const
{
    if (!lossMap_ || frame < 0 || frame >= qint64(lossMap_->frames.size())) return nullptr;
    return &lossMap_->frames[std::size_t(frame)];
}

QString ViewedDecode::name() const { return QFileInfo(frames_->path()).fileName(); }

QString sizeMismatch(const QString& referenceName, FrameSize reference, const QString& otherName, FrameSize other)
{
    if (reference == other) return {};
    return u"%1 holds %2 pictures but %3 holds %4 pictures: they cannot be shown side by side. Give the original's "
           u"size (Input Width/Height, or WIDTHxHEIGHT in its name) or pick a decode of the same stream."_s
        .arg(otherName, sizeText(other), referenceName, sizeText(reference));
}

qint64 nextFrameWithLoss(const ViewedDecode& decode, qint64 from)
{
    for (qint64 f = from + 1; f < decode.frames().frames(); ++f)
        if (const q::FrameLossEntry* e = decode.loss(f); e && e->lost > 0) return f;
    return -1;
}

std::vector<double> psnrYFromCsv(const QString& text)
{
    const QStringList lines = text.split(u"\r\n"_s, Qt::SkipEmptyParts);
    if (lines.isEmpty() || !lines[0].startsWith(u"frame,psnr_y,"_s)) return {};
    std::vector<double> values;
    for (const QString& line : lines.mid(1)) {
        bool ok = false;
        const double v = line.section(u',', 1, 1).toDouble(&ok);
        if (!ok) return {};
        values.push_back(v);
    }
    return values;
}

q::FrameQuality frameQuality(const QByteArray& original, const QByteArray& decoded, FrameSize size)
{
    const auto bytes = [](const QByteArray& a) {
        return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(a.constData()), std::size_t(a.size()));
    };
    return q::compareFrame(bytes(original), bytes(decoded), {size.width, size.height});
}

QString readout(qint64 frame, qint64 frames, const q::FrameLossEntry* loss, const q::FrameQuality* quality)
{
    QString text = u"Frame %1 of %2"_s.arg(frame).arg(frames);
    if (loss && loss->type)
        text += loss->type == q::kMbRepeated ? u": picture lost, previous frame repeated"_s
                                             : u": %1 picture"_s.arg(QChar::fromLatin1(loss->type));
    if (quality)
        text += u", PSNR Y %1 U %2 V %3 dB, SSIM %4"_s.arg(quality->psnrY, 0, 'f', 2).arg(quality->psnrU, 0, 'f', 2)
                    .arg(quality->psnrV, 0, 'f', 2).arg(quality->ssimY, 0, 'f', 4);
    if (!loss) return text + u", loss unknown"_s;
    text += u", %1 macroblocks lost, %2 concealed"_s.arg(loss->lost).arg(loss->concealed);
    const auto concealed = std::find_if(loss->macroblocks.begin(), loss->macroblocks.end(),
                                        [](char c) { return *q::concealmentOfCode(c) != '\0'; });
    if (concealed != loss->macroblocks.end()) text += u" (%1)"_s.arg(QString::fromLatin1(q::concealmentOfCode(*concealed)));
    const auto fromDamage = std::count(loss->macroblocks.begin(), loss->macroblocks.end(), q::kMbFromDamage);
    if (fromDamage > 0) text += u", %1 predicted from damage"_s.arg(fromDamage);
    return text;
}

QString seriesPath(const QString& chosen, qint64 frame, qint64 lastFrame)
{
    const QFileInfo info(chosen);
    const QString base = info.suffix().compare(u"png"_s, Qt::CaseInsensitive) == 0
                             ? info.dir().filePath(info.completeBaseName())
                             : chosen;
    const int digits = std::max<int>(4, int(QString::number(lastFrame).size()));
    return u"%1_%2.png"_s.arg(base).arg(frame, digits, 10, QChar(u'0'));
}

SeriesResult exportSeries(const QString& chosen, qint64 from, qint64 to, const std::function<QImage(qint64)>& render,
                          const std::function<bool(qint64, qint64)>& progress)
{
    SeriesResult result;
    for (qint64 frame = from; frame <= to; ++frame) {
        const QString path = seriesPath(chosen, frame, to);
        const QImage image = render(frame);
        if (image.isNull() || !image.save(path, "PNG")) {
            result.error = u"Frame %1 could not be written to %2."_s.arg(frame).arg(path);
            return result;
        }
        result.written << path;
        if (progress && !progress(frame - from + 1, to - from + 1)) break;
    }
    return result;
}

} // namespace kestrune::frameview
