#include "main_window/nal_legend.h"

#include "runner/nal_colours.h"

#include <QPainter>

NalLegend::NalLegend(QWidget* parent) : QWidget(parent) {}

void NalLegend::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    constexpr int rows = 4;
    constexpr int swatch = 10;
    const int columnWidth = width() / 2;
    const int rowHeight = height() / rows;
    for (int i = 0; i < int(kestrune::kNalLegend.size()); ++i) {
        const auto& entry = kestrune::kNalLegend[std::size_t(i)];
        const int x = (i / rows) * columnWidth;
        const int y = (i % rows) * rowHeight;
        const QRect box(x, y + (rowHeight - swatch) / 2, swatch, swatch);
        painter.fillRect(box, QColor::fromRgb(QRgb(entry.rgb)));
        painter.setPen(Qt::black);
        painter.drawRect(box.adjusted(0, 0, -1, -1));
        painter.drawText(QRect(x + swatch + 4, y, columnWidth - swatch - 4, rowHeight),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         QString::fromUtf16(entry.caption));
    }
}
