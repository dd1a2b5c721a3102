#include "tools/analyze/analyzer.h"
#include "tools/analyze/pattern_reader.h"
#include "tools/bitstream/bitstream.h"
#include "tests/tools/bitstream/encoded_stream.h"
#include "tests/tools/bitstream/stream_builder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace kestrune;
using namespace kestrune::h264;
namespace t = kestrune::h264::testing;
namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> readBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string readText(const fs::path& path)
{
    const auto bytes = readBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

long lineCount(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

void writeBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<NalUnit> units(const std::vector<std::uint8_t>& bytes)
{
    AnnexBReader reader(bytes);
    std::vector<NalUnit> all;
    NalUnit u;
    while (reader.next(u)) all.push_back(u);
    return all;
}

// The input without the stretches of the given NAL units (1-based).
std::vector<std::uint8_t> without(const std::vector<std::uint8_t>& bytes, const std::vector<std::uint64_t>& numbers)
{
    const auto all = units(bytes);
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const std::uint64_t end = i + 1 < all.size() ? all[i + 1].spanOffset : bytes.size();
        if (std::find(numbers.begin(), numbers.end(), i + 1) != numbers.end()) continue;
        out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(all[i].spanOffset), bytes.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return out;
}

// A hand-made stream exercising every counting rule:
//  1 SPS, 2 PPS, 3 SEI, 4 IDR, 5 P, 6 B, 7 AUD, 8 SI, 9 SP, 10 partition A (P),
// 11 partition B, 12 partition C, 13 filler.
std::vector<std::uint8_t> countingStream()
{
    const t::SpsFields sps;
    const t::PpsFields pps;
    auto slice = [&](int type, int sliceType, int frameNum, int refIdc, int sliceId = -1) {
        t::SliceFields f;
        f.slice_type = sliceType;
        f.frame_num = frameNum;
        f.poc_lsb = frameNum * 2;
        f.slice_id = sliceId;
        return t::nal(refIdc, type, t::sliceRbsp(f, sps, pps, type == NalIdrSlice, refIdc));
    };
    return t::annexB({t::nal(3, NalSps, t::spsRbsp(sps)), t::nal(3, NalPps, t::ppsRbsp(pps)),
                      std::vector<std::uint8_t>{0x06, 0x05, 0x01, 0x00, 0x80}, slice(NalIdrSlice, 7, 0, 3),
                      slice(NalSlice, 0, 1, 2), slice(NalSlice, 1, 2, 0), std::vector<std::uint8_t>{0x09, 0x10},
                      slice(NalSlice, 9, 2, 2), slice(NalSlice, 8, 3, 2), slice(NalPartitionA, 5, 4, 2, 0),
                      std::vector<std::uint8_t>{0x43, 0x80}, std::vector<std::uint8_t>{0x44, 0x80},
                      std::vector<std::uint8_t>{0x0C, 0xFF, 0xFF, 0x80}},
                     {4, 3, 3});
}

class Analyzer : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("kestrune_analyze_" + std::to_string(::getpid()) + "_"
                                           + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        stream = dir / "stream.264";
    }
    void TearDown() override { fs::remove_all(dir); }

    int run(std::vector<std::string> args)
    {
        out.str({});
        err.str({});
        return analyze::runAnalyzer(args, dir, out, err, "h264_analyze");
    }
    std::vector<std::string> leftovers() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir;
    fs::path stream;
    std::ostringstream out;
    std::ostringstream err;
};

} // namespace

TEST_F(Analyzer, SummaryCountsEveryKindOfNalUnitByTheRules)
{
    writeBytes(stream, countingStream());
    ASSERT_EQ(run({stream.string(), "0"}), 0) << err.str();
    EXPECT_EQ(readText(dir / "general.txt"),
              "13\r\n1\r\n1\r\n1\r\n2\r\n3\r\n1\r\n"
              "3\r\n1\r\n2\r\n4 8\r\n5 9 10\r\n6\r\n");
    const std::string report = out.str();
    EXPECT_NE(report.find("Profile: Baseline, level 3.0"), std::string::npos) << report;
    EXPECT_NE(report.find("Resolution: 176x144"), std::string::npos);
    EXPECT_NE(report.find("Entropy coder: CAVLC"), std::string::npos);
    EXPECT_NE(report.find("Slices: I 2, P 3, B 1"), std::string::npos);
    EXPECT_NE(report.find("Warnings: none"), std::string::npos);
    EXPECT_NE(report.find("Frame rate: not signalled"), std::string::npos);
}

