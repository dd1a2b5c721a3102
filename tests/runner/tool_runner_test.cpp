#include "runner/command_file.h"
#include "runner/tool_runner.h"
#include "runner/user_error.h"
#include "qt_print.h"
#include "scratch_dir_test.h"
#include "tests/support/recording_prompts.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

using namespace Qt::StringLiterals;
using namespace kestrune;

namespace {

class RecordingLog : public LogSink {
public:
    void appendLines(const QStringList& lines) override { additions.push_back(lines); }
    std::vector<QStringList> additions;
};

const ToolRun xbatch{u"xbatch.bat"_s, u"xbatch.txt"_s, u"Error in running xbatch.bat"_s,
                     u"Error in Encoding: xbatch.txt not found!"_s};

class ToolRunnerTest : public kestrune::testing::ScratchDirTest {
protected:
    void SetUp() override
    {
        ScratchDirTest::SetUp();
        installTool();
    }
    RunOutcome run(const QString& commandLine, const ToolRun& toolRun = xbatch)
    {
        writeCommandFile(toolRun.commandFile, commandLine);
        return runner.run(toolRun);
    }

    kestrune::testing::RecordingPrompts prompts;
    RecordingLog log;
    ToolRunner runner{prompts, log};
};

// State letter of a process from /proc ('Z' for a zombie), or 0 when gone.
char processState(pid_t pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return 0;
    const QByteArray text = stat.readAll();
    qsizetype close = text.lastIndexOf(')');
    return close >= 0 && close + 2 < text.size() ? text[close + 2] : 0;
}

} // namespace

TEST(CaptureLines, EveryLineBreakKindAndTheTrailingEmptyLine)
{
    EXPECT_EQ(captureLines("a\r\nb\rc\nd"), (QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s}));
    EXPECT_EQ(captureLines("done\r\n"), (QStringList{u"done"_s, QString()}));
    EXPECT_EQ(captureLines(""), (QStringList{QString()}));
    EXPECT_EQ(captureLines("\n\r"), (QStringList{QString(), QString(), QString()}));
    EXPECT_EQ(captureLines("x\r\r\ny"), (QStringList{u"x"_s, QString(), u"y"_s}));
    EXPECT_EQ(captureLines("tab\tand \x1a kept"), (QStringList{u"tab\tand \x1a kept"_s}));
}

TEST_F(ToolRunnerTest, StdoutAndStderrReachTheLogAsOneAdditionThenFilesAreDeleted)
{
    installTool(u"x264.exe"_s);
    EXPECT_EQ(run(u"x264 out:encoded\\r\\nframes:3\\n err:warning\\r >xbatch.txt 2>&1"_s), RunOutcome::Captured);
    ASSERT_EQ(log.additions.size(), 1u);
    EXPECT_EQ(log.additions[0], (QStringList{u"encoded"_s, u"frames:3"_s, u"warning"_s, QString()}));
    EXPECT_TRUE(prompts.events.empty());
    EXPECT_FALSE(QFile::exists(u"xbatch.txt"_s));
    EXPECT_FALSE(QFile::exists(u"xbatch.bat"_s));
}

TEST_F(ToolRunnerTest, ToolFailureIsNotExaminedAndSilenceGivesOneEmptyLine)
{
    EXPECT_EQ(run(u"faketool exit:5 >xbatch.txt 2>&1"_s), RunOutcome::Captured);
    ASSERT_EQ(log.additions.size(), 1u);
    EXPECT_EQ(log.additions[0], QStringList{QString()});
    EXPECT_TRUE(prompts.events.empty());
}

TEST_F(ToolRunnerTest, MissingToolShowsTheInterpreterMessageInTheLog)
{
    const ToolRun gil{u"gil.bat"_s, u"gilout.txt"_s, u"Error in running gil.bat"_s,
                      u"Error in Encoding: gilout.txt not found!"_s};
    EXPECT_EQ(run(u"gilbert.exe 0.01 0.5 100 >gilout.txt 2>&1"_s, gil), RunOutcome::Captured);
    ASSERT_EQ(log.additions.size(), 1u);
    EXPECT_EQ(log.additions[0], (QStringList{u"'gilbert.exe' is not recognized as an internal or external command,"_s,
                                             u"operable program or batch file."_s, QString()}));
}

TEST_F(ToolRunnerTest, MissingCaptureKeepsTheCommandFileAndTellsTheUser)
{
    EXPECT_EQ(run(u"faketool >elsewhere.txt"_s), RunOutcome::CaptureMissing);
    EXPECT_EQ(prompts.messages(), QStringList{u"Error in Encoding: xbatch.txt not found!"_s});
    EXPECT_TRUE(log.additions.empty());
    EXPECT_TRUE(QFile::exists(u"xbatch.bat"_s));

    // The next run of the same method overwrites it and succeeds.
    EXPECT_EQ(run(u"faketool out:ok >xbatch.txt"_s), RunOutcome::Captured);
    EXPECT_FALSE(QFile::exists(u"xbatch.bat"_s));
}

