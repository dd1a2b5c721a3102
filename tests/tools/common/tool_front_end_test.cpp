// The front end every tool shares, run as the workbench runs the tools: under
// a name of its own, with bad arguments, a failing run and ending signals.
#include "tests/tools/encode/tool_process.h"
#include "tools/common/tool_front_end.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace {

using kestrune::testing::ScratchDirectory;
using ::testing::HasSubstr;
using ::testing::StartsWith;

struct ToolCase {
    const char* executable;
    std::vector<std::string> badArguments;
    std::vector<std::string> failingRun;  // well-formed, but its input or output cannot be used
};

const std::vector<ToolCase>& tools()
{
    static const std::vector<ToolCase> all{
        {KESTRUNE_ENCODE_EXE, {"--bogus"}, {"missing.yuv", "-o", "out.264", "176x144"}},
        {KESTRUNE_DECODE_EXE, {"--bogus"}, {"-i", "missing.264", "-y", "out.yuv"}},
        {KESTRUNE_GILBERT_EXE, {"--bogus"}, {"5", "2", "10", "no/such/dir/g.txt"}},
        {KESTRUNE_ANALYZE_EXE, {"--bogus"}, {"missing.264", "0"}},
        {KESTRUNE_QUALITY_EXE, {"--bogus"}, {"--width", "16", "--height", "16", "a.yuv", "b.yuv"}},
        {KESTRUNE_MAKE_SAMPLE_EXE, {"--bogus"}, {"--frames", "1", "-o", "no/such/dir/x.yuv"}},
    };
    return all;
}

std::string lastLine(const std::string& text)
{
    const std::size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos) return {};
    const std::size_t start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end + 1 - (start == std::string::npos ? 0 : start + 1));
}

TEST(ToolFrontEndTest, EveryToolNamesItselfAsRunAndFollowsOneExitRule)
{
    for (const ToolCase& tool : tools()) {
        SCOPED_TRACE(tool.executable);
        ScratchDirectory dir;
        // The workbench runs the tools under names of its own, such as x264.exe.
        std::filesystem::create_symlink(tool.executable, dir / "renamed.exe");
        const std::string program = (dir / "renamed.exe").string();

        const auto help = kestrune::testing::runTool(program, {"--help"}, dir.path());
        EXPECT_EQ(help.exitCode, kestrune::kExitDone);
        EXPECT_THAT(help.out, HasSubstr(kestrune::kExitStatusHelp));

        const auto bad = kestrune::testing::runTool(program, tool.badArguments, dir.path());
        EXPECT_EQ(bad.exitCode, kestrune::kExitBadArguments);
        EXPECT_THAT(bad.err, StartsWith("renamed: "));
        EXPECT_EQ(std::count(bad.err.begin(), bad.err.end(), '\n'), 1) << bad.err;

        const auto failed = kestrune::testing::runTool(program, tool.failingRun, dir.path());
        EXPECT_EQ(failed.exitCode, kestrune::kExitFailed) << failed.err;
        EXPECT_THAT(lastLine(failed.err), StartsWith("renamed: "));
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"renamed.exe"});
    }
}

// The partial output of a tool ended by a signal is removed, whichever of
// the three signals ends it.
TEST(ToolFrontEndTest, EndingSignalsRemoveThePartialOutput)
{
    struct Run {
        const char* executable;
        std::vector<std::string> args;
        int signal;
    };
    const std::vector<Run> runs{
        {KESTRUNE_GILBERT_EXE, {"5", "2", "2000000000", "g.txt", "1"}, SIGINT},
        {KESTRUNE_GILBERT_EXE, {"5", "2", "2000000000", "g.txt", "1"}, SIGTERM},
        {KESTRUNE_GILBERT_EXE, {"5", "2", "2000000000", "g.txt", "1"}, SIGHUP},
        {KESTRUNE_MAKE_SAMPLE_EXE, {"--width", "1920", "--height", "1080", "--frames", "100000", "-o", "s.yuv"}, SIGTERM},
    };
    for (const Run& run : runs) {
        SCOPED_TRACE(std::string(run.executable) + " signal " + std::to_string(run.signal));
        ScratchDirectory dir;
        kestrune::testing::StartedTool tool(run.executable, run.args, dir.path());
        // Wait until the temporary output exists and has grown, i.e. writing is under way.
        bool writing = false;
        std::error_code ignored;
        for (int polls = 0; !writing && polls < 4000; ++polls) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
                writing = writing || (entry.path().filename().string().starts_with(".") && entry.file_size(ignored) > 0 && !ignored);
        }
        ASSERT_TRUE(writing) << "the tool never started writing";
        ::kill(tool.pid(), run.signal);
        const auto ended = tool.wait();
        EXPECT_NE(ended.exitCode, kestrune::kExitDone);
        EXPECT_TRUE(dir.entries().empty()) << dir.entries().front();
    }
}

} // namespace