TEST_F(Analyzer, SummaryOfAnEncodedStreamMatchesItsNalUnitsAndReportsTheirShape)
{
    t::EncodeOptions options;
    options.frames = 20;
    options.slices = 2;
    const auto encoded = t::encodeTestStream(options);
    writeBytes(stream, encoded.bytes);
    ASSERT_EQ(run({stream.string(), "0"}), 0) << err.str();
    std::istringstream general(readText(dir / "general.txt"));
    std::uint64_t v[7];
    for (auto& x : v) general >> x;
    EXPECT_EQ(v[0], static_cast<std::uint64_t>(encoded.nalUnits));
    EXPECT_EQ(v[4] + v[5] + v[6], static_cast<std::uint64_t>(encoded.frames * 2));
    EXPECT_GT(v[6], 0u);  // B slices exist and come last
    std::vector<std::uint64_t> numbers;
    for (std::uint64_t n; general >> n;) numbers.push_back(n);
    EXPECT_EQ(numbers.size(), v[1] + v[2] + v[3] + v[4] + v[5] + v[6]);
    const std::string report = out.str();
    EXPECT_NE(report.find("Pictures: 20"), std::string::npos) << report;
    EXPECT_NE(report.find("Slices per picture: 2"), std::string::npos);
    EXPECT_NE(report.find("Frame rate: 25 frames/s"), std::string::npos);
    EXPECT_NE(report.find("Entropy coder: CABAC"), std::string::npos);
    EXPECT_NE(report.find("Profile: High"), std::string::npos);
}

TEST_F(Analyzer, SummaryWarnsAboutDamageButStillCountsEveryNalUnit)
{
    auto bytes = countingStream();
    bytes.insert(bytes.begin(), {0x12, 0x34});                        // garbage before the first start code
    bytes.insert(bytes.end(), {0x00, 0x00, 0x01, 0xE1, 0x00, 0x80});  // forbidden bit set
    bytes.insert(bytes.end(), {0x00, 0x00, 0x01, 0x17, 0x00});        // reserved type 23
    bytes.insert(bytes.end(), {0x00, 0x00, 0x01, 0x67, 0x42});        // truncated SPS
    writeBytes(stream, bytes);
    ASSERT_EQ(run({stream.string(), "0"}), 0);
    EXPECT_EQ(readText(dir / "general.txt").substr(0, 4), "16\r\n");
    const std::string report = out.str();
    EXPECT_NE(report.find("Warnings: 4"), std::string::npos) << report;
    EXPECT_NE(report.find("forbidden_zero_bit"), std::string::npos);
    EXPECT_NE(report.find("RSV23"), std::string::npos);
    EXPECT_NE(report.find("NAL unit 16 (SPS at byte"), std::string::npos);
    EXPECT_NE(report.find("truncated"), std::string::npos);
    EXPECT_NE(report.find("2 non-zero bytes before the first start code"), std::string::npos);
}

TEST_F(Analyzer, UnreadableStreamRemovesTheOldSummaryAndFails)
{
    writeBytes(dir / "general.txt", {'9', '\r', '\n'});
    EXPECT_NE(run({(dir / "missing.264").string(), "0"}), 0);
    EXPECT_FALSE(fs::exists(dir / "general.txt"));
    EXPECT_EQ(lineCount(err.str()), 1);
    EXPECT_NE(err.str().find("missing.264"), std::string::npos);
    // A directory is not a stream either.
    writeBytes(dir / "general.txt", {'9'});
    EXPECT_NE(run({dir.string(), "0"}), 0);
    EXPECT_FALSE(fs::exists(dir / "general.txt"));
}

TEST_F(Analyzer, EmptyFileGivesAnAllZeroSummary)
{
    writeBytes(stream, {});
    ASSERT_EQ(run({stream.string(), "0"}), 0);
    EXPECT_EQ(readText(dir / "general.txt"), "0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n\r\n\r\n\r\n\r\n\r\n\r\n");
    EXPECT_NE(out.str().find("No NAL units found"), std::string::npos);
}