TEST_F(ToolRunnerTest, MissingCommandFileIsAFailedLaunch)
{
    EXPECT_EQ(runner.run(xbatch), RunOutcome::LaunchFailed);
    EXPECT_EQ(prompts.messages(), QStringList{u"Error in running xbatch.bat"_s});
    EXPECT_TRUE(log.additions.empty());
}

TEST_F(ToolRunnerTest, AppendFileToLogReportsWhetherTheFileExisted)
{
    WaitResult finished;
    finished.launched = true;
    EXPECT_FALSE(runner.appendFileToLog(u"debug.txt"_s, finished));
    write(u"debug.txt"_s, "nal 1\r\nnal 2\r\n");
    EXPECT_TRUE(runner.appendFileToLog(u"debug.txt"_s, finished));
    EXPECT_FALSE(QFile::exists(u"debug.txt"_s));
    ASSERT_EQ(log.additions.size(), 1u);
    EXPECT_EQ(log.additions[0], (QStringList{u"nal 1"_s, u"nal 2"_s, QString()}));

    // A missing file is reported as missing even while the tool still runs.
    WaitResult interrupted = finished;
    interrupted.stillRunning = true;
    EXPECT_FALSE(runner.appendFileToLog(u"debug.txt"_s, interrupted));
}

TEST_F(ToolRunnerTest, NestedRunsEachCaptureTheirOwnOutput)
{
    const ToolRun fbatch{u"fbatch.bat"_s, u"fbatch.txt"_s, u"Error in running fbatch.bat"_s,
                         u"Error in Decoding: fbatch.txt not found!"_s};
    RunOutcome inner = RunOutcome::LaunchFailed;
    // Started from inside the outer wait, like a click during an encode;
    // the outer tool ends while the inner wait is still running.
    QTimer::singleShot(0, [&] { inner = run(u"faketool sleep:400 out:inner >fbatch.txt"_s, fbatch); });
    EXPECT_EQ(run(u"faketool sleep:100 out:outer >xbatch.txt"_s), RunOutcome::Captured);
    EXPECT_EQ(inner, RunOutcome::Captured);
    ASSERT_EQ(log.additions.size(), 2u);
    EXPECT_EQ(log.additions[0], QStringList{u"inner"_s});
    EXPECT_EQ(log.additions[1], QStringList{u"outer"_s});
    EXPECT_TRUE(prompts.events.empty());
}

// File > Exit asks the application to exit; closing the last window quits it.
// The parameter: true for quit(), false for exit().
class QuitDuringWaitTest : public ToolRunnerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(QuitDuringWaitTest, ReportsTheCaptureAndLeavesTheToolRunning)
{
    const auto askToQuit = GetParam() ? +[] { QCoreApplication::quit(); } : +[] { QCoreApplication::exit(0); };
    writeCommandFile(xbatch.commandFile, u"faketool pid:tool.pid sleep:5000 out:late >xbatch.txt 2>&1"_s);
    QString error = u"<none>"_s;
    bool returned = false;
    QTimer::singleShot(0, [&] {
        // Quit once the tool has really started, from inside the wait.
        auto* poll = new QTimer(QCoreApplication::instance());
        QObject::connect(poll, &QTimer::timeout, [poll, askToQuit, this] {
            if (QFile::exists(path(u"tool.pid"_s)) && contents(u"tool.pid"_s).endsWith('\n')) {
                poll->deleteLater();
                askToQuit();
            }
        });
        poll->start(10);
        try {
            runner.run(xbatch);
        } catch (const UserError& e) {
            error = e.text();
        }
        returned = true;
    });
    QCoreApplication::exec();

    EXPECT_TRUE(returned);
    EXPECT_EQ(error, u"Cannot open file \"%1\". The process cannot access the file because it is being used by another process."_s
                         .arg(QFileInfo(path(u"xbatch.txt"_s)).absoluteFilePath()));
    EXPECT_TRUE(log.additions.empty());
    EXPECT_TRUE(prompts.events.empty());
    EXPECT_TRUE(QFile::exists(u"xbatch.txt"_s));
    EXPECT_TRUE(QFile::exists(u"xbatch.bat"_s));

    bool ok = false;
    const pid_t pid = contents(u"tool.pid"_s).trimmed().toInt(&ok);
    ASSERT_TRUE(ok);
    const char state = processState(pid);
    EXPECT_TRUE(state != 0 && state != 'Z') << "state " << state;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

INSTANTIATE_TEST_SUITE_P(ExitOrQuit, QuitDuringWaitTest,
                         ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Quit" : "Exit"); });
