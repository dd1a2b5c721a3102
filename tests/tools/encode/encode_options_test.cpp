#include "tools/encode/encode_options.h"
#include "tools/encode/encode_report.h"
#include "tools/encode/encoder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrune {
namespace {

using ::testing::HasSubstr;

std::vector<std::string> words(std::string line)
{
    std::vector<std::string> result;
    std::size_t at = 0;
    while ((at = line.find_first_not_of(' ', at)) != std::string::npos) {
        const std::size_t end = std::min(line.find(' ', at), line.size());
        result.push_back(line.substr(at, end - at));
        at = end;
    }
    return result;
}

std::string errorOf(const std::string& line)
{
    try {
        parseEncodeCommandLine(words(line));
    } catch (const OptionError& e) {
        return e.what();
    }
    return "no error";
}

TEST(EncodeOptionsTest, WindowDefaultLineAfterWordSplitting)
{
    // The window's line once the quotes are gone.
    const EncodeOptions o = parseEncodeCommandLine(words(
        "--bitrate 500 --min-keyint 25 --keyint 250 --scenecut 40 --fps 25 --slices 1 --me hex --ref 1 "
        "--mixed-refs --merange 16 --partitions i8x8i4x4p8x8 foreman.yuv -o out.264 176x144"));
    EXPECT_EQ(o.rateControl, RateControl::Bitrate);
    EXPECT_EQ(o.bitrate, 500);
    EXPECT_EQ(o.minKeyint, 25);
    EXPECT_EQ(o.keyint, 250);
    EXPECT_EQ(o.scenecut, 40);
    EXPECT_EQ(o.fps, 25);
    EXPECT_EQ(o.frames, 0);
    EXPECT_EQ(o.slices, 1);
    EXPECT_EQ(o.maxSliceSize, 0);
    EXPECT_EQ(o.motionEstimation, "hex");
    EXPECT_EQ(o.references, 1);
    EXPECT_TRUE(o.mixedRefs);
    EXPECT_EQ(o.meRange, 16);
    EXPECT_EQ(o.partitions, (Partitions{true, true, true, false}));
    EXPECT_EQ(o.input, "foreman.yuv");
    EXPECT_EQ(o.output, "out.264");
    EXPECT_EQ(o.size, (FrameSize{176, 144}));
    EXPECT_TRUE(o.psnr && o.ssim && o.chromaMe);
}

TEST(EncodeOptionsTest, EveryOtherWindowOptionIsUnderstood)
{
    const EncodeOptions o = parseEncodeCommandLine(words(
        "--crf 18 --frames x10 --no-psnr --no-ssim --max-slicesize 1500 --me umh --no-chroma-me "
        "--partitions none in.yuv -o out.264 352x288"));
    EXPECT_EQ(o.rateControl, RateControl::ConstantRateFactor);
    EXPECT_EQ(o.crf, 18);
    EXPECT_EQ(o.frames, 16);
    EXPECT_FALSE(o.psnr || o.ssim || o.chromaMe);
    EXPECT_EQ(o.maxSliceSize, 1500);
    EXPECT_EQ(o.motionEstimation, "umh");
    EXPECT_EQ(o.partitions, (Partitions{false, false, false, false}));
    EXPECT_EQ(parseEncodeCommandLine(words("--qp 0 a.yuv -o b 16x16")).rateControl, RateControl::ConstantQp);
}

TEST(EncodeOptionsTest, LastRateControlOptionWinsAndIntegersUseTheWindowSyntax)
{
    const EncodeOptions o = parseEncodeCommandLine(words("--qp 20 --bitrate $1F4 --keyint infinite a.yuv -o b 16x16"));
    EXPECT_EQ(o.rateControl, RateControl::Bitrate);
    EXPECT_EQ(o.bitrate, 500);
    EXPECT_EQ(o.keyint, 0);
    EXPECT_EQ(parseEncodeCommandLine({"--fps=0x1E", "a.yuv", "-o", "b", "16x16"}).fps, 30);
}

TEST(EncodeOptionsTest, BadOptionsNameTheOptionAndTheValue)
{
    EXPECT_EQ(errorOf("--fps 25.0 a.yuv -o b 16x16"), "--fps needs an integer, not '25.0'");
    EXPECT_EQ(errorOf("--ref 17 a.yuv -o b 16x16"), "--ref must be 1..16, not '17'");
    EXPECT_EQ(errorOf("--min-keyint -1 a.yuv -o b 16x16"), "--min-keyint must be at least 0, not '-1'");
    EXPECT_EQ(errorOf("--merange 2 a.yuv -o b 16x16"), "--merange must be 4..1024, not '2'");
    EXPECT_EQ(errorOf("--me star a.yuv -o b 16x16"), "--me must be dia, hex, umh, esa or tesa, not 'star'");
    EXPECT_EQ(errorOf("a.yuv -o b 16x16 --ref"), "option --ref needs a value");
    EXPECT_EQ(errorOf("--no-psnr=1 a.yuv -o b 16x16"), "option --no-psnr takes no value");
    EXPECT_EQ(errorOf("-x a.yuv -o b 16x16"), "unknown option '-x' (see --help)");
    EXPECT_EQ(errorOf("-o b"), "no input file given (see --help)");
    for (const char* groups : {"0", "9", "-2", "two"})
        EXPECT_EQ(errorOf(std::string("--slice-groups ") + groups + " a.yuv -o b 16x16"),
                  std::string("--slice-groups must be 2..8 (or 1 for no slice groups), not '") + groups + "'");
    EXPECT_EQ(errorOf("--slice-group-map-type 7 a.yuv -o b 16x16"), "--slice-group-map-type must be 0..6, not '7'");
    EXPECT_EQ(errorOf("--slice-groups 4 --slices 2 a.yuv -o b 16x16"),
              "--slices and --max-slicesize cannot be combined with --slice-groups 2..8 (one slice per slice group); "
              "with --slice-groups 1 they are our encoder's slices");
    const auto slices = parseEncodeCommandLine({"--slice-groups", "1", "--slices", "3", "--max-slicesize", "900", "a.yuv",
                                                "-o", "b", "16x16"});
    EXPECT_EQ(slices.slices, 3);
    EXPECT_EQ(slices.maxSliceSize, 900);
    EXPECT_EQ(errorOf("--slice-groups 4 --me esa a.yuv -o b 16x16"), "--me must be dia, hex or umh with --slice-groups, not 'esa'");
    EXPECT_EQ(errorOf("--slice-groups"), "option --slice-groups needs a value");
}

TEST(EncodeOptionsTest, HelpNeedsNothingElse)
{
    EXPECT_TRUE(parseEncodeCommandLine({"--help"}).help);
    EXPECT_TRUE(parseEncodeCommandLine({"--qp", "1", "-h"}).help);
}

TEST(PartitionsTest, NamesAreFoundBackToBackOrSeparated)
{
    EXPECT_EQ(parsePartitions("all"), (Partitions{true, true, true, true}));
    EXPECT_EQ(parsePartitions("p4x4i4x4"), (Partitions{false, true, false, true}));
    EXPECT_EQ(parsePartitions("i8x8,p8x8"), (Partitions{true, false, true, false}));
    // The window's quoted names after the C runtime's splitting keep the inner quotes.
    EXPECT_EQ(parsePartitions("i8x8\"i4x4\"p8x8"), (Partitions{true, true, true, false}));
    EXPECT_EQ(parsePartitions("\"i4x4\""), (Partitions{false, true, false, false}));
    EXPECT_EQ(parsePartitions("b8x8"), (Partitions{false, false, false, false}));
    EXPECT_THROW(parsePartitions("i8x8i16x16"), OptionError);
    EXPECT_THROW(parsePartitions("All"), OptionError);
    EXPECT_THROW(parsePartitions(""), OptionError);
    EXPECT_THROW(parsePartitions(",,"), OptionError);
}

TEST(FrameSizeTest, WidthAndHeightInTheWindowIntegerSyntax)
{
    EXPECT_EQ(parseFrameSize("176x144"), (FrameSize{176, 144}));
    EXPECT_EQ(parseFrameSize("0xB0x144"), (FrameSize{176, 144}));
    EXPECT_EQ(parseFrameSize("$B0X$90"), (FrameSize{176, 144}));
    EXPECT_EQ(parseFrameSize("-16x16"), (FrameSize{-16, 16}));  // parsed; rejected by frameSizeError
    EXPECT_THROW(parseFrameSize("176"), OptionError);
    EXPECT_THROW(parseFrameSize("176x"), OptionError);
    EXPECT_THROW(parseFrameSize("176 x 144"), OptionError);
    EXPECT_EQ(parseFrameSize("1x0x10"), (FrameSize{1, 16}));
    EXPECT_EQ(parseFrameSize("0x0x10"), (FrameSize{0, 16}));
}

TEST(FrameSizeTest, ErrorsForSizesThatCannotBeEncoded)
{
    EXPECT_EQ(frameSizeError({176, 144}), "");
    EXPECT_EQ(frameSizeError({16, 16}), "");
    EXPECT_THAT(frameSizeError({0, 144}), HasSubstr("positive"));
    EXPECT_THAT(frameSizeError({176, -144}), HasSubstr("positive"));
    EXPECT_THAT(frameSizeError({177, 144}), HasSubstr("even"));
    EXPECT_THAT(frameSizeError({8, 8}), HasSubstr("at least 16"));
    EXPECT_THAT(frameSizeError({20000, 144}), HasSubstr("at most"));
}

TEST(FrameSizeTest, SizeInAFileName)
{
    EXPECT_EQ(frameSizeFromFileName("dir_64x64/sample_352x288.yuv"), (FrameSize{352, 288}));
    EXPECT_EQ(frameSizeFromFileName("C:\\clips\\foreman_cif_352x288_30.yuv"), (FrameSize{352, 288}));
    EXPECT_EQ(frameSizeFromFileName("a_1x2_176x144.yuv"), (FrameSize{176, 144}));
    EXPECT_EQ(frameSizeFromFileName("foreman.yuv"), std::nullopt);
    EXPECT_EQ(frameSizeFromFileName("x264.yuv"), std::nullopt);
}

TEST(ConfigureEncoderTest, SettingsChangedByTheLibraryAreNamed)
{
    x264_param_t requested, effective;
    x264_param_default(&requested);
    requested.i_slice_count = 40;
    requested.i_keyint_min = 0;
    requested.analyse.i_me_range = 16;
    effective = requested;
    EXPECT_TRUE(adjustedSettings(requested, effective).empty());
    effective.i_slice_count = 9;
    effective.i_keyint_min = 25;  // asked for automatic: not a change
    EXPECT_THAT(adjustedSettings(requested, effective),
                ::testing::ElementsAre("--slices 40 is not possible here (at most one slice per macroblock row); using 9"));
}

TEST(InputWarningsTest, MismatchedNamePartialFrameAndTooFewFrames)
{
    EncodeOptions o = parseEncodeCommandLine(words("--frames 300 clip_176x144.yuv -o b"));
    EXPECT_TRUE(inputWarnings(o, 300, 0).empty());
    o = parseEncodeCommandLine(words("clip.yuv -o b 176x144"));
    EXPECT_TRUE(inputWarnings(o, 1, 0).empty());
    o = parseEncodeCommandLine(words("--frames 301 dir/clip_352x288.yuv -o b 176x144"));
    EXPECT_THAT(inputWarnings(o, 300, 10),
                ::testing::ElementsAre("the input's name suggests 352x288 but the size given is 176x144",
                                       "input size is not a whole number of 176x144 frames; the last 10 bytes are ignored",
                                       "--frames 301 but the input holds only 300 frames; encoding those"));
}

TEST(EncodeReportTest, BitrateAndSpeedLines)
{
    EXPECT_DOUBLE_EQ(kilobitsPerSecond(62500, 25, 25), 500.0);
    EXPECT_DOUBLE_EQ(kilobitsPerSecond(62500, 50, 25), 250.0);
    EXPECT_DOUBLE_EQ(kilobitsPerSecond(1000, 0, 25), 0.0);
    EXPECT_EQ(finalLine(300, 2.0, 750000, 25), "encoded 300 frames, 150.00 fps, 500.00 kb/s");
    EXPECT_EQ(finalLine(0, 0.0, 0, 25), "encoded 0 frames, 0.00 fps, 0.00 kb/s");
    EXPECT_EQ(progressLine(100, 300, 2.0, 62500, 25), "[ 33.3%] 100/300 frames, 50.00 fps, 125.00 kb/s, eta 0:00:04");
    EXPECT_EQ(progressLine(1, 7201, 1.0, 0, 25), "[  0.0%] 1/7201 frames, 1.00 fps, 0.00 kb/s, eta 2:00:00");
}

} // namespace
} // namespace kestrune