TEST_F(Analyzer, ApplyingALossPatternLeavesOutExactlyTheDroppedNalUnits)
{
    const auto bytes = countingStream();
    writeBytes(stream, bytes);
    writeBytes(dir / "general.txt", {'k', 'e', 'e', 'p'});
    // Units 2, 5 and 6 lost; 12 and 13 marked lost too but at or above the count.
    writeBytes(dir / "gilbert.txt", {'1', '\r', '\n', '0', '\r', '\n', '1', ' ', '1', '\t', '0', '\n', '0', '\n',
                                     '1', '\n', '1', '\n', '1', '\n', '1', '\n', '1', '\n', '0', '\n', '0', '\n'});
    const fs::path output = dir / "channel.264";
    ASSERT_EQ(run({stream.string(), "1", (dir / "gilbert.txt").string(), "12", output.string()}), 0) << err.str();
    EXPECT_EQ(readBytes(output), without(bytes, {2, 5, 6}));
    EXPECT_EQ(units(readBytes(output)).size(), 10u);
    EXPECT_NE(out.str().find("Dropped 3 NAL units"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find(": 2,5,6\n"), std::string::npos);
    EXPECT_EQ(readText(dir / "general.txt"), "keep");
}

TEST_F(Analyzer, AShortLossPatternLosesTheRestBelowTheCountAsTheWindowReadsIt)
{
    const auto bytes = countingStream();
    writeBytes(stream, bytes);
    writeBytes(dir / "gilbert.txt", {'1', ' ', '1', ' ', '1', 0x1A, '1', ' ', '1'});  // 0x1A ends the file
    const fs::path output = dir / "channel.264";
    ASSERT_EQ(run({stream.string(), "1", (dir / "gilbert.txt").string(), "6", output.string()}), 0) << err.str();
    EXPECT_EQ(readBytes(output), without(bytes, {4, 5}));
}

TEST_F(Analyzer, ABadLossPatternWritesNothing)
{
    writeBytes(stream, countingStream());
    const fs::path output = dir / "channel.264";
    writeBytes(output, {'o', 'l', 'd'});
    writeBytes(dir / "gilbert.txt", {'1', ' ', '0', '.', '5'});
    EXPECT_NE(run({stream.string(), "1", (dir / "gilbert.txt").string(), "12", output.string()}), 0);
    EXPECT_NE(err.str().find("\"0.5\" is not an integer"), std::string::npos) << err.str();
    EXPECT_EQ(readText(output), "old");
    EXPECT_NE(run({stream.string(), "1", (dir / "nothere.txt").string(), "12", output.string()}), 0);
    EXPECT_NE(run({stream.string(), "1", (dir / "gilbert.txt").string(), "twelve", output.string()}), 0);
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"channel.264", "gilbert.txt", "stream.264"}));
}

TEST_F(Analyzer, DescribesEachKindOfNalUnitWithItsSyntaxElements)
{
    writeBytes(stream, countingStream());
    ASSERT_EQ(run({stream.string(), "2", "1"}), 0) << err.str();
    std::string text = readText(dir / "debug.txt");
    EXPECT_NE(text.find("NAL unit 1 of "), std::string::npos);
    EXPECT_NE(text.find("byte offset: 4 (with its start code from byte 0)\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("type: 7, Sequence parameter set (SPS)"), std::string::npos);
    EXPECT_NE(text.find("  pic_width_in_mbs_minus1 = 10\r\n"), std::string::npos);
    EXPECT_NE(text.find("  frame_cropping_flag = 0\r\n"), std::string::npos);

    ASSERT_EQ(run({stream.string(), "2", "5"}), 0);
    text = readText(dir / "debug.txt");
    EXPECT_NE(text.find("slice kind: P"), std::string::npos) << text;
    EXPECT_NE(text.find("  frame_num = 1\r\n"), std::string::npos);
    EXPECT_NE(text.find("  slice_qp_delta = 2\r\n"), std::string::npos);

    ASSERT_EQ(run({stream.string(), "2", "3"}), 0);
    EXPECT_NE(readText(dir / "debug.txt").find("sei_message[0].payloadType = 5 (user_data_unregistered)"), std::string::npos);

    ASSERT_EQ(run({stream.string(), "2", "$d"}), 0);  // the window's hexadecimal syntax
    text = readText(dir / "debug.txt");
    EXPECT_NE(text.find("Filler data"), std::string::npos);
    EXPECT_NE(text.find("  ff ff 80\r\n"), std::string::npos) << text;
}

TEST_F(Analyzer, DescribingANumberOutsideTheStreamSaysSoInDebugTxt)
{
    writeBytes(stream, countingStream());
    for (const char* number : {"0", "14", "-1"}) {
        EXPECT_NE(run({stream.string(), "2", number}), 0);
        const std::string text = readText(dir / "debug.txt");
        EXPECT_NE(text.find("does not exist"), std::string::npos) << text;
        EXPECT_NE(text.find("has 13 NAL units"), std::string::npos);
    }
    EXPECT_NE(run({(dir / "missing.264").string(), "2", "1"}), 0);
    EXPECT_NE(readText(dir / "debug.txt").find("missing.264"), std::string::npos);
}

TEST_F(Analyzer, RemovingANalUnitRewritesTheStreamWithoutIt)
{
    const auto bytes = countingStream();
    for (std::uint64_t n : {1u, 7u, 13u}) {
        writeBytes(stream, bytes);
        ASSERT_EQ(run({stream.string(), "3", std::to_string(n)}), 0) << err.str();
        EXPECT_EQ(readBytes(stream), without(bytes, {n}));
        EXPECT_NE(out.str().find("12 NAL units remain"), std::string::npos) << out.str();
    }
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"stream.264"}));
}

