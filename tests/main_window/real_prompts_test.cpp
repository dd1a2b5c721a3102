// The real message boxes behind the window, where the recording fake cannot
// show what a user sees: an error met while the program quits, and the
// removal question that leaves the window usable.
#include "main_window/qt_prompts.h"
#include "tests/main_window/shell_fixture.h"
#include "tests/main_window/window_parts.h"

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <csignal>

using kestrune::testing::ui;

using namespace Qt::StringLiterals;

namespace {

// The visible message box, if any.
QMessageBox* openBox()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
    return nullptr;
}

class RealPrompts : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        real = std::make_unique<TForm1>(realPrompts);
    }
    void TearDown() override
    {
        real.reset();
        ShellTest::TearDown();
    }

    kestrune::QtPrompts realPrompts{u"Kestrune"_s};
    std::unique_ptr<TForm1> real;
};

// File > Exit or closing the window while a tool still writes its capture:
// the central error box is shown and answered before the program ends.
class QuitDuringAWait : public RealPrompts, public ::testing::WithParamInterface<bool> {};

TEST_P(QuitDuringAWait, ShowsTheCentralErrorBoxBeforeTheProgramEnds)
{
    const bool byExit = GetParam();
    write(u"tool.exe"_s, "#!/bin/sh\necho $$ > tool.pid\nexec sleep 5\n", true);
    write(u"xbatch.bat"_s, "tool.exe >xbatch.txt 2>&1\r\n");
    real->show();

    QStringList shown;
    QTimer answerer;  // answers each box as a user would
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        if (QMessageBox* box = openBox()) {
            shown << box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    answerer.start(20);
    QTimer::singleShot(0, [&] {
        // Runs inside the wait, once the tool has started.
        QTimer::singleShot(0, [&] { byExit ? ui(real).Exit1->trigger() : void(real->close()); });
        real->guard([&] { real->XbatchRun(); });
    });
    QTimer safety;  // a box nobody sees must not hang the run
    safety.setSingleShot(true);
    QObject::connect(&safety, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    safety.start(20000);
    EXPECT_EQ(QApplication::exec(), 0);

    EXPECT_EQ(shown, QStringList{u"Cannot open file \"%1\". The process cannot access the file because it is being used by another process."_s
                                     .arg(QFileInfo(path(u"xbatch.txt"_s)).absoluteFilePath())});
    QFile pid(path(u"tool.pid"_s));  // the tool is left running by design; the test ends it
    if (pid.open(QIODevice::ReadOnly))
        if (const int tool = pid.readAll().trimmed().toInt(); tool > 0) ::kill(tool, SIGKILL);
}

INSTANTIATE_TEST_SUITE_P(ExitOrClose, QuitDuringAWait, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Exit" : "Close"); });

TEST_F(RealPrompts, RemovalQuestionHasNoOwnerAndLeavesTheWindowUsable)
{
    real->show();
    std::vector<bool> answers;
    for (const auto answer : {QMessageBox::Yes, QMessageBox::No}) {
        bool looked = false;
        QTimer::singleShot(0, [&] {
            QMessageBox* box = openBox();
            ASSERT_NE(box, nullptr);
            looked = true;
            // No owner, and no modal window blocks input to the main window.
            EXPECT_EQ(box->parentWidget(), nullptr);
            EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
            box->button(answer)->click();
        });
        answers.push_back(realPrompts.askYesNoWarning(u"Deleting a NAL unit..."_s, u"Are you sure to delete NAL unit #"_s));
        EXPECT_TRUE(looked);
    }
    EXPECT_EQ(answers, (std::vector<bool>{true, false}));
}

} // namespace
