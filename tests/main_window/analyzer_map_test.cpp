#include "main_window/nal_unit_map.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using kestrune::NalLabel;

namespace {

class MapTest : public ::testing::Test {
protected:
    MapTest()
    {
        map.resize(873, 46);
        map.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&map));
    }
    QColor pixelAt(int column)
    {
        const QImage image = map.viewport()->grab().toImage();
        return image.pixelColor(map.cellRect(column).center() + QPoint(0, 8));
    }
    void click(int column, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(map.viewport(), button, {}, map.cellRect(column).center());
    }
    NalUnitMap map;
};

TEST_F(MapTest, StartsWith35EmptyColumnsOfFixedSize)
{
    EXPECT_EQ(map.columnCount(), 35);
    EXPECT_EQ(map.cellText(0), QString());
    EXPECT_EQ(map.cellRect(1), QRect(33, 0, 32, 24));
    EXPECT_TRUE(map.font().bold());
    EXPECT_EQ(map.font().pixelSize(), 11);
    // About 26 columns fit; the scroll bar reaches the rest.
    EXPECT_EQ(map.horizontalScrollBar()->maximum(), 35 - map.horizontalScrollBar()->pageStep());
    EXPECT_GT(map.horizontalScrollBar()->pageStep(), 20);
}

TEST_F(MapTest, PaintsEachColumnInItsLabelColourWithTheFocusedCellKeepingIt)
{
    map.setColumnCount(4);
    map.setLabel(0, NalLabel::Sps);
    map.setLabel(1, NalLabel::Pps);
    map.setLabel(2, NalLabel::I);
    map.selectColumn(2);
    EXPECT_EQ(pixelAt(0), QColor(0x00, 0x80, 0x00));
    EXPECT_EQ(pixelAt(1), QColor(0x00, 0xFF, 0x00));
    EXPECT_EQ(pixelAt(2), QColor(0xFF, 0x00, 0x00));
    EXPECT_EQ(pixelAt(3), QColor(Qt::white));
    EXPECT_EQ(map.cellText(2), u"I"_s);
}

TEST_F(MapTest, LeftClickAndKeysSelectButRightClickOnlyOpensThePopup)
{
    map.setContextMenuPolicy(Qt::CustomContextMenu);
    QSignalSpy popupRequests(&map, &QWidget::customContextMenuRequested);
    QSignalSpy selected(&map, &NalUnitMap::cellSelected);

    click(4);
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.at(0).at(0).toInt(), 4);
    EXPECT_EQ(selected.at(0).at(1).toInt(), 0);

    // Right clicks arrive as a press and a context-menu event.
    click(7, Qt::RightButton);
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, map.cellRect(7).center(),
                                map.viewport()->mapToGlobal(map.cellRect(7).center()));
    QApplication::sendEvent(map.viewport(), &menuEvent);
    EXPECT_EQ(popupRequests.size(), 1);
    EXPECT_EQ(selected.size(), 1);
    EXPECT_EQ(map.currentColumn(), 4);

    map.setFocus();
    QTest::keyClick(&map, Qt::Key_Right);
    EXPECT_EQ(map.currentColumn(), 5);
    QTest::keyClick(&map, Qt::Key_End);
    EXPECT_EQ(map.currentColumn(), 34);
    EXPECT_EQ(map.leftColumn(), map.horizontalScrollBar()->maximum());  // scrolled into view
    QTest::keyClick(&map, Qt::Key_Right);  // already the last column
    QTest::keyClick(&map, Qt::Key_Home);
    EXPECT_EQ(map.currentColumn(), 0);
    EXPECT_EQ(map.leftColumn(), 0);
    EXPECT_EQ(selected.size(), 4);

    // Below the row and past the last column there is no cell.
    map.setColumnCount(3);
    QTest::mouseClick(map.viewport(), Qt::LeftButton, {}, QPoint(3 * 33 + 5, 5));
    QTest::mouseClick(map.viewport(), Qt::LeftButton, {}, QPoint(5, 30));
    EXPECT_EQ(selected.size(), 4);
}

TEST_F(MapTest, ShrinkingMovesTheSelectionToTheNewLastColumn)
{
    map.setColumnCount(100);
    map.selectColumn(90);
    QSignalSpy selected(&map, &NalUnitMap::cellSelected);
    map.setColumnCount(95);  // still inside: no move
    EXPECT_EQ(selected.size(), 0);
    map.setColumnCount(10);
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.at(0).at(0).toInt(), 9);
    EXPECT_EQ(map.currentColumn(), 9);
    map.setColumnCount(0);  // never fewer than one column
    EXPECT_EQ(map.columnCount(), 1);
    EXPECT_EQ(map.currentColumn(), 0);
}

TEST_F(MapTest, LabelsOutsideTheMapAreIgnoredAndClearEmptiesIt)
{
    map.setColumnCount(3);
    map.setLabel(3, NalLabel::I);
    map.setLabel(-1, NalLabel::I);
    map.setLabel(1, NalLabel::P);
    EXPECT_EQ(map.label(3), NalLabel::None);
    EXPECT_EQ(map.label(1), NalLabel::P);
    map.clearLabels();
    EXPECT_EQ(map.label(1), NalLabel::None);
    EXPECT_EQ(map.columnCount(), 3);
}

TEST_F(MapTest, MillionColumnsScrollByColumns)
{
    map.setColumnCount(1'000'000);
    map.setLabel(999'999, NalLabel::P);
    map.selectColumn(999'999);
    EXPECT_EQ(map.leftColumn() + map.horizontalScrollBar()->pageStep() - 1, 999'999);
    EXPECT_EQ(pixelAt(999'999), QColor(0x00, 0xFF, 0xFF));
    EXPECT_EQ(map.columnAt(map.cellRect(999'998).center()), 999'998);

    // The wheel scrolls sideways without moving the selection.
    map.horizontalScrollBar()->setValue(500);
    QWheelEvent wheel(QPointF(10, 10), map.viewport()->mapToGlobal(QPointF(10, 10)), {}, QPoint(0, -120),
                      Qt::NoButton, {}, Qt::NoScrollPhase, false);
    QApplication::sendEvent(map.viewport(), &wheel);
    EXPECT_GT(map.leftColumn(), 500);
    EXPECT_EQ(map.currentColumn(), 999'999);
}

} // namespace