TEST_F(Analyzer, RemovingANalUnitThatDoesNotExistLeavesTheStreamAlone)
{
    const auto bytes = countingStream();
    writeBytes(stream, bytes);
    EXPECT_NE(run({stream.string(), "3", "14"}), 0);
    EXPECT_NE(err.str().find("unchanged"), std::string::npos);
    EXPECT_EQ(readBytes(stream), bytes);
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"stream.264"}));
}

TEST_F(Analyzer, RefusesMalformedCommandLinesWithOneLine)
{
    writeBytes(stream, countingStream());
    const std::vector<std::vector<std::string>> bad{
        {}, {stream.string()}, {stream.string(), "4"}, {stream.string(), "zero"}, {stream.string(), "0", "extra"},
        {stream.string(), "1", "gilbert.txt", "5"}, {stream.string(), "2"}, {stream.string(), "3", "1", "2"}};
    for (const auto& args : bad) {
        EXPECT_EQ(run(args), 2);
        EXPECT_EQ(lineCount(err.str()), 1) << err.str();
        EXPECT_EQ(err.str().rfind("h264_analyze: ", 0), 0u);
    }
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_NE(out.str().find("STREAM 1 PATTERN COUNT OUTPUT"), std::string::npos);
    EXPECT_EQ(leftovers(), (std::vector<std::string>{"stream.264"}));
}

TEST_F(Analyzer, TheProgramWritesGeneralTxtInItsCurrentDirectory)
{
    writeBytes(stream, countingStream());
    const std::string command = "cd '" + dir.string() + "' && '" KESTRUNE_ANALYZE_EXE "' stream.264 0 >analyze.txt";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(readText(dir / "general.txt").substr(0, 4), "13\r\n");
    EXPECT_NE(readText(dir / "analyze.txt").find("NAL units: 13"), std::string::npos);
    // The window captures only standard output here: the reason reaches it too.
    const std::string bad = "cd '" + dir.string() + "' && '" KESTRUNE_ANALYZE_EXE "' nothing.264 0 >analyze.txt 2>err.txt";
    EXPECT_NE(std::system(bad.c_str()), 0);
    EXPECT_EQ(readText(dir / "err.txt").rfind("kestrune-analyze: cannot read nothing.264", 0), 0u) << readText(dir / "err.txt");
    EXPECT_EQ(readText(dir / "analyze.txt"), readText(dir / "err.txt"));
    // With both redirected to one file the line appears once.
    const std::string both = "cd '" + dir.string() + "' && '" KESTRUNE_ANALYZE_EXE "' nothing.264 3 1 >analyze.txt 2>&1";
    EXPECT_NE(std::system(both.c_str()), 0);
    EXPECT_EQ(lineCount(readText(dir / "analyze.txt")), 1) << readText(dir / "analyze.txt");
}

