#pragma once
// "Quality Plot": per-frame Y-PSNR of the last decodes, overlaid, with the
// frames that held lost macroblocks marked. Drawn with Qt Charts, which
// gives hover, legends and axes that a custom widget would have to rebuild.
#include "main_window/quality_history.h"
#include "runner/prompts.h"

#include <QWidget>

class QChart;
class QChartView;
class QLabel;
class QPushButton;

// The path with ".SUFFIX" added when it has no suffix (what a save dialog
// returns for a name typed without one).
QString withSuffix(const QString& path, const QString& suffix);

class QualityPlotWindow : public QWidget {
    Q_OBJECT
public:
    QualityPlotWindow(const QualityHistory& history, kestrune::Prompts& prompts, QWidget* parent = nullptr);

    // Redraws from the history (after each decode).
    void refresh();

    // The exports behind the two buttons; false when the file cannot be written.
    bool exportPng(const QString& path);
    bool exportCsv(const QString& path);

    QChartView* chartView() const { return view_; }

signals:
    // A double-click on a point: decode `decode` of the history at `frame`.
    void frameActivated(int decode, int frame);

public:
    QLabel* hoverLabel() const { return hover_; }

private:
    void showHover(const QString& series, QPointF point, bool entered);

    const QualityHistory& history_;
    kestrune::Prompts& prompts_;
    QChart* chart_;
    QChartView* view_;
    QLabel* hover_;
    QPushButton* exportPngButton_;
    QPushButton* exportCsvButton_;
};
