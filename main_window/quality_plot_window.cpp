#include "main_window/quality_plot_window.h"

#include "runner/handler_guard.h"

#include <QChart>
#include <QChartView>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QValueAxis>
#include <QVBoxLayout>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// Eight well-separated colours, one per decode.
const QColor kSeriesColours[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c),
                                 QColor(0xff, 0x7f, 0x0e), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
                                 QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf)};

} // namespace

QualityPlotWindow::QualityPlotWindow(const QualityHistory& history, kestrune::Prompts& prompts, QWidget* parent)
    : QWidget(parent, Qt::Window), history_(history), prompts_(prompts), chart_(new QChart)
{
    setWindowTitle(u"Quality Plot"_s);
    view_ = new QChartView(chart_, this);
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setMinimumSize(720, 420);
    hover_ = new QLabel(u"Point at a curve to read a frame's Y-PSNR."_s, this);
    exportPngButton_ = new QPushButton(u"Export PNG..."_s, this);
    exportCsvButton_ = new QPushButton(u"Export CSV..."_s, this);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(hover_, 1);
    buttons->addWidget(exportPngButton_);
    buttons->addWidget(exportCsvButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(view_, 1);
    layout->addLayout(buttons);

    connect(exportPngButton_, &QPushButton::clicked, this, [this] {
        kestrune::runGuarded(prompts_, [this] {
            const auto path = prompts_.saveFile(u"PNG Image (*.png)|*.png"_s);
            if (path && !exportPng(withSuffix(*path, u"png"_s)))
                prompts_.message(u"The plot could not be written to "_s + *path);
        });
    });
    connect(exportCsvButton_, &QPushButton::clicked, this, [this] {
        kestrune::runGuarded(prompts_, [this] {
            const auto path = prompts_.saveFile(u"CSV File (*.csv)|*.csv"_s);
            if (path && !exportCsv(withSuffix(*path, u"csv"_s)))
                prompts_.message(u"The values could not be written to "_s + *path);
        });
    });
    refresh();
}

void QualityPlotWindow::refresh()
{
    chart_->removeAllSeries();
    for (QAbstractAxis* axis : chart_->axes()) chart_->removeAxis(axis);
    chart_->setTitle(history_.decodes().empty() ? u"No decode measured yet: decode with the original as encoder input"_s
                                                : u"Y-PSNR per frame (dots: frames with lost macroblocks)"_s);
    auto* x = new QValueAxis;
    x->setTitleText(u"frame"_s);
    x->setLabelFormat(u"%d"_s);
    auto* y = new QValueAxis;
    y->setTitleText(u"Y-PSNR (dB)"_s);
    chart_->addAxis(x, Qt::AlignBottom);
    chart_->addAxis(y, Qt::AlignLeft);

    double low = 100, high = 0;
    std::size_t frames = 1;
    int index = 0;
    for (const DecodedQuality& decode : history_.decodes()) {
        const QColor colour = kSeriesColours[index++ % std::size(kSeriesColours)];
        auto* line = new QLineSeries;
        line->setName(decode.label());
        line->setColor(colour);
        auto* marks = new QScatterSeries;
        marks->setName(decode.label() + u" (lost)"_s);
        marks->setColor(colour);
        marks->setBorderColor(colour);
        marks->setMarkerSize(6);
        for (std::size_t i = 0; i < decode.psnrY.size(); ++i) {
            line->append(double(i), decode.psnrY[i]);
            if (i < decode.lost.size() && decode.lost[i]) marks->append(double(i), decode.psnrY[i]);
            low = std::min(low, decode.psnrY[i]);
            high = std::max(high, decode.psnrY[i]);
        }
        frames = std::max(frames, decode.psnrY.size());
        const QString name = decode.label();
        const int decodeIndex = index - 1;
        for (QXYSeries* series : {static_cast<QXYSeries*>(line), static_cast<QXYSeries*>(marks)})
            connect(series, &QXYSeries::doubleClicked, this,
                    [this, decodeIndex](QPointF point) { emit frameActivated(decodeIndex, qRound(point.x())); });
        connect(line, &QLineSeries::hovered, this,
                [this, name](QPointF point, bool state) { showHover(name, point, state); });
        connect(marks, &QScatterSeries::hovered, this,
                [this, name](QPointF point, bool state) { showHover(name, point, state); });
        for (QXYSeries* series : {static_cast<QXYSeries*>(line), static_cast<QXYSeries*>(marks)}) {
            chart_->addSeries(series);
            series->attachAxis(x);
            series->attachAxis(y);
        }
        // One legend entry per decode: the marks share the line's colour.
        for (QLegendMarker* marker : chart_->legend()->markers(marks)) marker->setVisible(false);
    }
    if (low > high) low = 0, high = 50;
    const double lastFrame = double(std::max<std::size_t>(frames, 2) - 1);
    x->setRange(0, lastFrame);
    y->setRange(std::floor(low / 5) * 5 - (low == high ? 5 : 0), std::ceil(high / 5) * 5 + (low == high ? 5 : 0));
    // Round tick values: frame numbers and whole decibels read at a glance;
    // a short range has one tick per frame, not repeated whole numbers.
    if (lastFrame < 10) x->setTickCount(int(lastFrame) + 1);
    else x->applyNiceNumbers();
    y->applyNiceNumbers();
    // One decode per legend line: the labels are long.
    chart_->legend()->setAlignment(Qt::AlignRight);
}

void QualityPlotWindow::showHover(const QString& series, QPointF point, bool entered)
{
    if (!entered) return;
    hover_->setText(u"Frame %1: %2 dB (%3)"_s.arg(qRound(point.x())).arg(point.y(), 0, 'f', 2).arg(series));
}

QString withSuffix(const QString& path, const QString& suffix)
{
    return QFileInfo(path).suffix().isEmpty() ? path + u'.' + suffix : path;
}

bool QualityPlotWindow::exportPng(const QString& path) { return view_->grab().save(path, "PNG"); }

bool QualityPlotWindow::exportCsv(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return file.write(history_.csv().toUtf8()) >= 0 && file.flush();
}