TEST(PatternReader, ReadsNumbersByTheWorkbenchTextRules)
{
    const fs::path path = fs::temp_directory_path() / ("kestrune_pattern_" + std::to_string(::getpid()) + ".txt");
    // 0x1A ends the file; a run longer than 32 bytes is read as two numbers.
    const std::string text = " 1\t\r\n-0 $1f\x01" "7 " + std::string(31, '0') + "12" + "\x1a" "5";
    writeBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
    analyze::PatternReader reader(path);
    ASSERT_TRUE(reader.isOpen());
    const std::vector<std::int32_t> expected{1, 0, 31, 7, 1, 2, 0, 0};
    for (std::int32_t value : expected) {
        const auto got = reader.next();
        ASSERT_TRUE(got.has_value()) << reader.error();
        EXPECT_EQ(*got, value);
    }
    fs::remove(path);
}

TEST_F(Analyzer, ApplyingALossPatternCanRewriteTheStreamItselfAndACountOfZeroDropsNothing)
{
    const auto bytes = countingStream();
    writeBytes(stream, bytes);
    writeBytes(dir / "gilbert.txt", {'0', ' ', '0', ' ', '0'});
    ASSERT_EQ(run({stream.string(), "1", (dir / "gilbert.txt").string(), "0", (dir / "copy.264").string()}), 0);
    EXPECT_EQ(readBytes(dir / "copy.264"), bytes);
    ASSERT_EQ(run({stream.string(), "1", (dir / "gilbert.txt").string(), "3", stream.string()}), 0) << err.str();
    EXPECT_EQ(readBytes(stream), without(bytes, {1, 2}));
}

// The channel run of the workbench with the real tools: encode the sample,
// count, draw a loss pattern, apply it. Runs once the encoder tool and the
// sample sequence are in the workbench folder.
TEST_F(Analyzer, ChannelRunOnAStreamFromTheEncoderTool)
{
    const char* workbench = std::getenv("KESTRUNE_WORKBENCH");
    if (!workbench || !fs::exists(fs::path(workbench) / "x264.exe") || !fs::exists(fs::path(workbench) / "gilbert.exe")
        || !fs::exists(fs::path(workbench) / "sample_176x144.yuv"))
        GTEST_SKIP() << "the workbench folder has no encoder tool, Gilbert tool or sample sequence";
    const fs::path bench(workbench);
    const std::string encode = "cd '" + dir.string() + "' && '" + (bench / "x264.exe").string()
        + "' --qp 28 --slices 3 --frames 30 '" + (bench / "sample_176x144.yuv").string() + "' -o enc.264 176x144 >enc.txt 2>&1";
    ASSERT_EQ(std::system(encode.c_str()), 0) << readText(dir / "enc.txt");
    const fs::path encoded = dir / "enc.264";
    ASSERT_EQ(run({encoded.string(), "0"}), 0) << err.str();
    EXPECT_NE(out.str().find("Pictures: 30\n"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("Slices per picture: 3\n"), std::string::npos);
    EXPECT_NE(out.str().find("Warnings: none"), std::string::npos);
    std::istringstream general(readText(dir / "general.txt"));
    std::uint64_t total = 0;
    general >> total;
    ASSERT_GT(total, 90u);

    const std::string gilbert = "cd '" + dir.string() + "' && '" + (bench / "gilbert.exe").string() + "' 20 2 "
        + std::to_string(total) + " gilbert.txt 11 >gilout.txt 2>&1";
    ASSERT_EQ(std::system(gilbert.c_str()), 0) << readText(dir / "gilout.txt");
    ASSERT_EQ(run({encoded.string(), "1", (dir / "gilbert.txt").string(), std::to_string(total - 1), (dir / "channel.264").string()}), 0)
        << err.str();
    // What the window lists as dropped (pattern values 1..total-2 that are 0)
    // is exactly what is missing from the channel output.
    std::istringstream pattern(readText(dir / "gilbert.txt"));
    std::vector<std::uint64_t> lost;
    int value = 0;
    for (std::uint64_t k = 1; k <= total - 2 && pattern >> value; ++k)
        if (value == 0) lost.push_back(k);
    ASSERT_FALSE(lost.empty());
    EXPECT_EQ(readBytes(dir / "channel.264"), without(readBytes(encoded), lost));
}
