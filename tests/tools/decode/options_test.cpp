#include "tools/decode/options.h"

#include <gtest/gtest.h>

using namespace kestrune::decode;

namespace {
ParsedOptions parse(std::vector<std::string_view> args) { return parseDecodeOptions(args); }
} // namespace

TEST(DecodeOptions, TheWindowsCommandLines)
{
    auto none = parse({"-ec", "0", "-error_concealment", "0", "-P_error_concealment", "0", "-i", "lossy.264", "-y", "tmp.yuv"});
    ASSERT_EQ(none.error, "");
    EXPECT_EQ(none.options.intra, IntraMethod::None);
    EXPECT_EQ(none.options.inter, InterMethod::None);
    EXPECT_EQ(none.options.input, "lossy.264");
    EXPECT_EQ(none.options.output, "tmp.yuv");

    auto bilinear = parse({"-error_concealment", "3", "-i", "lossy.264", "-y", "tmp.yuv"});
    ASSERT_EQ(bilinear.error, "");
    EXPECT_EQ(bilinear.options.intra, IntraMethod::Bilinear);
    EXPECT_EQ(bilinear.options.inter, InterMethod::BoundaryMatching) << "boundary matching is the default";
}

TEST(DecodeOptions, AnyOrderDefaultsAndTheWindowsIntegerSyntax)
{
    auto p = parse({"-y", "out.yuv", "-P_error_concealment", "$0", "-i", "in.264", "-error_concealment", " +2", "-ec", "0x7"});
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.options.intra, IntraMethod::AverageMacroblock);
    EXPECT_EQ(p.options.inter, InterMethod::None);
    EXPECT_EQ(p.options.output, "out.yuv");

    auto defaults = parse({"-i", "a.264", "b.yuv"});
    ASSERT_EQ(defaults.error, "");
    EXPECT_EQ(defaults.options.intra, IntraMethod::Bilinear);
    EXPECT_TRUE(parse({"-i", "x", "--help"}).options.help);
}

TEST(DecodeOptions, BadCommandLinesSayWhatIsWrong)
{
    EXPECT_NE(parse({"-error_concealment", "4", "-i", "a", "-y", "b"}).error.find("0, 1, 2 or 3"), std::string::npos);
    EXPECT_NE(parse({"-P_error_concealment", "-1", "-i", "a", "-y", "b"}).error.find("0 or 1"), std::string::npos);
    EXPECT_NE(parse({"-ec", "1.5", "-i", "a", "-y", "b"}).error.find("not an integer"), std::string::npos);
    EXPECT_NE(parse({"-i", "a", "-y"}).error.find("-y needs"), std::string::npos);
    EXPECT_NE(parse({"-y", "b"}).error.find("no input"), std::string::npos);
    EXPECT_NE(parse({"-i", "a", "-y", "b", "c"}).error.find("more than one output"), std::string::npos);
    EXPECT_NE(parse({"-i", "a", "-vf", "b"}).error.find("unknown option -vf"), std::string::npos);
    EXPECT_NE(parse({"-i", "a", "-y", "b", "-error_concealment"}).error.find("needs a value"), std::string::npos);
}

TEST(DecodeOptions, DecoderChoice)
{
    EXPECT_EQ(parse({"-i", "a.264", "-y", "b.yuv"}).options.decoder, DecoderSelection::PerStream);
    EXPECT_EQ(parse({"-decoder", "ours", "-i", "a.264", "-y", "b.yuv"}).options.decoder, DecoderSelection::Ours);
    EXPECT_EQ(parse({"-i", "a.264", "-decoder", "libavcodec", "-y", "b.yuv"}).options.decoder, DecoderSelection::Libavcodec);
    EXPECT_EQ(parse({"-decoder", "openh264", "-i", "a.264", "-y", "b.yuv"}).error,
              "-decoder must be ours or libavcodec, not openh264");
    EXPECT_EQ(parse({"-i", "a.264", "-y", "b.yuv", "-decoder"}).error, "-decoder needs a value");
}
