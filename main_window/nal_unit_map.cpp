#include "main_window/nal_unit_map.h"

#include "runner/nal_colours.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

using kestrune::NalLabel;

namespace {
QColor colourOf(std::uint32_t rgb)
{
    return QColor::fromRgb(QRgb(rgb));
}
} // namespace

NalUnitMap::NalUnitMap(QWidget* parent) : QAbstractScrollArea(parent)
{
    QFont bold = font();
    bold.setPixelSize(11);  // the window's 8-point face, in bold
    bold.setBold(true);
    setFont(bold);
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    // The scroll bar moves by whole columns, so its range stays small even
    // for streams with millions of NAL units.
    horizontalScrollBar()->setSingleStep(1);
    updateScrollBar();
}

QSize NalUnitMap::sizeHint() const
{
    return {873, 46};
}

void NalUnitMap::setColumnCount(int count)
{
    columns_ = std::max(1, count);
    if (labels_.size() > std::size_t(columns_)) {
        labels_.resize(std::size_t(columns_));
        labels_.shrink_to_fit();
    }
    updateScrollBar();
    viewport()->update();
    if (current_ >= columns_) selectColumn(columns_ - 1);
}

void NalUnitMap::clearLabels()
{
    labels_.clear();
    labels_.shrink_to_fit();
    viewport()->update();
}

void NalUnitMap::startAnalysis(int count)
{
    clearLabels();
    analysed_ = true;
    setColumnCount(count);
}

void NalUnitMap::setLabel(int column, NalLabel label)
{
    if (column < 0 || column >= columns_) return;
    if (std::size_t(column) >= labels_.size()) {
        if (label == NalLabel::None) return;
        labels_.resize(std::size_t(column) + 1, std::uint8_t(NalLabel::None));
    }
    labels_[std::size_t(column)] = std::uint8_t(label);
    const int left = leftColumn();
    if (column >= left && column <= left + visibleColumns()) viewport()->update(cellRect(column));
}

NalLabel NalUnitMap::label(int column) const
{
    if (column < 0 || std::size_t(column) >= labels_.size()) return NalLabel::None;
    return NalLabel(labels_[std::size_t(column)]);
}

void NalUnitMap::selectColumn(int column)
{
    if (column < 0 || column >= columns_) return;
    const int previous = current_;
    current_ = column;
    scrollTo(column);
    viewport()->update(cellRect(previous));
    viewport()->update(cellRect(column));
    emit cellSelected(column, 0);
}

int NalUnitMap::leftColumn() const
{
    return horizontalScrollBar()->value();
}

QRect NalUnitMap::cellRect(int column) const
{
    return {(column - leftColumn()) * columnPitch, 0, columnWidth, rowHeight};
}

int NalUnitMap::columnAt(const QPoint& viewportPos) const
{
    if (viewportPos.x() < 0 || viewportPos.y() < 0 || viewportPos.y() >= rowHeight) return -1;
    // A grid line belongs to the cell on its left.
    const int column = leftColumn() + viewportPos.x() / columnPitch;
    return column < columns_ ? column : -1;
}

int NalUnitMap::visibleColumns() const
{
    return std::max(1, viewport()->width() / columnPitch);
}

void NalUnitMap::updateScrollBar()
{
    const int visible = visibleColumns();
    QScrollBar* bar = horizontalScrollBar();
    bar->setPageStep(visible);
    bar->setRange(0, std::max(0, columns_ - visible));
}

void NalUnitMap::scrollTo(int column)
{
    QScrollBar* bar = horizontalScrollBar();
    const int visible = visibleColumns();
    if (column < bar->value())
        bar->setValue(column);
    else if (column >= bar->value() + visible)
        bar->setValue(column - visible + 1);
}

void NalUnitMap::paintEvent(QPaintEvent*)
{
    QPainter painter(viewport());
    const int left = leftColumn();
    const int width = viewport()->width();
    const int last = std::min(columns_ - 1, left + width / columnPitch);
    const QColor gridLine(0xC0, 0xC0, 0xC0);
    painter.setFont(font());

    for (int column = left; column <= last; ++column) {
        const QRect cell = cellRect(column);
        const NalLabel type = label(column);
        painter.fillRect(cell, colourOf(kestrune::nalLabelRgb(type)));
        painter.fillRect(QRect(cell.right() + 1, 0, gridLineWidth, rowHeight + gridLineWidth), gridLine);
        painter.fillRect(QRect(cell.left(), rowHeight, columnPitch, gridLineWidth), gridLine);
        if (type != NalLabel::None) {
            painter.setPen(Qt::black);
            painter.drawText(cell, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, kestrune::nalLabelText(type));
        }
        if (column == current_) {
            // The focus mark: a dotted frame; the fill keeps the column's colour.
            painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
            painter.drawRect(cell.adjusted(1, 1, -2, -2));
        }
    }
}

void NalUnitMap::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const int column = columnAt(event->position().toPoint());
    if (column >= 0) selectColumn(column);
}

void NalUnitMap::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton)) return;
    const int column = columnAt(QPoint(event->position().toPoint().x(), 0));
    if (column >= 0 && column != current_) selectColumn(column);
}

void NalUnitMap::keyPressEvent(QKeyEvent* event)
{
    int target = current_;
    switch (event->key()) {
    case Qt::Key_Left: target = current_ - 1; break;
    case Qt::Key_Right: target = current_ + 1; break;
    case Qt::Key_Home: target = 0; break;
    case Qt::Key_End: target = columns_ - 1; break;
    case Qt::Key_PageUp: target = current_ - visibleColumns(); break;
    case Qt::Key_PageDown: target = current_ + visibleColumns(); break;
    default: QAbstractScrollArea::keyPressEvent(event); return;
    }
    target = std::clamp(target, 0, columns_ - 1);
    if (target != current_) selectColumn(target);
    event->accept();
}

void NalUnitMap::wheelEvent(QWheelEvent* event)
{
    // The map only scrolls sideways, so the usual vertical wheel does that.
    QCoreApplication::sendEvent(horizontalScrollBar(), event);
}

void NalUnitMap::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBar();
}

void NalUnitMap::scrollContentsBy(int, int)
{
    viewport()->update();
}
