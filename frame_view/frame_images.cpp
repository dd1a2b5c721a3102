#include "frame_view/frame_images.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;
namespace q = kestrune::quality;

namespace kestrune::frameview {

namespace {

std::uint8_t clip(int v) { return std::uint8_t(std::clamp(v, 0, 255)); }

} // namespace

QImage frameImage(const QByteArray& yuv, FrameSize size)
{
    QImage image(size.width, size.height, QImage::Format_RGB32);
    if (yuv.size() < size.frameBytes()) {
        image.fill(Qt::black);
        return image;
    }
    const auto* y = reinterpret_cast<const std::uint8_t*>(yuv.constData());
    const auto* u = y + size.lumaBytes();
    const auto* v = u + size.chromaBytes();
    const int chromaWidth = (size.width + 1) / 2;
    for (int row = 0; row < size.height; ++row) {
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(row));
        for (int col = 0; col < size.width; ++col) {
            const int c = 298 * (y[row * size.width + col] - 16);
            const int ci = (row / 2) * chromaWidth + col / 2;
            const int d = u[ci] - 128, e = v[ci] - 128;
            out[col] = qRgb(clip((c + 409 * e + 128) >> 8), clip((c - 100 * d - 208 * e + 128) >> 8),
                            clip((c + 516 * d + 128) >> 8));
        }
    }
    return image;
}

QImage differenceImage(const QByteArray& a, const QByteArray& b, FrameSize size, int gain)
{
    QImage image(size.width, size.height, QImage::Format_Grayscale8);
    image.fill(0);
    if (a.size() < size.lumaBytes() || b.size() < size.lumaBytes()) return image;
    const auto* pa = reinterpret_cast<const std::uint8_t*>(a.constData());
    const auto* pb = reinterpret_cast<const std::uint8_t*>(b.constData());
    for (int row = 0; row < size.height; ++row) {
        std::uint8_t* out = image.scanLine(row);
        for (int col = 0; col < size.width; ++col) {
            const int i = row * size.width + col;
            out[col] = clip(std::abs(int(pa[i]) - int(pb[i])) * gain);
        }
    }
    return image;
}

QImage differenceScale(int gain, int width)
{
    const int rampHeight = 10, textHeight = 16;
    QImage image(width, rampHeight + textHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int x = 0; x < width; ++x) {
        const int grey = width > 1 ? x * 255 / (width - 1) : 0;
        for (int y = 0; y < rampHeight; ++y) image.setPixel(x, y, qRgb(grey, grey, grey));
    }
    QPainter painter(&image);
    painter.setPen(Qt::black);
    const QRect text(0, rampHeight, width, textHeight);
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, u"0"_s);
    painter.drawText(text, Qt::AlignHCenter | Qt::AlignVCenter, u"|Y difference| x%1"_s.arg(gain));
    painter.drawText(text, Qt::AlignRight | Qt::AlignVCenter, u"%1+"_s.arg((255 + gain - 1) / gain));
    return image;
}

std::vector<bool> markedMacroblocks(const q::FrameLossEntry& entry, Overlay overlay)
{
    std::vector<bool> marked(entry.macroblocks.size(), false);
    for (std::size_t i = 0; i < marked.size(); ++i) {
        const char code = entry.macroblocks[i];
        switch (overlay) {
            case LostOverlay: marked[i] = code != q::kMbDecoded && code != q::kMbFromDamage; break;
            case ConcealedOverlay: marked[i] = *q::concealmentOfCode(code) != '\0'; break;
            case FromDamageOverlay: marked[i] = code == q::kMbFromDamage; break;
            case SliceGroupOverlay: break;
        }
    }
    return marked;
}

QColor concealmentColour(char code)
{
    switch (code) {
        case q::kMbAverageDc: return QColor(255, 140, 0);
        case q::kMbAverageMacroblock: return QColor(255, 220, 0);
        case q::kMbBilinear: return QColor(0, 200, 255);
        case q::kMbBoundaryMatching: return QColor(40, 220, 60);
        case q::kMbRepeated: return QColor(220, 0, 220);
        default: return QColor(128, 128, 128);
    }
}

