#include "experiment/experiment_plot.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace kestrune::experiment {
namespace {

const QColor kColours[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c),
                           QColor(0xff, 0x7f, 0x0e), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
                           QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf)};

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
    void polyline(const QList<QPointF>& points, const QColor& c, double w) override
    {
        QStringList xy;
        for (const QPointF& p : points) xy << QString::number(p.x()) + u',' + QString::number(p.y());
        body += u"<polyline points=\"%1\" fill=\"none\" stroke=\"%2\" stroke-width=\"%3\"/>\n"_s.arg(xy.join(u' '),
                                                                                                  c.name())
                    .arg(w);
    }
    void dot(QPointF p, double r, const QColor& c) override
    {
        body += u"<circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"%4\"/>\n"_s.arg(p.x()).arg(p.y()).arg(r).arg(c.name());
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
    void polyline(const QList<QPointF>& points, const QColor& c, double w) override
    {
        p_.setPen(QPen(c, w));
        p_.drawPolyline(points.data(), int(points.size()));
    }
    void dot(QPointF centre, double r, const QColor& c) override
    {
        p_.setPen(Qt::NoPen);
        p_.setBrush(c);
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

void drawPlot(PlotCanvas& canvas, const QList<PlotSeries>& series, const QString& title)
{
    const QColor ink(0x22, 0x22, 0x22), grid(0xdd, 0xdd, 0xdd);
    const double left = 80, right = kPlotWidth - 240, top = 70, bottom = kPlotHeight - 70;
    double xMin = 1e300, xMax = -1e300, yMin = 1e300, yMax = -1e300;
    for (const PlotSeries& s : series)
        for (const PlotPoint& p : s.points) {
            xMin = std::min(xMin, p.lossRate), xMax = std::max(xMax, p.lossRate);
            yMin = std::min(yMin, p.low), yMax = std::max(yMax, p.high);
        }
    if (xMin > xMax) xMin = 0, xMax = 10, yMin = 20, yMax = 40;
    if (xMax - xMin < 1e-9) xMin -= 1, xMax += 1;
    if (yMax - yMin < 1e-9) yMin -= 1, yMax += 1;
    const double xStep = niceStep(xMax - xMin, 6), yStep = niceStep(yMax - yMin, 6);
    xMin = std::floor(xMin / xStep) * xStep, xMax = std::ceil(xMax / xStep) * xStep;
    yMin = std::floor(yMin / yStep) * yStep, yMax = std::ceil(yMax / yStep) * yStep;
    auto at = [&](double x, double y) {
        return QPointF(left + (x - xMin) / (xMax - xMin) * (right - left), bottom - (y - yMin) / (yMax - yMin) * (bottom - top));
    };

    canvas.text(QPointF(kPlotWidth / 2.0, 28), title, 0, 16, ink);
    for (double y = yMin; y <= yMax + yStep / 2; y += yStep) {
        canvas.line(at(xMin, y), at(xMax, y), grid, 1);
        canvas.text(at(xMin, y) + QPointF(-8, 4), tickText(y, yStep), 1, 12, ink);
    }
    for (double x = xMin; x <= xMax + xStep / 2; x += xStep) {
        canvas.line(at(x, yMin), at(x, yMax), grid, 1);
        canvas.text(at(x, yMin) + QPointF(0, 18), tickText(x, xStep), 0, 12, ink);
    }
    canvas.line(at(xMin, yMin), at(xMax, yMin), ink, 1.5);
    canvas.line(at(xMin, yMin), at(xMin, yMax), ink, 1.5);
    canvas.text(QPointF((left + right) / 2, bottom + 45), u"channel loss rate (%)"_s, 0, 14, ink);
    canvas.text(QPointF(left - 55, top - 14), u"mean Y-PSNR (dB), 95 % CI"_s, -1, 14, ink);

    for (qsizetype i = 0; i < series.size(); ++i) {
        const QColor colour = kColours[i % std::size(kColours)];
        // Series side by side at a loss rate, so their bars do not hide each other.
        const QPointF dodge((double(i) - double(series.size() - 1) / 2) * 6, 0);
        QList<QPointF> points;
        for (const PlotPoint& p : series[i].points) {
            const QPointF centre = at(p.lossRate, p.mean) + dodge;
            points << centre;
            if (p.high > p.low) {
                const QPointF low = at(p.lossRate, p.low) + dodge, high = at(p.lossRate, p.high) + dodge;
                canvas.line(low, high, colour, 1.5);
                canvas.line(low + QPointF(-4, 0), low + QPointF(4, 0), colour, 1.5);
                canvas.line(high + QPointF(-4, 0), high + QPointF(4, 0), colour, 1.5);
            }
            canvas.dot(centre, 4, colour);
        }
        if (points.size() > 1) canvas.polyline(points, colour, 2);
        const QPointF key(right + 25, top + 20 + 24 * double(i));
        canvas.line(key, key + QPointF(24, 0), colour, 3);
        canvas.text(key + QPointF(32, 5), series[i].label, -1, 13, ink);
    }
}

QString plotSvg(const QList<PlotSeries>& series, const QString& title)
{
    SvgCanvas canvas;
    drawPlot(canvas, series, title);
    return u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" "
           u"height=\"%2\" viewBox=\"0 0 %1 %2\">\n<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n"_s
               .arg(kPlotWidth)
               .arg(kPlotHeight)
        + canvas.body + u"</svg>\n"_s;
}

QImage plotImage(const QList<PlotSeries>& series, const QString& title)
{
    QImage image(kPlotWidth, kPlotHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    PainterCanvas canvas(painter);
    drawPlot(canvas, series, title);
    return image;
}

} // namespace kestrune::experiment
