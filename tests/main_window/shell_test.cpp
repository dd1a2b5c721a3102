// Start-up and shut-down of the window, the log, the About dialog, the guard
// and the runner methods, driven through the real widgets.
#include "dialogs/tform2.h"
#include "dialogs/tform3.h"
#include "main_window/memo_log_sink.h"
#include "runner/user_error.h"
#include "tests/main_window/shell_fixture.h"
#include "tests/main_window/window_parts.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <stdexcept>

using kestrune::testing::ui;

using namespace Qt::StringLiterals;

namespace {

const QStringList scratchFiles = {u"general.txt"_s, u"fbatch.bat"_s, u"xbatch.bat"_s,  u"debug.txt"_s,  u"analyze.bat"_s,
                                  u"analyze.txt"_s, u"gilout.txt"_s, u"gil.bat"_s, u"gilbert.txt"_s};
const QStringList keptFiles = {u"xbatch.txt"_s, u"fbatch.txt"_s, u"tmp.yuv"_s};

} // namespace

TEST_F(ShellTest, StartDirectoryIsTheCurrentDirectoryAtStart)
{
    EXPECT_EQ(ui(window()).state.startDirectory, QDir::currentPath());
    EXPECT_TRUE(ui(window()).state.h264PlayerPath.isEmpty());
    EXPECT_TRUE(ui(window()).state.yuvPlayerPath.isEmpty());
    EXPECT_TRUE(prompts.events.empty());
}

TEST_F(ShellTest, ClosingDeletesTheScratchFilesEvenAfterTheDirectoryChanged)
{
    window().show();
    for (const QString& name : scratchFiles + keptFiles) write(name, "x");
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QDir::setCurrent(elsewhere.path()));  // as a file dialog may do

    EXPECT_TRUE(window().close());

    EXPECT_EQ(QDir::currentPath(), dir.path());
    for (const QString& name : scratchFiles) EXPECT_FALSE(exists(name)) << name.toStdString();
    for (const QString& name : keptFiles) EXPECT_TRUE(exists(name)) << name.toStdString();
    EXPECT_TRUE(prompts.events.empty());
}

TEST_F(ShellTest, ClosingWithSomeScratchFilesMissingIsSilent)
{
    write(u"gil.bat"_s, "x");
    window().show();
    EXPECT_TRUE(window().close());
    EXPECT_FALSE(exists(u"gil.bat"_s));
    EXPECT_TRUE(prompts.events.empty());
}

TEST_F(ShellTest, ClosingNeverDeletesInAnotherDirectoryWhenTheStartDirectoryIsGone)
{
    window().show();
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QDir::setCurrent(elsewhere.path()));
    for (const QString& name : scratchFiles) {
        QFile file(QDir(elsewhere.path()).filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(dir.remove());

    EXPECT_TRUE(window().close());
    for (const QString& name : scratchFiles)
        EXPECT_TRUE(QFile::exists(QDir(elsewhere.path()).filePath(name))) << name.toStdString();
}

TEST_F(ShellTest, ExitEndsTheEventLoopAndLeavesTheScratchFiles)
{
    window().show();
    for (const QString& name : scratchFiles) write(name, "x");
    QTimer::singleShot(0, ui(window()).Exit1, &QAction::trigger);
    QTimer safety;  // keeps a broken Exit from hanging the run
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    safety.start(30000);
    EXPECT_EQ(QApplication::exec(), 0);
    for (const QString& name : scratchFiles) EXPECT_TRUE(exists(name)) << name.toStdString();
}

TEST_F(ShellTest, AboutShownTwiceIsOneModelessDialog)
{
    window().show();
    ui(window()).About2->trigger();
    ui(window()).About2->trigger();
    EXPECT_EQ(window().findChildren<TForm2*>().size(), 1);
    EXPECT_TRUE(ui(window()).Form2->isVisible());
    EXPECT_FALSE(ui(window()).Form2->isModal());
    QTest::mouseClick(ui(window()).Form2->Button1, Qt::LeftButton);
    EXPECT_FALSE(ui(window()).Form2->isVisible());
    ui(window()).About2->trigger();
    EXPECT_TRUE(ui(window()).Form2->isVisible());
}

TEST_F(ShellTest, PathFieldsShowTheirWholePathAsTooltip)
{
    const QString longPath = u"/videos/experiments/2026/foreman cif/channel10_bma_352x288.yuv"_s;
    for (QLineEdit* field : {ui(window()).LabeledEdit1, ui(window()).LabeledEdit2, ui(window()).LabeledEdit3,
                             ui(window()).LabeledEdit4, ui(window()).LabeledEdit6, ui(window()).Form3->Edit1}) {
        field->setText(longPath);
        EXPECT_EQ(field->toolTip(), longPath);
        field->clear();
        EXPECT_TRUE(field->toolTip().isEmpty());
    }
}

TEST_F(ShellTest, ClearEmptiesTheLogAndLaterOutputStartsAtTheTop)
{
    MemoLogSink log(ui(window()).Memo1);
    log.appendLines({u"first"_s, u"second"_s});
    QTest::mouseClick(ui(window()).BitBtn1, Qt::LeftButton);
    EXPECT_TRUE(ui(window()).Memo1->toPlainText().isEmpty());
    log.appendLines({u"next"_s, QString()});
    EXPECT_EQ(ui(window()).Memo1->toPlainText(), u"next\n"_s);
}

TEST_F(ShellTest, GuardShowsErrorsWithTheFullStopRuleAndKeepsRunning)
{
    window().guard([] { throw kestrune::UserError(u"'abc' is not a valid integer value"_s); });
    window().guard([] { throw kestrune::UserError(u"Error (32)"_s); });
    window().guard([] { throw std::runtime_error("bad things"); });
    bool ranAfterwards = false;
    window().guard([&] { ranAfterwards = true; });
    EXPECT_EQ(prompts.errors(), QStringList({u"'abc' is not a valid integer value."_s, u"Error (32)"_s,
                                             u"bad things."_s}));
    EXPECT_TRUE(ranAfterwards);
}

// --- runner methods, with a shell script standing in for a tool

class RunnerMethodTest : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        write(u"tool.exe"_s, "#!/bin/sh\necho out line\necho err line >&2\n", true);
        window();
    }
};

