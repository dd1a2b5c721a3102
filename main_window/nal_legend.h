#pragma once
// The colour legend beside the analyzer's counters: a filled swatch and a
// caption for each NAL unit type, in two columns.
#include <QWidget>

class NalLegend : public QWidget {
    Q_OBJECT
public:
    explicit NalLegend(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {129, 82}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};
