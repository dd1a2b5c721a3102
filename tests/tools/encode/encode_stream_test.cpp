// Runs the encoder on a generated sequence and checks the stream it writes.
#include "tests/tools/encode/stream_probe.h"
#include "tests/tools/encode/tool_process.h"
#include "tools/sample/sample_sequence.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <unistd.h>
#include <set>

namespace kestrune {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing::ScratchDirectory;

constexpr int kFrames = 30;

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void writeSample(const std::filesystem::path& path, int frames, std::size_t extraBytes = 0)
{
    std::ofstream out(path, std::ios::binary);
    std::vector<std::uint8_t> frame(yuv420FrameBytes(176, 144));
    for (int n = 0; n < frames; ++n) {
        renderSampleFrame({176, 144}, n, frame);
        out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
    }
    out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(extraBytes));
}

// The window's default options, before the file names.
const std::vector<std::string> kWindowDefaults{
    "--bitrate", "500", "--min-keyint", "25", "--keyint", "250", "--scenecut", "40", "--fps", "25",
    "--slices", "1", "--me", "hex", "--ref", "1", "--mixed-refs", "--merange", "16",
    "--partitions", "i8x8i4x4p8x8"};

class EncodeStreamTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        sampleDir = new ScratchDirectory;
        writeSample(*sampleDir / "sample.yuv", kFrames);
    }
    static void TearDownTestSuite()
    {
        delete sampleDir;
        sampleDir = nullptr;
    }

    // Encodes the sample with `options` into out.264 in the scratch directory.
    testing::ToolRun encode(const std::vector<std::string>& options)
    {
        return testing::runTool(KESTRUNE_ENCODE_EXE,
                                options + std::vector<std::string>{(*sampleDir / "sample.yuv").string(), "-o", "out.264", "176x144"},
                                dir.path());
    }
    probe::Stream stream() { return probe::parseStream((dir / "out.264").string()); }

    static ScratchDirectory* sampleDir;
    ScratchDirectory dir;
};

ScratchDirectory* EncodeStreamTest::sampleDir = nullptr;

TEST_F(EncodeStreamTest, WindowDefaultsGiveAnIAndPStreamWithHeadersAndReport)
{
    const auto run = encode(kWindowDefaults);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const probe::Stream s = stream();

    EXPECT_EQ(s.pictures().size(), static_cast<std::size_t>(kFrames));
    std::set<int> sliceTypes;
    for (const auto& slice : s.slices) sliceTypes.insert(slice.slice_type % 5);
    EXPECT_EQ(sliceTypes, (std::set<int>{0, 2})) << "only P and I slices";
    ASSERT_FALSE(s.spsList.empty());
    EXPECT_EQ(s.spsList[0].width_in_mbs, 11);
    EXPECT_EQ(s.spsList[0].height_in_mbs, 9);
    EXPECT_EQ(s.spsList[0].max_num_ref_frames, 1);

    // Annex B with SPS and PPS in front of the first slice.
    ASSERT_GE(s.nalUnits.size(), 3u);
    EXPECT_EQ(s.nalUnits[0].nal_unit_type, 7);
    EXPECT_EQ(s.nalUnits[1].nal_unit_type, 8);

    EXPECT_THAT(run.out, HasSubstr("encoded 30 frames"));
    EXPECT_THAT(run.err, HasSubstr("frame I:"));
    EXPECT_THAT(run.err, HasSubstr("frame P:"));
    EXPECT_THAT(run.err, HasSubstr("PSNR Mean Y:"));
    EXPECT_THAT(run.err, HasSubstr("Global:"));
    EXPECT_THAT(run.err, HasSubstr("SSIM Mean Y:"));
    EXPECT_THAT(run.err, HasSubstr("bitrate 500 kbit/s"));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.264"}) << "no temporary file left behind";
}

