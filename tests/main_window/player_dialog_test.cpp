// The player dialog in its two roles and players.cnf.
#include "dialogs/tform3.h"
#include "main_window/tform1.h"
#include "tests/main_window/window_fixture.h"
#include "tests/main_window/window_parts.h"
#include "tests/support/recording_prompts.h"

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace kestrune::testing;

namespace {

class PlayerDialog : public WindowInStartDirectory {
protected:
    void SetUp() override
    {
        writeFile(config(), "/usr/bin/stream-player\r\n/usr/bin/yuv-player\r\n");
        WindowInStartDirectory::SetUp(); // start-up loads players.cnf
        dialog = ui(form).Form3;
    }
    QString config() const { return at(u"players.cnf"_s); }

    TForm3* dialog = nullptr;
};

} // namespace

TEST_F(PlayerDialog, StartUpLoadsBothPaths)
{
    EXPECT_EQ(ui(form).state.h264PlayerPath, u"/usr/bin/stream-player"_s);
    EXPECT_EQ(ui(form).state.yuvPlayerPath, u"/usr/bin/yuv-player"_s);
}

TEST_F(PlayerDialog, EachRoleShowsItsOwnPathNonModally)
{
    ui(form).H264VideoPlayer1->trigger();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal());
    EXPECT_EQ(dialog->windowTitle(), u"Select H.264 Video player..."_s);
    EXPECT_EQ(dialog->tag, kestrune::PlayerRole::H264Player);
    EXPECT_EQ(dialog->Edit1->text(), u"/usr/bin/stream-player"_s);

    dialog->Edit1->setText(u"typed but not confirmed"_s);
    ui(form).YUVSequencePlayer1->trigger();
    EXPECT_EQ(dialog->windowTitle(), u"Select YUV sequence player..."_s);
    EXPECT_EQ(dialog->tag, kestrune::PlayerRole::YuvPlayer);
    EXPECT_EQ(dialog->Edit1->text(), u"/usr/bin/yuv-player"_s);
}

TEST_F(PlayerDialog, OkInEitherRoleRewritesTheFileKeepingTheOtherLine)
{
    ui(form).H264VideoPlayer1->trigger();
    dialog->Edit1->setText(u"/opt/new stream player"_s);
    dialog->BitBtn1->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(readFile(config()), "/opt/new stream player\r\n/usr/bin/yuv-player\r\n");

    ui(form).YUVSequencePlayer1->trigger();
    dialog->Edit1->clear();
    dialog->BitBtn1->click();
    EXPECT_EQ(ui(form).state.yuvPlayerPath, QString());
    EXPECT_EQ(readFile(config()), "/opt/new stream player\r\n\r\n");
}

TEST_F(PlayerDialog, OkWritesIntoTheStartDirectoryWhateverTheCurrentOne)
{
    QTemporaryDir elsewhere;
    QDir::setCurrent(elsewhere.path());
    ui(form).YUVSequencePlayer1->trigger();
    dialog->Edit1->setText(u"/usr/bin/other"_s);
    dialog->BitBtn1->click();
    EXPECT_EQ(readFile(config()), "/usr/bin/stream-player\r\n/usr/bin/other\r\n");
    EXPECT_FALSE(QFile::exists(QDir(elsewhere.path()).filePath(u"players.cnf"_s)));
}

TEST_F(PlayerDialog, CancelChangesNothing)
{
    ui(form).H264VideoPlayer1->trigger();
    dialog->Edit1->setText(u"/somewhere/else"_s);
    dialog->BitBtn2->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(ui(form).state.h264PlayerPath, u"/usr/bin/stream-player"_s);
    EXPECT_EQ(readFile(config()), "/usr/bin/stream-player\r\n/usr/bin/yuv-player\r\n");
}

TEST_F(PlayerDialog, BrowseOffersProgramsAndFillsTheEditOnlyWhenConfirmed)
{
    ui(form).H264VideoPlayer1->trigger();
    prompts.files = {std::nullopt, u"/usr/bin/mpv"_s};
    dialog->Button1->click();
    EXPECT_EQ(dialog->Edit1->text(), u"/usr/bin/stream-player"_s);
    dialog->Button1->click();
    EXPECT_EQ(dialog->Edit1->text(), u"/usr/bin/mpv"_s);
    ASSERT_EQ(prompts.events.size(), 2u);
    EXPECT_EQ(prompts.events[0].kind, RecordingPrompts::Event::OpenDialog);
}

TEST_F(PlayerDialog, WriteFailureIsShownAndTheDialogStaysOpenWithTheNewPathKept)
{
    QFile::remove(config());
    ASSERT_TRUE(QDir(dir.path()).mkdir(u"players.cnf"_s)); // a folder cannot be written as a file
    ui(form).H264VideoPlayer1->trigger();
    dialog->Edit1->setText(u"/usr/bin/mpv"_s);
    dialog->BitBtn1->click();
    ASSERT_EQ(prompts.errors().size(), 1);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(ui(form).state.h264PlayerPath, u"/usr/bin/mpv"_s);
}

using PlayersAtStartUp = WindowInStartDirectory;

TEST_F(PlayersAtStartUp, MissingFileLeavesBothPathsEmptySilently)
{
    EXPECT_TRUE(ui(form).state.h264PlayerPath.isEmpty());
    EXPECT_TRUE(ui(form).state.yuvPlayerPath.isEmpty());
    EXPECT_TRUE(prompts.events.empty());
}
