#include "experiment/experiment_plot.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace kestrune::experiment {
namespace {

// One colour per concealment pair (there are eight), told apart in print too.
const QColor kColours[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c),
                           QColor(0xff, 0x7f, 0x0e), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
                           QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf)};
// Line styles per burst length (or loss rate), as dash and gap lengths.
const QList<QList<double>> kDashes = {{}, {8, 4}, {2, 3}, {10, 3, 2, 3}, {4, 4}, {12, 6}};

const QList<double>& dashPattern(int dash) { return kDashes[dash % kDashes.size()]; }

// Roughly the width of text at a pixel size, for layout without a font.
double textWidth(const QString& text, double size) { return 0.56 * size * double(text.size()); }

// The text shortened in the middle to fit a width.
QString elided(const QString& text, double size, double width)
{
    if (textWidth(text, size) <= width) return text;
    const qsizetype keep = std::max<qsizetype>(4, qsizetype(width / (0.56 * size)) - 1);
    return text.left(keep / 2) + QChar(0x2026) + text.right(keep - keep / 2);
}

// A step of 1, 2 or 5 times a power of ten giving about `ticks` intervals.
double niceStep(double span, int ticks)
{
    const double raw = span / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw) return m * power;
    return 10 * power;
}

QString tickText(double value, double step)
{
    const int decimals = step >= 1 ? 0 : int(std::ceil(-std::log10(step)));
    return QString::number(value, 'f', decimals);
}

QString svgEscape(QString text)
{
    return text.replace(u'&', u"&amp;"_s).replace(u'<', u"&lt;"_s).replace(u'>', u"&gt;"_s).replace(u'"', u"&quot;"_s);
}

class SvgCanvas : public PlotCanvas {
public:
    QString body;
    void line(QPointF a, QPointF b, const QColor& c, double w) override
    {
        body += u"<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%4\" stroke=\"%5\" stroke-width=\"%6\"/>\n"_s.arg(a.x())
                    .arg(a.y())
                    .arg(b.x())
                    .arg(b.y())
                    .arg(c.name())
                    .arg(w);
    }
    void polyline(const QList<QPointF>& points, const QColor& c, double w, int dash) override
    {
        QStringList xy, pattern;
        for (const QPointF& p : points) xy << QString::number(p.x()) + u',' + QString::number(p.y());
        for (double d : dashPattern(dash)) pattern << QString::number(d);
        const QString dashes = pattern.isEmpty() ? QString() : u" stroke-dasharray=\""_s + pattern.join(u',') + u'"';
        body += u"<polyline points=\"%1\" fill=\"none\" stroke=\"%2\" stroke-width=\"%3\"%4/>\n"_s
                    .arg(xy.join(u' '), c.name())
                    .arg(w)
                    .arg(dashes);
    }
    void dot(QPointF p, double r, const QColor& c, bool filled) override
    {
        const QString fill = filled ? c.name() : u"#ffffff"_s;
        body += u"<circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"%4\" stroke=\"%5\" stroke-width=\"1.5\"/>\n"_s.arg(p.x())
                    .arg(p.y())
                    .arg(r)
                    .arg(fill, c.name());
    }
    void text(QPointF at, const QString& t, int anchor, double size, const QColor& c) override
    {
        const QString a = anchor < 0 ? u"start"_s : anchor > 0 ? u"end"_s : u"middle"_s;
        body += u"<text x=\"%1\" y=\"%2\" text-anchor=\"%3\" font-family=\"sans-serif\" font-size=\"%4\" "
                u"fill=\"%5\">%6</text>\n"_s.arg(at.x())
                    .arg(at.y())
                    .arg(a)
                    .arg(size)
                    .arg(c.name(), svgEscape(t));
    }
};

