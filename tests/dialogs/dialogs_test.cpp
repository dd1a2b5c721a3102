// The About and player dialogs as they are built.
#include "dialogs/tform2.h"
#include "dialogs/tform3.h"
#include "tests/support/recording_prompts.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStringList>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(AboutDialog, LayoutLogoAndOk)
{
    TForm2 about;
    EXPECT_EQ(about.windowTitle(), u"About..."_s);
    EXPECT_EQ(about.size(), QSize(404, 292));
    EXPECT_EQ(about.palette().color(QPalette::Window), QColor(Qt::white));
    EXPECT_EQ(about.Image1->pixmap().size(), QSize(250, 58));
    EXPECT_EQ(about.Image1->pos(), QPoint(0, 0));
    EXPECT_EQ(about.Label1->text(), u"KESTRUNE v1.0"_s);
    EXPECT_TRUE(about.Label1->font().bold());
    EXPECT_EQ(about.Button1->size(), QSize(75, 25));
    EXPECT_EQ(about.Button1->geometry().center().x(), about.rect().center().x());
    EXPECT_GT(about.Button1->y(), about.Label2->geometry().bottom());

    about.show();
    QTest::mouseClick(about.Button1, Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
}

TEST(PlayerDialog, LayoutAndKeys)
{
    kestrune::testing::RecordingPrompts prompts;
    QStringList confirmed;
    TForm3 dialog(prompts, [&](kestrune::PlayerRole role, const QString& path) {
        confirmed << QString::number(int(role)) + u' ' + path;
    });
    EXPECT_EQ(dialog.windowTitle(), u"H.264 Video Player..."_s);
    EXPECT_EQ(dialog.size(), QSize(332, 114));
    EXPECT_EQ(dialog.Label1->text(), u"Player Address:"_s);
    EXPECT_EQ(dialog.Edit1->width(), 233);
    EXPECT_EQ(dialog.Button1->text(), u"Browse..."_s);
    EXPECT_TRUE(dialog.BitBtn1->isDefault());
    EXPECT_FALSE(dialog.isModal());

    QSignalSpy ok(dialog.BitBtn1, &QPushButton::clicked);
    QSignalSpy cancel(dialog.BitBtn2, &QPushButton::clicked);
    dialog.show();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_EQ(cancel.count(), 1);
    EXPECT_EQ(ok.count(), 0);
    dialog.show();
    dialog.tag = kestrune::PlayerRole::YuvPlayer;
    dialog.Edit1->setText(u"/usr/bin/yuv-player"_s);
    QTest::keyClick(dialog.Edit1, Qt::Key_Return);
    EXPECT_EQ(ok.count(), 1);
    EXPECT_EQ(confirmed, QStringList{u"2 /usr/bin/yuv-player"_s});  // handed back, not stored
    EXPECT_FALSE(dialog.isVisible());
}