TEST_F(RunnerMethodTest, XbatchRunAppendsTheCaptureAndRemovesBothFiles)
{
    write(u"xbatch.bat"_s, "tool.exe >xbatch.txt 2>&1\r\n");
    window().guard([this] { window().XbatchRun(); });
    EXPECT_EQ(ui(window()).Memo1->toPlainText(), u"out line\nerr line\n"_s);
    EXPECT_FALSE(exists(u"xbatch.txt"_s));
    EXPECT_FALSE(exists(u"xbatch.bat"_s));
    EXPECT_TRUE(prompts.events.empty());
}

TEST_F(RunnerMethodTest, MissingCommandFileIsALaunchFailure)
{
    window().guard([this] { window().XbatchRun(); });
    window().guard([this] { window().FbatchRun(); });
    window().guard([this] { window().GilbertRun(); });
    EXPECT_EQ(prompts.messages(), QStringList({u"Error in running xbatch.bat"_s, u"Error in running fbatch.bat"_s,
                                               u"Error in running gil.bat"_s}));
    EXPECT_TRUE(ui(window()).Memo1->toPlainText().isEmpty());
}

TEST_F(RunnerMethodTest, MissingCaptureKeepsTheCommandFile)
{
    write(u"xbatch.bat"_s, "tool.exe >elsewhere.txt\r\n");
    write(u"fbatch.bat"_s, "tool.exe >elsewhere.txt\r\n");
    write(u"gil.bat"_s, "tool.exe >elsewhere.txt\r\n");
    window().guard([this] { window().XbatchRun(); });
    window().guard([this] { window().FbatchRun(); });
    window().guard([this] { window().GilbertRun(); });
    EXPECT_EQ(prompts.messages(),
              QStringList({u"Error in Encoding: xbatch.txt not found!"_s, u"Error in Decoding: fbatch.txt not found!"_s,
                           u"Error in Encoding: gilout.txt not found!"_s}));
    for (const QString& name : {u"xbatch.bat"_s, u"fbatch.bat"_s, u"gil.bat"_s}) EXPECT_TRUE(exists(name));
}

TEST_F(RunnerMethodTest, FbatchAndGilbertCaptureTheirOwnFiles)
{
    write(u"fbatch.bat"_s, "tool.exe >fbatch.txt\r\n");
    write(u"gil.bat"_s, "tool.exe >gilout.txt 2>&1\r\n");
    window().guard([this] { window().FbatchRun(); });
    window().guard([this] { window().GilbertRun(); });
    EXPECT_EQ(ui(window()).Memo1->toPlainText(), u"out line\n\nout line\nerr line\n"_s);
    for (const QString& name : {u"fbatch.bat"_s, u"fbatch.txt"_s, u"gil.bat"_s, u"gilout.txt"_s})
        EXPECT_FALSE(exists(name)) << name.toStdString();
}