class PainterCanvas : public PlotCanvas {
public:
    explicit PainterCanvas(QPainter& p) : p_(p) {}
    void line(QPointF a, QPointF b, const QColor& c, double w) override
    {
        p_.setPen(QPen(c, w));
        p_.drawLine(a, b);
    }
    void polyline(const QList<QPointF>& points, const QColor& c, double w, int dash) override
    {
        QPen pen(c, w);
        if (!dashPattern(dash).isEmpty()) {
            QList<qreal> pattern;
            for (double d : dashPattern(dash)) pattern << d / w; // QPen counts in pen widths
            pen.setDashPattern(pattern);
        }
        p_.setPen(pen);
        p_.setBrush(Qt::NoBrush);
        p_.drawPolyline(points.data(), int(points.size()));
    }
    void dot(QPointF centre, double r, const QColor& c, bool filled) override
    {
        p_.setPen(QPen(c, 1.5));
        p_.setBrush(filled ? c : QColor(Qt::white));
        p_.drawEllipse(centre, r, r);
    }
    void text(QPointF at, const QString& t, int anchor, double size, const QColor& c) override
    {
        QFont font(u"DejaVu Sans"_s);
        font.setPixelSize(int(size));
        p_.setFont(font);
        p_.setPen(c);
        const double width = QFontMetricsF(font).horizontalAdvance(t);
        const double x = anchor < 0 ? at.x() : anchor > 0 ? at.x() - width : at.x() - width / 2;
        p_.drawText(QPointF(x, at.y()), t);
    }

private:
    QPainter& p_;
};

} // namespace

