#pragma once
// Frame-by-frame comparison of two raw planar YUV 4:2:0 files of one size:
// PSNR of Y, U and V and SSIM of Y.
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune::quality {

// PSNR of identical planes is infinite; it is reported as this value so means stay finite.
inline constexpr double kIdenticalPsnr = 100.0;

double psnr(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);
// Mean SSIM over 8x8 windows on a 4-sample grid (one window when the plane is smaller).
double ssim(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, int width, int height);

struct FrameQuality {
    double psnrY = 0, psnrU = 0, psnrV = 0, ssimY = 0;
};

struct FrameLayout {
    int width = 0;
    int height = 0;
    std::size_t lumaSize() const { return std::size_t(width) * std::size_t(height); }
    std::size_t chromaSize() const { return std::size_t((width + 1) / 2) * std::size_t((height + 1) / 2); }
    std::size_t frameSize() const { return lumaSize() + 2 * chromaSize(); }
};

FrameQuality compareFrame(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, FrameLayout layout);

struct Comparison {
    std::vector<FrameQuality> frames;
    FrameQuality mean;
    long long framesInFirst = 0;  // whole frames in each file
    long long framesInSecond = 0;
    bool partialFrame = false;    // a file ends with a partial frame
};

// Compares the frames both files have; throws std::runtime_error with the reason when a file cannot be read.
Comparison compareFiles(const std::string& first, const std::string& second, FrameLayout layout, long long maxFrames = -1);

std::string formatTable(const Comparison& comparison);
std::string formatCsv(const Comparison& comparison);

struct QualityOptions {
    FrameLayout layout;
    std::string first, second;
    bool csv = false;
    long long frames = -1;
    bool help = false;
};

// Empty string when the command line is good, else the reason.
std::string parseQualityOptions(const std::vector<std::string_view>& arguments, QualityOptions& options);
const char* qualityUsage();

} // namespace kestrune::quality
