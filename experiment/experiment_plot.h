#pragma once
// The experiment's plots: mean Y-PSNR against loss rate (or mean burst
// length), one line per concealment pair and burst length (or loss rate),
// 95 % confidence bars. One drawing routine feeds both the SVG text and the
// PNG image.
#include "runner/experiment.h"

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QString>

namespace kestrune::experiment {

class PlotCanvas {
public:
    virtual ~PlotCanvas() = default;
    virtual void line(QPointF from, QPointF to, const QColor& colour, double width) = 0;
    // dash: 0 solid, then ever sparser dash patterns.
    virtual void polyline(const QList<QPointF>& points, const QColor& colour, double width, int dash) = 0;
    // A hollow dot is a ring with a white centre.
    virtual void dot(QPointF centre, double radius, const QColor& colour, bool filled) = 0;
    // anchor: -1 left, 0 centre, 1 right of `at`; the text's baseline is at at.y().
    virtual void text(QPointF at, const QString& text, int anchor, double size, const QColor& colour) = 0;
};

inline constexpr int kPlotWidth = 900;
inline constexpr int kPlotHeight = 560;

struct PlotText {
    QString title;
    QString xLabel;   // "channel loss rate (%)"
    QString note;     // under the title, e.g. that the experiment is partial; may be empty
};

void drawPlot(PlotCanvas& canvas, const QList<PlotSeries>& series, const PlotText& text);

QString plotSvg(const QList<PlotSeries>& series, const PlotText& text);
// Needs a QGuiApplication (fonts).
QImage plotImage(const QList<PlotSeries>& series, const PlotText& text);

} // namespace kestrune::experiment
