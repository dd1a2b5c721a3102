// The small controls the window builds on, and the file filter translation.
#include "main_window/qt_prompts.h"
#include "main_window/radio_group.h"
#include "main_window/up_down.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(UpDown, ChangingComesBeforeTheMoveAndTheEditFollows)
{
    QLineEdit edit(u"26"_s);
    UpDown spinner(0, 51, 26);
    spinner.setAssociate(&edit);
    QList<int> seenAtChanging;
    QObject::connect(&spinner, &UpDown::changing, [&] { seenAtChanging << spinner.position(); });

    QTest::mouseClick(spinner.upButton(), Qt::LeftButton);
    EXPECT_EQ(seenAtChanging, QList<int>({26}));
    EXPECT_EQ(spinner.position(), 27);
    EXPECT_EQ(edit.text(), u"27"_s);

    QTest::mouseClick(spinner.downButton(), Qt::LeftButton);
    EXPECT_EQ(spinner.position(), 26);
    EXPECT_EQ(edit.text(), u"26"_s);
}

TEST(UpDown, StopsAtItsLimitsWithoutTouchingTheEdit)
{
    QLineEdit edit(u"typed"_s);
    UpDown spinner(0, 51, 60);
    EXPECT_EQ(spinner.position(), 51);
    spinner.setAssociate(&edit);
    int changing = 0;
    QObject::connect(&spinner, &UpDown::changing, [&] { ++changing; });
    spinner.step(+1);
    EXPECT_EQ(changing, 1);
    EXPECT_EQ(spinner.position(), 51);
    EXPECT_EQ(edit.text(), u"typed"_s);
    spinner.setPosition(-4);
    EXPECT_EQ(spinner.position(), 0);
}

TEST(RadioGroup, ItemIndexFollowsTheCheckedButtonAndCanBeCleared)
{
    RadioGroup group(u"Method"_s, {u"None"_s, u"Average DC"_s, u"Bilinear"_s});
    EXPECT_EQ(group.itemIndex(), -1);
    group.setItemIndex(2);
    EXPECT_EQ(group.itemIndex(), 2);
    group.button(0)->click();
    EXPECT_EQ(group.itemIndex(), 0);
    EXPECT_FALSE(group.button(2)->isChecked());
    group.setItemIndex(-1);
    EXPECT_EQ(group.itemIndex(), -1);
    group.setColumns(2);
    EXPECT_EQ(group.count(), 3);
    group.setItemIndex(1);
    EXPECT_EQ(group.itemIndex(), 1);
}

TEST(FileFilter, BarSeparatedPairsBecomeQtFilters)
{
    EXPECT_EQ(kestrune::toQtFileFilter(u"YUV File (*.yuv)|*.yuv"_s), u"YUV File (*.yuv)"_s);
    EXPECT_EQ(kestrune::toQtFileFilter(u"*.exe|*.exe"_s), u"*.exe (*.exe)"_s);
    EXPECT_EQ(kestrune::toQtFileFilter(u"H.264 File (*.264)|*.264|All|*.*"_s), u"H.264 File (*.264);;All (*.*)"_s);
    EXPECT_EQ(kestrune::toQtFileFilter(u"Streams|*.264;*.h264"_s), u"Streams (*.264 *.h264)"_s);
}