QColor sliceGroupColour(int group)
{
    static const QColor colours[] = {QColor(31, 119, 180), QColor(214, 39, 40), QColor(44, 160, 44),
                                     QColor(255, 127, 14), QColor(148, 103, 189), QColor(140, 86, 75),
                                     QColor(227, 119, 194), QColor(23, 190, 207)};
    return colours[std::size_t(group) % std::size(colours)];
}

void paintOverlays(QImage& image, const q::FrameLossEntry& entry, int mbWidth, unsigned overlays, double scale)
{
    if (entry.macroblocks.empty() || mbWidth <= 0) return;
    QPainter painter(&image);
    const auto cell = [&](std::size_t i) {
        const int x = int(i % std::size_t(mbWidth)), y = int(i / std::size_t(mbWidth));
        const int left = int(std::lround(x * 16 * scale)), top = int(std::lround(y * 16 * scale));
        return QRect(left, top, int(std::lround((x + 1) * 16 * scale)) - left,
                     int(std::lround((y + 1) * 16 * scale)) - top);
    };
    const std::size_t count = entry.macroblocks.size();
    if ((overlays & SliceGroupOverlay) && entry.sliceGroups.size() == count)
        for (std::size_t i = 0; i < count; ++i) {
            QColor tint = sliceGroupColour(entry.sliceGroups[i] - '0');
            tint.setAlpha(90);
            painter.fillRect(cell(i), tint);
        }
    if (overlays & FromDamageOverlay) {
        const std::vector<bool> marked = markedMacroblocks(entry, FromDamageOverlay);
        for (std::size_t i = 0; i < count; ++i)
            if (marked[i]) painter.fillRect(cell(i), QBrush(QColor(40, 90, 255), Qt::BDiagPattern));
    }
    if (overlays & ConcealedOverlay) {
        const std::vector<bool> marked = markedMacroblocks(entry, ConcealedOverlay);
        for (std::size_t i = 0; i < count; ++i)
            if (marked[i]) {
                QColor fill = concealmentColour(entry.macroblocks[i]);
                fill.setAlpha(110);
                painter.fillRect(cell(i), fill);
            }
    }
    if (overlays & LostOverlay) {
        const std::vector<bool> marked = markedMacroblocks(entry, LostOverlay);
        const int pen = std::max(1, int(std::lround(scale)));
        const QColor red(255, 0, 0);
        // An outline inside each macroblock: neighbouring marks never overlap.
        for (std::size_t i = 0; i < count; ++i)
            if (marked[i]) {
                const QRect r = cell(i);
                painter.fillRect(r.left(), r.top(), r.width(), pen, red);
                painter.fillRect(r.left(), r.bottom() - pen + 1, r.width(), pen, red);
                painter.fillRect(r.left(), r.top(), pen, r.height(), red);
                painter.fillRect(r.right() - pen + 1, r.top(), pen, r.height(), red);
            }
    }
}

QImage zoomed(const QImage& image, double zoom)
{
    if (zoom == 1.0) return image;
    const int w = std::max(1, int(std::lround(image.width() * zoom)));
    const int h = std::max(1, int(std::lround(image.height() * zoom)));
    return image.scaled(w, h, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

QImage sideBySide(const std::vector<Panel>& panels)
{
    const int gap = 8, titleHeight = 20;
    int width = gap, height = 0;
    for (const Panel& p : panels) {
        width += p.image.width() + gap;
        height = std::max(height, p.image.height());
    }
    QImage image(width, titleHeight + height + gap, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setPen(Qt::black);
    int x = gap;
    for (const Panel& p : panels) {
        painter.drawText(QRect(x, 0, p.image.width(), titleHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         QFontMetrics(painter.font()).elidedText(p.title, Qt::ElideMiddle, p.image.width()));
        painter.drawImage(x, titleHeight, p.image);
        x += p.image.width() + gap;
    }
    return image;
}

} // namespace kestrune::frameview
