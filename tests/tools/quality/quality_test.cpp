#include "tools/quality/quality.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace kestrune::quality;

namespace {

std::vector<std::uint8_t> ramp(std::size_t n, int offset = 0)
{
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = std::uint8_t((i * 7 % 200) + std::size_t(offset));
    return v;
}

std::filesystem::path writeFile(const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    const auto path = std::filesystem::temp_directory_path() / ("kestrune_quality_" + std::to_string(::getpid()) + name);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

std::string run(const std::string& arguments, int& status)
{
    const auto out = std::filesystem::temp_directory_path() / ("kestrune_quality_out" + std::to_string(::getpid()));
    status = std::system((std::string(QUALITY_TOOL) + " " + arguments + " >" + out.string() + " 2>&1").c_str());
    std::ifstream in(out);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(out);
    return text;
}

} // namespace

TEST(Psnr, KnownErrorIdenticalCapAndChannels)
{
    auto a = ramp(1000);
    EXPECT_EQ(psnr(a, a), kIdenticalPsnr);
    auto b = ramp(1000, 1); // every sample off by one: MSE 1
    EXPECT_NEAR(psnr(a, b), 10 * std::log10(255.0 * 255.0), 1e-9);
    b[0] = std::uint8_t(b[0] + 9); // one sample off by 10 more: MSE (999 + 100) / 1000
    EXPECT_NEAR(psnr(a, b), 10 * std::log10(255.0 * 255.0 / 1.099), 1e-9);

    // A frame differing only in V shows up in V alone.
    FrameLayout layout{16, 8};
    auto frame = ramp(layout.frameSize());
    auto other = frame;
    other.back() ^= 0x40;
    FrameQuality q = compareFrame(frame, other, layout);
    EXPECT_EQ(q.psnrY, kIdenticalPsnr);
    EXPECT_EQ(q.psnrU, kIdenticalPsnr);
    EXPECT_LT(q.psnrV, 40);
    EXPECT_DOUBLE_EQ(q.ssimY, 1.0);
}

TEST(Ssim, StructureMattersMoreThanBrightness)
{
    const int w = 32, h = 24;
    auto a = ramp(std::size_t(w * h));
    auto brighter = ramp(std::size_t(w * h), 5);
    std::vector<std::uint8_t> inverted(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) inverted[i] = std::uint8_t(255 - a[i]);
    EXPECT_DOUBLE_EQ(ssim(a, a, w, h), 1.0);
    const double shifted = ssim(a, brighter, w, h);
    EXPECT_GT(shifted, 0.95);
    EXPECT_LT(shifted, 1.0);
    EXPECT_LT(ssim(a, inverted, w, h), 0.0);
    // Planes smaller than a window still give a value.
    EXPECT_DOUBLE_EQ(ssim(std::span(a).first(12), std::span(a).first(12), 4, 3), 1.0);
}

TEST(QualityFiles, ComparesCommonFramesAndReportsCounts)
{
    FrameLayout layout{16, 16};
    auto f0 = ramp(layout.frameSize()), f1 = ramp(layout.frameSize(), 2);
    std::vector<std::uint8_t> two(f0), three(f0);
    two.insert(two.end(), f1.begin(), f1.end());
    three.insert(three.end(), f0.begin(), f0.end());
    three.insert(three.end(), f0.begin(), f0.end());
    const auto a = writeFile("a", two), b = writeFile("b", three);
    Comparison c = compareFiles(a.string(), b.string(), layout);
    ASSERT_EQ(c.frames.size(), 2u);
    EXPECT_EQ(c.framesInFirst, 2);
    EXPECT_EQ(c.framesInSecond, 3);
    EXPECT_FALSE(c.partialFrame);
    EXPECT_EQ(c.frames[0].psnrY, kIdenticalPsnr);
    EXPECT_LT(c.frames[1].psnrY, 50);
    EXPECT_DOUBLE_EQ(c.mean.psnrY, (c.frames[0].psnrY + c.frames[1].psnrY) / 2);
    EXPECT_EQ(compareFiles(a.string(), b.string(), layout, 1).frames.size(), 1u);
    EXPECT_TRUE(compareFiles(a.string(), b.string(), FrameLayout{16, 15}).partialFrame);
    EXPECT_THROW(compareFiles(a.string(), "/nonexistent/x.yuv", layout), std::runtime_error);

    int status = 0;
    std::string csv = run("--csv -s 16x16 " + a.string() + " " + b.string(), status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(csv.find("frame counts differ (2 and 3)") != std::string::npos, true) << csv;
    EXPECT_NE(csv.find("frame,psnr_y,psnr_u,psnr_v,ssim_y\n0,100.0000,100.0000,100.0000,1.000000\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find("\nmean,"), std::string::npos);
    std::filesystem::remove(a);
    std::filesystem::remove(b);
}

TEST(QualityOptions, SizesFilesAndMistakes)
{
    QualityOptions o;
    EXPECT_EQ(parseQualityOptions({"--width", "176", "--height", "$90", "--csv", "r.yuv", "d.yuv"}, o), "");
    EXPECT_EQ(o.layout.width, 176);
    EXPECT_EQ(o.layout.height, 144);
    EXPECT_TRUE(o.csv);
    EXPECT_EQ(o.second, "d.yuv");

    QualityOptions bad;
    EXPECT_NE(parseQualityOptions({"r.yuv", "d.yuv"}, bad).find("frame size"), std::string::npos);
    EXPECT_NE(parseQualityOptions({"-s", "176x", "r", "d"}, bad).find("WIDTHxHEIGHT"), std::string::npos);
    EXPECT_NE(parseQualityOptions({"-s", "8x8", "r"}, bad).find("two YUV files"), std::string::npos);
    EXPECT_NE(parseQualityOptions({"--width", "0", "--height", "8", "r", "d"}, bad).find("not a valid size"), std::string::npos);
    EXPECT_NE(parseQualityOptions({"-s", "8x8", "--psnr", "r", "d"}, bad).find("unknown option"), std::string::npos);

    int status = 0;
    std::string text = run("--width 8 r.yuv", status);
    EXPECT_NE(status, 0);
    EXPECT_EQ(text.rfind("kestrune-quality: ", 0), 0u) << text;
}
