#include "runner/launch.h"
#include "qt_print.h"
#include "scratch_dir_test.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace kestrune;

namespace {

class LaunchTest : public kestrune::testing::ScratchDirTest {
protected:
    void SetUp() override
    {
        ScratchDirTest::SetUp();
        installTool();
    }
};

} // namespace

TEST_F(LaunchTest, StdoutAndStderrFollowTheRedirectionsInOrder)
{
    EXPECT_EQ(runCommandLine(u"faketool out:O err:E >both.txt 2>&1"_s).exitCode, 0);
    EXPECT_EQ(contents(u"both.txt"_s), "OE");

    // "2>&1" takes standard output as it is at that point: a later ">f"
    // moves only standard output.
    runCommandLine(u"faketool out:O err:E >first.txt 2>&1 >second.txt"_s);
    EXPECT_EQ(contents(u"first.txt"_s), "E");
    EXPECT_EQ(contents(u"second.txt"_s), "O");

    runCommandLine(u">front.txt faketool out:F"_s);
    EXPECT_EQ(contents(u"front.txt"_s), "F");
    runCommandLine(u"faketool out:G 1>> front.txt"_s);
    EXPECT_EQ(contents(u"front.txt"_s), "FG");
}

TEST_F(LaunchTest, StandardInputFromAFileAndArgumentsAsSplit)
{
    write(u"in.txt"_s, "fed\n");
    runCommandLine(u"faketool stdin <in.txt >out.txt"_s);
    EXPECT_EQ(contents(u"out.txt"_s), "fed\n");

    // An escaped quote neither opens nor closes quotes, so the redirection still counts.
    runCommandLine(uR"(faketool args "a b" c\"d "my \"file\".264" >"arg list.txt")"_s);
    EXPECT_EQ(contents(u"arg list.txt"_s), "[args]\n[a b]\n[c\"d]\n[my \"file\".264]\n");
}

TEST_F(LaunchTest, ProgramNamesResolveLikeTheCommandInterpreter)
{
    EXPECT_EQ(runCommandLine(u"FakeTool.EXE exit:3"_s).exitCode, 3);
    EXPECT_EQ(runCommandLine(u"faketool.exe exit:4"_s).exitCode, 4);
    ASSERT_TRUE(QDir().mkdir(u"sub dir"_s));
    installTool(u"sub dir/Other.exe"_s);
    EXPECT_EQ(runCommandLine(u"\"sub dir/other\" out:sub >o.txt"_s).exitCode, 0);
    EXPECT_EQ(contents(u"o.txt"_s), "sub");
}

TEST_F(LaunchTest, AMissingProgramWritesTheMessageToRedirectedStderr)
{
    auto result = runCommandLine(u"Gilbert.exe 0.1 0.5 >gilout.txt 2>&1"_s);
    EXPECT_TRUE(result.launched);
    EXPECT_EQ(result.exitCode, 9009);
    EXPECT_EQ(contents(u"gilout.txt"_s),
              "'Gilbert.exe' is not recognized as an internal or external command,\r\noperable program or batch file.\r\n");

    // Standard output alone redirected: the capture exists and stays empty.
    EXPECT_EQ(runCommandLine(u"nosuch >cap.txt 2>err.txt"_s).exitCode, 9009);
    EXPECT_EQ(contents(u"cap.txt"_s), "");
    EXPECT_TRUE(contents(u"err.txt"_s).startsWith("'nosuch' is not recognized"));
}

TEST_F(LaunchTest, NothingInTheLineCanStartAnotherCommand)
{
    runCommandLine(u"faketool args & touch pwned ; touch pwned2 | touch pwned3 $(touch pwned4) >o.txt"_s);
    for (const char* name : {"pwned", "pwned2", "pwned3", "pwned4"}) EXPECT_FALSE(QFile::exists(QString::fromLatin1(name)));
    EXPECT_TRUE(contents(u"o.txt"_s).contains("[&]\n[touch]\n[pwned]\n[;]"));
}

TEST_F(LaunchTest, UnusableRedirectionRunsNothing)
{
    auto result = runCommandLine(u"faketool out:x >missing/dir/cap.txt"_s);
    EXPECT_TRUE(result.launched);
    EXPECT_NE(result.exitCode, 0);
    EXPECT_FALSE(QFile::exists(u"missing"_s));
}

TEST_F(LaunchTest, CommandFileFirstLineIsRun)
{
    write(u"xbatch.bat"_s, "faketool out:from-file >xbatch.txt\r\n");
    auto result = runCommandFile(u"xbatch.bat"_s);
    EXPECT_TRUE(result.launched);
    EXPECT_FALSE(result.stillRunning);
    EXPECT_EQ(contents(u"xbatch.txt"_s), "from-file");

    auto missing = runCommandFile(u"nothere.bat"_s);
    EXPECT_FALSE(missing.launched);
    EXPECT_EQ(missing.launchError, u"File not found"_s);
}

TEST_F(LaunchTest, DirectLaunchPassesTheFileAsOneArgument)
{
    auto played = launchAndWait(path(u"faketool.exe"_s), {u"save:decoded \"clip\" 1.yuv"_s});
    EXPECT_TRUE(played.launched);
    EXPECT_FALSE(played.stillRunning);
    EXPECT_EQ(contents(u"decoded \"clip\" 1.yuv"_s), "[save:decoded \"clip\" 1.yuv]\n");
    EXPECT_EQ(launchAndWait(path(u"faketool.exe"_s), {u"exit:7"_s}).exitCode, 7);

    EXPECT_FALSE(launchAndWait(path(u"no-player"_s), {u"a.264"_s}).launched);
    write(u"notes.txt"_s, "not a program");
    auto notExecutable = launchAndWait(path(u"notes.txt"_s), {});
    EXPECT_FALSE(notExecutable.launched);
    EXPECT_FALSE(notExecutable.launchError.isEmpty());
}
