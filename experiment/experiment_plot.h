#pragma once
// The experiment's plot: mean Y-PSNR against loss rate, one line per
// concealment pair, 95 % confidence bars. One drawing routine feeds both the
// SVG text and the PNG image.
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
    virtual void polyline(const QList<QPointF>& points, const QColor& colour, double width) = 0;
    virtual void dot(QPointF centre, double radius, const QColor& colour) = 0;
    // anchor: -1 left, 0 centre, 1 right of `at`; the text's baseline is at at.y().
    virtual void text(QPointF at, const QString& text, int anchor, double size, const QColor& colour) = 0;
};

inline constexpr int kPlotWidth = 900;
inline constexpr int kPlotHeight = 560;

void drawPlot(PlotCanvas& canvas, const QList<PlotSeries>& series, const QString& title);

QString plotSvg(const QList<PlotSeries>& series, const QString& title);
// Needs a QGuiApplication (fonts).
QImage plotImage(const QList<PlotSeries>& series, const QString& title);

} // namespace kestrune::experiment