TEST_F(EncodeStreamTest, NoPsnrNoSsimLeaveThemOutOfTheReport)
{
    const auto run = encode({"--qp", "30", "--no-psnr", "--no-ssim"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.err, Not(HasSubstr("PSNR")));
    EXPECT_THAT(run.err, Not(HasSubstr("SSIM")));
    EXPECT_THAT(run.err, HasSubstr("frame P:"));
}

TEST_F(EncodeStreamTest, FourSlicesCoverEveryPictureInOrder)
{
    ASSERT_EQ(encode({"--qp", "28", "--slices", "4"}).exitCode, 0);
    const auto pictures = stream().pictures();
    ASSERT_EQ(pictures.size(), static_cast<std::size_t>(kFrames));
    for (const auto& picture : pictures) {
        ASSERT_EQ(picture.size(), 4u);
        for (std::size_t k = 1; k < picture.size(); ++k)
            EXPECT_GT(picture[k].first_mb_in_slice, picture[k - 1].first_mb_in_slice);
    }
}

TEST_F(EncodeStreamTest, MoreSlicesThanMacroblockRowsAreReportedNotHidden)
{
    const auto run = encode({"--qp", "28", "--frames", "2", "--slices", "40"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("[warning]: --slices 40 is not possible here"));
    EXPECT_THAT(run.err, HasSubstr("using 9"));
    for (const auto& picture : stream().pictures()) EXPECT_EQ(picture.size(), 9u);
}

TEST_F(EncodeStreamTest, MaxSliceSizeBoundsEverySliceNalUnit)
{
    ASSERT_EQ(encode({"--bitrate", "500", "--max-slicesize", "300"}).exitCode, 0);
    const probe::Stream s = stream();
    ASSERT_EQ(s.pictures().size(), static_cast<std::size_t>(kFrames));
    EXPECT_GT(s.slices.size(), static_cast<std::size_t>(kFrames)) << "some pictures need several slices";
    for (const auto& slice : s.slices) EXPECT_LE(slice.nalSize, 300u);
}

TEST_F(EncodeStreamTest, SliceSizeLimitTooSmallForOneMacroblockIsReported)
{
    const auto run = encode({"--qp", "20", "--frames", "2", "--max-slicesize", "20"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::size_t over = 0, largest = 0;
    for (const auto& slice : stream().slices) {
        over += slice.nalSize > 20;
        largest = std::max(largest, slice.nalSize);
    }
    ASSERT_GT(over, 0u);
    EXPECT_THAT(run.err, HasSubstr("[warning]: " + std::to_string(over) + " slice NAL units exceed --max-slicesize 20 (largest "
                                   + std::to_string(largest) + " bytes)"));
}

TEST_F(EncodeStreamTest, FramesLimitsThePictureCount)
{
    const auto run = encode({"--frames", "10"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(stream().pictures().size(), 10u);
    EXPECT_THAT(run.out, HasSubstr("encoded 10 frames"));
}

TEST_F(EncodeStreamTest, ConstantQpReachesEveryPSlice)
{
    ASSERT_EQ(encode({"--qp", "$1E"}).exitCode, 0);  // 30 in the window's hexadecimal syntax
    for (const auto& slice : stream().slices) {
        if (slice.slice_type % 5 == 0) EXPECT_EQ(slice.qp, 30);
        else EXPECT_LE(slice.qp, 30) << "I slices are coded at or below the P quantizer";
    }
}

TEST_F(EncodeStreamTest, FrameRateIsWrittenIntoTheVui)
{
    ASSERT_EQ(encode({"--fps", "30", "--frames", "2"}).exitCode, 0);
    const probe::Sps sps = stream().spsList.at(0);
    ASSERT_TRUE(sps.time_scale && sps.num_units_in_tick);
    EXPECT_EQ(*sps.time_scale, 2 * 30 * *sps.num_units_in_tick);
}

TEST_F(EncodeStreamTest, KeyintPlacesIdrPicturesEachWithItsParameterSets)
{
    ASSERT_EQ(encode({"--keyint", "10", "--min-keyint", "10", "--scenecut", "0", "--ref", "2"}).exitCode, 0);
    const probe::Stream s = stream();
    const auto pictures = s.pictures();
    ASSERT_EQ(pictures.size(), static_cast<std::size_t>(kFrames));
    for (std::size_t n = 0; n < pictures.size(); ++n)
        EXPECT_EQ(pictures[n][0].nal_unit_type == 5, n % 10 == 0) << "picture " << n;
    EXPECT_EQ(s.spsList.size(), 3u) << "SPS repeated before each IDR picture";
    EXPECT_EQ(s.spsList[0].max_num_ref_frames, 2);
    // Every IDR picture is preceded by SPS then PPS, with at most SEI between.
    for (std::size_t i = 1; i < s.nalUnits.size(); ++i) {
        if (s.nalUnits[i].nal_unit_type != 5 || s.nalUnits[i - 1].nal_unit_type == 5) continue;
        std::size_t k = i - 1;
        while (k > 0 && s.nalUnits[k].nal_unit_type == 6) --k;
        ASSERT_GE(k, 1u);
        EXPECT_EQ(s.nalUnits[k].nal_unit_type, 8) << "NAL unit " << k;
        EXPECT_EQ(s.nalUnits[k - 1].nal_unit_type, 7) << "NAL unit " << k - 1;
    }
}

TEST_F(EncodeStreamTest, PartialTrailingFrameIsWarnedAboutAndIgnored)
{
    writeSample(dir / "short.yuv", 5, 1000);
    const auto run = testing::runTool(KESTRUNE_ENCODE_EXE, {"short.yuv", "-o", "out.264", "176x144"}, dir.path());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("[warning]: input size is not a whole number"));
    EXPECT_THAT(run.err, HasSubstr("1000 bytes"));
    EXPECT_EQ(stream().pictures().size(), 5u);
}

TEST_F(EncodeStreamTest, SizeIsTakenFromTheInputFileNameWhenNotGiven)
{
    writeSample(dir / "clip_176x144.yuv", 2);
    const auto run = testing::runTool(KESTRUNE_ENCODE_EXE, {"clip_176x144.yuv", "-o", "out.264"}, dir.path());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(stream().spsList.at(0).width_in_mbs, 11);
    EXPECT_THAT(run.err, Not(HasSubstr("[warning]")));
}

TEST(EncodeInterruptTest, InterruptedRunLeavesNoOutputBehind)
{
    ScratchDirectory dir;
    {
        // A long CIF input made quickly from two repeated frames.
        std::ofstream out(dir / "long.yuv", std::ios::binary);
        std::vector<std::uint8_t> a(yuv420FrameBytes(352, 288)), b(a.size());
        renderSampleFrame({352, 288}, 0, a);
        renderSampleFrame({352, 288}, 50, b);
        for (int n = 0; n < 300; ++n)
            out.write(reinterpret_cast<const char*>(n % 2 ? b.data() : a.data()), static_cast<std::streamsize>(a.size()));
    }
    testing::StartedTool tool(KESTRUNE_ENCODE_EXE, {"long.yuv", "-o", "out.264", "352x288"}, dir.path());
    // Wait until the temporary output exists, i.e. encoding is under way.
    for (int polls = 0; dir.entries().size() < 2 && polls < 20000; ++polls) usleep(500);
    ASSERT_EQ(dir.entries().size(), 2u) << "the encoder never started writing";
    kill(tool.pid(), SIGINT);
    const auto run = tool.wait();
    EXPECT_NE(run.exitCode, 0);
    EXPECT_THAT(run.err, HasSubstr("kestrune-encode: interrupted; no output written"));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"long.yuv"});
}

// The window's line with "Use FMO Type 1" checked: no --slices, --slice-groups N.
std::vector<std::string> windowFmoLine(const std::string& groups)
{
    std::vector<std::string> line;
    for (std::size_t i = 0; i < kWindowDefaults.size(); ++i) {
        if (kWindowDefaults[i] == "--slices") {
            line.insert(line.end(), {"--slice-groups", groups});
            ++i;
            continue;
        }
        line.push_back(kWindowDefaults[i]);
    }
    return line;
}

TEST_F(EncodeStreamTest, SliceGroupsGiveOneSliceNalUnitPerGroupAndPicture)
{
    for (const std::string groups : {"2", "4"}) {
        const auto run = encode(windowFmoLine(groups));
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const probe::Stream s = stream();
        const auto pictures = s.pictures();
        ASSERT_EQ(pictures.size(), static_cast<std::size_t>(kFrames));
        for (const auto& picture : pictures) {
            ASSERT_EQ(picture.size(), static_cast<std::size_t>(std::stoi(groups)));
            for (std::size_t k = 0; k < picture.size(); ++k) EXPECT_EQ(picture[k].first_mb_in_slice, k) << "dispersed groups start side by side";
        }
        EXPECT_EQ(s.nalUnits[0].nal_unit_type, 7);
        EXPECT_THAT(run.err, HasSubstr("slice groups: " + groups + ", map type 1 (dispersed)"));
        EXPECT_THAT(run.err, HasSubstr("bitrate 500 kbit/s, keyint 25..250, scenecut 40, slice groups " + groups + ", me hex"));
        EXPECT_THAT(run.err, HasSubstr("profile Baseline"));
        EXPECT_THAT(run.err, HasSubstr("frame I:"));
        EXPECT_THAT(run.err, HasSubstr("frame P:"));
        EXPECT_THAT(run.err, HasSubstr("SSIM Mean Y:"));
        EXPECT_THAT(run.err, HasSubstr("PSNR Mean Y:"));
        EXPECT_THAT(run.out, HasSubstr("encoded 30 frames"));
        // The window's default partitions name i8x8; nobody asked for it, so no warning.
        EXPECT_EQ(run.err.find("[warning]"), std::string::npos) << run.err;
    }
}

TEST_F(EncodeStreamTest, OurEncoderWritesRasterSlicesWhenAskedWithOneSliceGroup)
{
    const auto run = encode({"--slice-groups", "1", "--slices", "3", "--qp", "30"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("our Baseline encoder"));
    const auto pictures = stream().pictures();
    ASSERT_EQ(pictures.size(), static_cast<std::size_t>(kFrames));
    for (const auto& picture : pictures) ASSERT_EQ(picture.size(), 3u);
}

TEST_F(EncodeStreamTest, SliceGroupPathHonoursQpKeyintAndNoPsnr)
{
    const auto run = encode({"--slice-groups", "1", "--qp", "31", "--keyint", "10", "--scenecut", "0", "--ref", "2",
                             "--no-psnr", "--no-ssim", "--me", "umh", "--partitions", "all"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const probe::Stream s = stream();
    const auto pictures = s.pictures();
    ASSERT_EQ(pictures.size(), static_cast<std::size_t>(kFrames));
    for (std::size_t n = 0; n < pictures.size(); ++n) {
        ASSERT_EQ(pictures[n].size(), 1u);
        EXPECT_EQ(pictures[n][0].nal_unit_type == 5, n % 10 == 0) << "picture " << n;
        EXPECT_EQ(pictures[n][0].qp, n % 10 == 0 ? 28 : 31) << "picture " << n;
    }
    EXPECT_EQ(s.spsList.at(0).max_num_ref_frames, 2);
    EXPECT_THAT(run.err, Not(HasSubstr("PSNR")));
    EXPECT_THAT(run.err, Not(HasSubstr("SSIM")));
}

// Every failure: one line naming the problem, a non-zero exit, and the
// output path untouched (an older stream there survives).
struct BadRun {
    const char* name;
    std::vector<std::string> args;
    const char* message;
};

void PrintTo(const BadRun& run, std::ostream* os)
{
    *os << run.name;
}

class EncodeFailureTest : public ::testing::TestWithParam<BadRun> {};

TEST_P(EncodeFailureTest, FailsWithOneClearLineAndLeavesTheOldOutput)
{
    ScratchDirectory dir;
    writeSample(dir / "in.yuv", 2);
    { std::ofstream(dir / "empty.yuv"); }
    { std::ofstream(dir / "out.264") << "old stream"; }
    const auto before = dir.entries();

    const auto run = testing::runTool(KESTRUNE_ENCODE_EXE, GetParam().args, dir.path());

    EXPECT_NE(run.exitCode, 0);
    EXPECT_THAT(run.err, HasSubstr(GetParam().message));
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_THAT(run.err, ::testing::StartsWith("kestrune-encode: "));
    EXPECT_EQ(dir.entries(), before);
    std::ifstream old(dir / "out.264");
    std::string content;
    std::getline(old, content);
    EXPECT_EQ(content, "old stream");
}

INSTANTIATE_TEST_SUITE_P(
    BadInputs, EncodeFailureTest,
    ::testing::Values(
        BadRun{"MissingInput", {"nothere.yuv", "-o", "out.264", "176x144"}, "cannot open input nothere.yuv"},
        BadRun{"EmptyInput", {"empty.yuv", "-o", "out.264", "176x144"}, "holds no complete 176x144 frame"},
        BadRun{"InputIsADirectory", {".", "-o", "out.264", "176x144"}, "it is a directory"},
        BadRun{"OddWidth", {"in.yuv", "-o", "out.264", "175x144"}, "must be even"},
        BadRun{"ZeroHeight", {"in.yuv", "-o", "out.264", "176x0"}, "must be positive"},
        BadRun{"NoSize", {"in.yuv", "-o", "out.264"}, "no picture size given"},
        BadRun{"BadSize", {"in.yuv", "-o", "out.264", "176*144"}, "is not WIDTHxHEIGHT"},
        BadRun{"UnquotedBlankInPath", {"my", "in.yuv", "-o", "out.264", "176x144"}, "too many file names"},
        BadRun{"NineSliceGroups", {"--slice-groups", "9", "in.yuv", "-o", "out.264", "176x144"}, "--slice-groups must be 2..8"},
        BadRun{"UnknownOption", {"--bframes", "3", "in.yuv", "-o", "out.264", "176x144"}, "unknown option '--bframes'"},
        BadRun{"NotAnInteger", {"--bitrate", "5OO", "in.yuv", "-o", "out.264", "176x144"}, "--bitrate needs an integer, not '5OO'"},
        BadRun{"QpOutOfRange", {"--qp", "52", "in.yuv", "-o", "out.264", "176x144"}, "--qp must be 0..51"},
        BadRun{"NoOutputName", {"in.yuv", "176x144"}, "no output file given"},
        BadRun{"OutputIsTheInput", {"in.yuv", "-o", "./in.yuv", "176x144"}, "output ./in.yuv is the input file"},
        BadRun{"OutputIsADirectory", {"in.yuv", "-o", ".", "176x144"}, "cannot write output .: it is a directory"},
        BadRun{"OutputDirectoryMissing", {"in.yuv", "-o", "no/such/dir/out.264", "176x144"}, "cannot write output no/such/dir/out.264 (cannot create"}),
    [](const ::testing::TestParamInfo<BadRun>& info) { return std::string(info.param.name); });

TEST(EncodeHelpTest, HelpExplainsTheCommandLineAndSucceeds)
{
    ScratchDirectory dir;
    const auto run = testing::runTool(KESTRUNE_ENCODE_EXE, {"--help"}, dir.path());
    EXPECT_EQ(run.exitCode, 0);
    for (const char* option : {"--bitrate", "--qp", "--crf", "--slices", "--max-slicesize", "--partitions", "-o"})
        EXPECT_THAT(run.out, HasSubstr(option));
}

} // namespace
} // namespace kestrune
