#pragma once
// StringGrid1: the one-row map of a stream's NAL units, column c showing NAL
// unit c + 1. Right clicks never move the current cell; they only reach the
// widget's context-menu policy. Custom-painted over a compact vector of type codes so a stream
// of millions of NAL units fills, scrolls and selects instantly.
#include "runner/analyzer_interface.h"

#include <QAbstractScrollArea>
#include <cstdint>
#include <vector>

class NalUnitMap : public QAbstractScrollArea {
    Q_OBJECT
public:
    static constexpr int rowHeight = 24;
    static constexpr int columnWidth = 32;
    static constexpr int gridLineWidth = 1;
    static constexpr int columnPitch = columnWidth + gridLineWidth;
    static constexpr int initialColumns = 35;

    explicit NalUnitMap(QWidget* parent = nullptr);

    int columnCount() const { return columns_; }
    // At least one column. A current cell beyond the new last column moves to
    // it and cellSelected is emitted, as when the user selects it.
    void setColumnCount(int count);

    // Empties every cell (the column count stays).
    void clearLabels();
    // Starts showing a new analysis: every cell emptied, then `count` columns
    // (see setColumnCount). From then on the map counts as analysed.
    void startAnalysis(int count);
    bool analysed() const { return analysed_; }
    // Labels outside 0..columnCount()-1 are ignored.
    void setLabel(int column, kestrune::NalLabel label);
    kestrune::NalLabel label(int column) const;
    QString cellText(int column) const { return kestrune::nalLabelText(label(column)); }

    int currentColumn() const { return current_; }
    // Moves the current cell as a click would (emits cellSelected) and
    // scrolls it into view.
    void selectColumn(int column);

    // First column shown at the left edge (the horizontal scroll position).
    int leftColumn() const;
    // Rectangle of a column's cell in viewport coordinates (may lie outside
    // the viewport when the column is scrolled away).
    QRect cellRect(int column) const;
    // Column under a viewport point, or -1 for none.
    int columnAt(const QPoint& viewportPos) const;

    QSize sizeHint() const override;

signals:
    void cellSelected(int column, int row);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    int visibleColumns() const;  // columns wholly inside the viewport, >= 1
    void updateScrollBar();
    void scrollTo(int column);

    std::vector<std::uint8_t> labels_;  // NalLabel per column, grown on demand
    int columns_ = initialColumns;
    int current_ = 0;
    bool analysed_ = false;
};