void drawPlot(PlotCanvas& canvas, const QList<PlotSeries>& series, const PlotText& text)
{
    const QColor ink(0x22, 0x22, 0x22), grid(0xdd, 0xdd, 0xdd), muted(0x66, 0x66, 0x66);
    const double left = 80, right = kPlotWidth - 250, top = 80, bottom = kPlotHeight - 70;
    double xMin = 1e300, xMax = -1e300, yMin = 1e300, yMax = -1e300;
    QList<double> xs;
    bool fewer = false;
    for (const PlotSeries& s : series)
        for (const PlotPoint& p : s.points) {
            xMin = std::min(xMin, p.x), xMax = std::max(xMax, p.x);
            yMin = std::min(yMin, p.low), yMax = std::max(yMax, p.high);
            xs << p.x;
            fewer = fewer || p.runs < p.asked;
        }
    const bool empty = xs.isEmpty();
    if (empty) xMin = 0, xMax = 10, yMin = 20, yMax = 40;
    if (xMax - xMin < 1e-9) xMin -= 1, xMax += 1;
    if (yMax - yMin < 1e-9) yMin -= 1, yMax += 1;
    const double xStep = niceStep(xMax - xMin, 6), yStep = niceStep(yMax - yMin, 6);
    xMin = std::floor(xMin / xStep + 1e-9) * xStep, xMax = std::ceil(xMax / xStep - 1e-9) * xStep;
    yMin = std::floor(yMin / yStep + 1e-9) * yStep, yMax = std::ceil(yMax / yStep - 1e-9) * yStep;
    // A margin inside the axes, so no point or bar sits on an axis or its labels.
    const double xPad = (xMax - xMin) * 0.04, yPad = (yMax - yMin) * 0.03;
    auto at = [&](double x, double y) {
        return QPointF(left + (x - xMin + xPad) / (xMax - xMin + 2 * xPad) * (right - left),
                       bottom - (y - yMin + yPad) / (yMax - yMin + 2 * yPad) * (bottom - top));
    };

    canvas.text(QPointF(kPlotWidth / 2.0, 28), elided(text.title, 16, kPlotWidth - 40), 0, 16, ink);
    QStringList notes;
    if (!text.note.isEmpty()) notes << text.note;
    if (fewer) notes << u"hollow points stand on fewer runs than asked (n = runs)"_s;
    canvas.text(QPointF(kPlotWidth / 2.0, 50), elided(notes.join(u"; "_s), 12, kPlotWidth - 40), 0, 12, muted);
    for (double y = yMin; y <= yMax + yStep / 2; y += yStep) {
        canvas.line(QPointF(left, at(xMin, y).y()), QPointF(right, at(xMin, y).y()), grid, 1);
        canvas.text(QPointF(left - 8, at(xMin, y).y() + 4), tickText(y, yStep), 1, 12, ink);
    }
    for (double x = xMin; x <= xMax + xStep / 2; x += xStep) {
        canvas.line(QPointF(at(x, yMin).x(), bottom), QPointF(at(x, yMin).x(), top), grid, 1);
        canvas.text(QPointF(at(x, yMin).x(), bottom + 18), tickText(x, xStep), 0, 12, ink);
    }
    canvas.line(QPointF(left, bottom), QPointF(right, bottom), ink, 1.5);
    canvas.line(QPointF(left, bottom), QPointF(left, top), ink, 1.5);
    canvas.text(QPointF((left + right) / 2, bottom + 45), text.xLabel, 0, 14, ink);
    canvas.text(QPointF(left - 55, top - 12), u"mean Y-PSNR (dB), 95 % CI"_s, -1, 14, ink);
    if (empty) {
        canvas.text(QPointF((left + right) / 2, (top + bottom) / 2), u"no run completed: nothing to plot"_s, 0, 16, ink);
        return;
    }

    // Series side by side at an x, so their bars do not hide each other; the
    // spread stays within a fifth of the closest two x values.
    std::sort(xs.begin(), xs.end());
    double gap = right - left;
    for (qsizetype i = 1; i < xs.size(); ++i)
        if (xs[i] - xs[i - 1] > 1e-9) gap = std::min(gap, at(xs[i], 0).x() - at(xs[i - 1], 0).x());
    const double n = double(series.size());
    const double step = n > 1 ? std::min(4.0, 0.2 * gap / (n - 1)) : 0;
    // The legend shrinks its rows to hold every series.
    const double row = std::min(24.0, (bottom - top) / std::max(1.0, n));
    const double legendSize = std::clamp(row - 4, 8.0, 13.0);
    for (qsizetype i = 0; i < series.size(); ++i) {
        const PlotSeries& s = series[i];
        const QColor colour = kColours[s.colour % std::size(kColours)];
        const QPointF dodge((double(i) - (n - 1) / 2) * step, 0);
        QList<QPointF> points;
        for (const PlotPoint& p : s.points) points << at(p.x, p.mean) + dodge;
        if (points.size() > 1) canvas.polyline(points, colour, 2, s.dash);
        for (const PlotPoint& p : s.points) {
            const QPointF centre = at(p.x, p.mean) + dodge;
            if (p.high > p.low) {
                const QPointF low = at(p.x, p.low) + dodge, high = at(p.x, p.high) + dodge;
                canvas.line(low, high, colour, 1.2);
                canvas.line(low + QPointF(-3, 0), low + QPointF(3, 0), colour, 1.2);
                canvas.line(high + QPointF(-3, 0), high + QPointF(3, 0), colour, 1.2);
            }
            const bool complete = p.runs >= p.asked;
            canvas.dot(centre, 3.5, colour, complete);
            if (!complete) canvas.text(centre + QPointF(6, -6), u"n=%1"_s.arg(p.runs), -1, 10, colour);
        }
        const QPointF key(right + 20, top + row * (double(i) + 0.5));
        canvas.polyline({key, key + QPointF(28, 0)}, colour, 2.5, s.dash);
        canvas.text(key + QPointF(34, legendSize / 2 - 1), elided(s.label, legendSize, kPlotWidth - right - 60), -1,
                    legendSize, ink);
    }
}

QString plotSvg(const QList<PlotSeries>& series, const PlotText& text)
{
    SvgCanvas canvas;
    drawPlot(canvas, series, text);
    return u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" "
           u"height=\"%2\" viewBox=\"0 0 %1 %2\">\n<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n"_s
               .arg(kPlotWidth)
               .arg(kPlotHeight)
        + canvas.body + u"</svg>\n"_s;
}

QImage plotImage(const QList<PlotSeries>& series, const PlotText& text)
{
    QImage image(kPlotWidth, kPlotHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    PainterCanvas canvas(painter);
    drawPlot(canvas, series, text);
    return image;
}

} // namespace kestrune::experiment
