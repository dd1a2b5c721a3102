#include "tools/gilbert/gilbert_model.h"
#include "tools/gilbert/gilbert_tool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace kestrune::gilbert;
namespace fs = std::filesystem;

namespace {

PatternStats simulate(int lossPercent, int burst, std::uint32_t seed, int count)
{
    std::string error;
    const auto model = makeModel(lossPercent, burst, error);
    EXPECT_TRUE(model) << error;
    GilbertChannel channel(*model, seed);
    PatternStats stats;
    bool previous = true;
    for (int i = 0; i < count; ++i) {
        const bool delivered = channel.nextDelivered();
        stats.add(delivered, previous);
        previous = delivered;
    }
    return stats;
}

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class GilbertTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("kestrune_gilbert_" + std::to_string(::getpid()) + "_"
                                           + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        file = (dir / "gilbert.txt").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    int run(const std::vector<std::string>& args)
    {
        out.str({});
        err.str({});
        return runGilbert(args, out, err, "gilbert", [] { return 777u; });
    }

    fs::path dir;
    std::string file;
    std::ostringstream out;
    std::ostringstream err;
};

} // namespace

TEST(GilbertModel, TransitionProbabilitiesFollowFromLossRateAndBurstLength)
{
    std::string error;
    auto m = makeModel(5, 2, error);
    ASSERT_TRUE(m);
    EXPECT_DOUBLE_EQ(m->q, 0.5);
    EXPECT_DOUBLE_EQ(m->p, 0.05 / (2 * 0.95));
    m = makeModel(50, 1, error);  // the largest rate a burst length of 1 allows: p = 1
    ASSERT_TRUE(m);
    EXPECT_DOUBLE_EQ(m->p, 1.0);
}

TEST(GilbertModel, LongRunsMatchTheTargetLossRateAndBurstLength)
{
    struct Case { int loss, burst; };
    for (const Case c : {Case{5, 2}, Case{10, 1}, Case{20, 5}, Case{40, 3}, Case{3, 1}}) {
        const PatternStats s = simulate(c.loss, c.burst, 2024, 1'000'000);
        SCOPED_TRACE(::testing::Message() << "loss " << c.loss << " burst " << c.burst);
        EXPECT_NEAR(s.lossRate(), c.loss / 100.0, 0.02 * c.loss / 100.0);
        EXPECT_NEAR(s.meanBurstLength(), c.burst, 0.05 * c.burst);
    }
}

TEST(GilbertModel, ExtremesLoseNothingOrEverything)
{
    const PatternStats none = simulate(0, 3, 1, 10'000);
    EXPECT_EQ(none.lost, 0u);
    const PatternStats all = simulate(100, 3, 1, 10'000);
    EXPECT_EQ(all.lost, 10'000u);
    EXPECT_EQ(all.bursts, 1u);
}

TEST(GilbertModel, TheEngineAndItsMappingAreTheStandardOnes)
{
    // mt19937_64's 10000th output for the default seed is fixed by the C++
    // standard; a different engine would not give portable patterns.
    std::mt19937_64 engine;
    engine.discard(9999);
    EXPECT_EQ(engine(), 9981545732273789042ull);
    EXPECT_EQ(toUnitInterval(0), 0.0);
    EXPECT_LT(toUnitInterval(~0ull), 1.0);
    EXPECT_EQ(toUnitInterval(1ull << 63), 0.5);
}

TEST_F(GilbertTool, WritesCountLinesWithCrLfAndRepeatsForTheSameSeed)
{
    ASSERT_EQ(run({"5", "2", "300", file, "42"}), 0) << err.str();
    const std::string first = readText(file);
    EXPECT_EQ(first.size(), 900u);
    for (std::size_t i = 0; i < first.size(); i += 3) {
        ASSERT_TRUE(first[i] == '0' || first[i] == '1');
        ASSERT_EQ(first.substr(i + 1, 2), "\r\n");
    }
    EXPECT_NE(out.str().find("seed: 42\n"), std::string::npos);
    ASSERT_EQ(run({"5", "2", "300", file, "42"}), 0);
    EXPECT_EQ(readText(file), first);
    ASSERT_EQ(run({"5", "2", "300", file, "43"}), 0);
    EXPECT_NE(readText(file), first);
    // Without a seed the clock's is used and printed so the run can be repeated.
    ASSERT_EQ(run({"5", "2", "300", file}), 0);
    EXPECT_NE(out.str().find("seed: 777 (from the clock"), std::string::npos) << out.str();
    const std::string clocked = readText(file);
    ASSERT_EQ(run({"5", "2", "300", file, "777"}), 0);
    EXPECT_EQ(readText(file), clocked);
}

TEST_F(GilbertTool, ReportsParametersAndRealisedStatistics)
{
    ASSERT_EQ(run({"100", "2", "10", file, "$10"}), 0);
    EXPECT_EQ(readText(file), "0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n");
    EXPECT_NE(out.str().find("10 lost (realised loss rate 100%), 1 bursts, realised mean burst length 10"), std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("seed: 16"), std::string::npos);
    ASSERT_EQ(run({"0", "1", "0", file, "1"}), 0);
    EXPECT_EQ(readText(file), "");
    EXPECT_NE(out.str().find("Wrote 0 values"), std::string::npos);
}

TEST_F(GilbertTool, RefusesBadParametersWithOneLineAndWritesNothing)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"5", "0", "10", file}, "at least 1"},
        {{"5", "-3", "10", file}, "at least 1"},
        {{"-1", "2", "10", file}, "0 to 100"},
        {{"101", "2", "10", file}, "0 to 100"},
        {{"51", "1", "10", file}, "the largest is 50%"},
        {{"67", "2", "10", file}, "the largest is 66%"},
        {{"5", "2", "-1", file}, "0 or more"},
        {{"5.5", "2", "10", file}, "\"5.5\" is not an integer"},
        {{"5", "2", "10", file, "seed"}, "seed \"seed\""},
        {{"5", "2", "10"}, "expected LOSS BURST COUNT FILE"},
        {{"5", "2", "10", (dir / "no" / "such" / "dir.txt").string()}, "cannot create"},
    };
    for (const auto& [args, text] : cases) {
        // A bad command line exits with 2; an output that cannot be written is a failed run (1).
        EXPECT_EQ(run(args), text == "cannot create" ? 1 : 2);
        const std::string message = err.str();
        EXPECT_NE(message.find(text), std::string::npos) << message;
        EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
        EXPECT_EQ(message.rfind("gilbert: ", 0), 0u);
    }
    EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(GilbertTool, TheProgramRunsFromItsCommandLine)
{
    const std::string command = "cd '" + dir.string() + "' && '" KESTRUNE_GILBERT_EXE "' 5 2 300 gilbert.txt 9 >gilout.txt 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(readText(dir / "gilbert.txt").size(), 900u);
    EXPECT_NE(readText(dir / "gilout.txt").find("seed: 9"), std::string::npos);
    const std::string help = "'" KESTRUNE_GILBERT_EXE "' --help >'" + (dir / "help.txt").string() + "'";
    ASSERT_EQ(std::system(help.c_str()), 0);
    EXPECT_NE(readText(dir / "help.txt").find("LOSS BURST COUNT FILE [SEED]"), std::string::npos);
}
