#include "tools/quality/quality.h"

#include "tools/common/integer_syntax.h"

#include <cerrno>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace kestrune::quality {

double psnr(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b)
{
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const int d = int(a[i]) - int(b[i]);
        sum += std::uint64_t(d * d);
    }
    if (sum == 0 || a.empty()) return kIdenticalPsnr;
    const double mse = double(sum) / double(a.size());
    return std::min(kIdenticalPsnr, 10.0 * std::log10(255.0 * 255.0 / mse));
}

double ssim(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, int width, int height)
{
    constexpr double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
    const int win = std::min({8, width, height});
    if (win <= 0) return 1.0;
    double total = 0;
    int windows = 0;
    for (int y0 = 0; y0 + win <= height; y0 += 4) {
        for (int x0 = 0; x0 + win <= width; x0 += 4) {
            double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
            for (int y = y0; y < y0 + win; ++y)
                for (int x = x0; x < x0 + win; ++x) {
                    const double pa = a[std::size_t(y) * std::size_t(width) + std::size_t(x)];
                    const double pb = b[std::size_t(y) * std::size_t(width) + std::size_t(x)];
                    sa += pa, sb += pb, saa += pa * pa, sbb += pb * pb, sab += pa * pb;
                }
            const double n = win * win;
            const double ma = sa / n, mb = sb / n;
            const double va = saa / n - ma * ma, vb = sbb / n - mb * mb, cov = sab / n - ma * mb;
            total += ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
            ++windows;
        }
    }
    return total / windows;
}

FrameQuality compareFrame(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b, FrameLayout layout)
{
    const std::size_t y = layout.lumaSize(), c = layout.chromaSize();
    FrameQuality q;
    q.psnrY = psnr(a.subspan(0, y), b.subspan(0, y));
    q.psnrU = psnr(a.subspan(y, c), b.subspan(y, c));
    q.psnrV = psnr(a.subspan(y + c, c), b.subspan(y + c, c));
    q.ssimY = ssim(a.subspan(0, y), b.subspan(0, y), layout.width, layout.height);
    return q;
}

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File openForReading(const std::string& name)
{
    File file(std::fopen(name.c_str(), "rb"));
    if (!file) throw std::runtime_error("cannot open " + name + ": " + std::strerror(errno));
    return file;
}

long long fileSize(std::FILE* file, const std::string& name)
{
    if (std::fseek(file, 0, SEEK_END) != 0) throw std::runtime_error("cannot read " + name + ": " + std::strerror(errno));
    const long long size = std::ftell(file);
    std::rewind(file);
    return size;
}

} // namespace

Comparison compareFiles(const std::string& first, const std::string& second, FrameLayout layout, long long maxFrames)
{
    if (layout.width <= 0 || layout.height <= 0) throw std::runtime_error("the frame size must be positive");
    File a = openForReading(first), b = openForReading(second);
    const long long frameSize = (long long)layout.frameSize();
    const long long sizeA = fileSize(a.get(), first), sizeB = fileSize(b.get(), second);
    Comparison result;
    result.framesInFirst = sizeA / frameSize;
    result.framesInSecond = sizeB / frameSize;
    result.partialFrame = sizeA % frameSize != 0 || sizeB % frameSize != 0;
    long long count = std::min(result.framesInFirst, result.framesInSecond);
    if (maxFrames >= 0) count = std::min(count, maxFrames);
    std::vector<std::uint8_t> bufferA(static_cast<std::size_t>(frameSize)), bufferB(static_cast<std::size_t>(frameSize));
    for (long long i = 0; i < count; ++i) {
        if (std::fread(bufferA.data(), 1, bufferA.size(), a.get()) != bufferA.size())
            throw std::runtime_error("cannot read " + first);
        if (std::fread(bufferB.data(), 1, bufferB.size(), b.get()) != bufferB.size())
            throw std::runtime_error("cannot read " + second);
        const FrameQuality q = compareFrame(bufferA, bufferB, layout);
        result.frames.push_back(q);
        result.mean.psnrY += q.psnrY, result.mean.psnrU += q.psnrU, result.mean.psnrV += q.psnrV;
        result.mean.ssimY += q.ssimY;
    }
    if (count > 0) {
        result.mean.psnrY /= double(count), result.mean.psnrU /= double(count), result.mean.psnrV /= double(count);
        result.mean.ssimY /= double(count);
    }
    return result;
}

namespace {

std::string row(const char* format, const std::string& label, const FrameQuality& q)
{
    char line[160];
    std::snprintf(line, sizeof line, format, label.c_str(), q.psnrY, q.psnrU, q.psnrV, q.ssimY);
    return line;
}

} // namespace

std::string formatTable(const Comparison& c)
{
    std::string text = "frame    PSNR-Y   PSNR-U   PSNR-V   SSIM-Y\n";
    for (std::size_t i = 0; i < c.frames.size(); ++i)
        text += row("%-6s %8.3f %8.3f %8.3f %8.5f\n", std::to_string(i), c.frames[i]);
    text += row("%-6s %8.3f %8.3f %8.3f %8.5f\n", "mean", c.mean);
    return text;
}

std::string formatCsv(const Comparison& c)
{
    std::string text = "frame,psnr_y,psnr_u,psnr_v,ssim_y\n";
    for (std::size_t i = 0; i < c.frames.size(); ++i) text += row("%s,%.4f,%.4f,%.4f,%.6f\n", std::to_string(i), c.frames[i]);
    text += row("%s,%.4f,%.4f,%.4f,%.6f\n", "mean", c.mean);
    return text;
}

const char* qualityUsage()
{
    return "usage: kestrune-quality --width W --height H [--frames N] [--csv] REFERENCE DISTORTED\n"
           "\n"
           "Compares two raw planar YUV 4:2:0 files of W x H frame by frame and prints\n"
           "PSNR of Y, U and V (dB; identical planes count as 100) and SSIM of Y for\n"
           "every frame and their means. Only the frames both files have are compared;\n"
           "a difference in frame count is reported on standard error.\n"
           "\n"
           "  --width W, --height H   the frame size (also -s WxH)\n"
           "  --frames N              compare at most N frames\n"
           "  --csv                   comma-separated output with a header line\n";
}

std::string parseQualityOptions(const std::vector<std::string_view>& arguments, QualityOptions& o)
{
    std::vector<std::string_view> files;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view a = arguments[i];
        if (a == "--help" || a == "-h") {
            o.help = true;
            return {};
        }
        if (a == "--csv") {
            o.csv = true;
            continue;
        }
        const bool takesValue = a == "--width" || a == "--height" || a == "--frames" || a == "-s";
        if (!takesValue) {
            if (a.size() > 1 && a.front() == '-') return "unknown option " + std::string(a) + " (see --help)";
            files.push_back(a);
            continue;
        }
        if (i + 1 >= arguments.size()) return std::string(a) + " needs a value";
        const std::string_view text = arguments[++i];
        if (a == "-s") {
            const std::size_t x = text.find('x');
            const auto w = x == std::string_view::npos ? std::nullopt : parseInteger(text.substr(0, x));
            const auto h = x == std::string_view::npos ? std::nullopt : parseInteger(text.substr(x + 1));
            if (!w || !h || *w <= 0 || *h <= 0) return "-s needs WIDTHxHEIGHT, not '" + std::string(text) + "'";
            o.layout = {*w, *h};
            continue;
        }
        const auto value = parseInteger(text);
        if (!value || *value <= 0 || (a != "--frames" && *value > 16384))
            return std::string(a) + ": '" + std::string(text) + "' is not a valid " + (a == "--frames" ? "count" : "size");
        if (a == "--width") o.layout.width = *value;
        else if (a == "--height") o.layout.height = *value;
        else o.frames = *value;
    }
    if (o.layout.width <= 0 || o.layout.height <= 0) return "the frame size is missing (--width W --height H)";
    if (files.size() != 2) return "two YUV files are needed, " + std::to_string(files.size()) + " given";
    o.first = files[0];
    o.second = files[1];
    return {};
}

} // namespace kestrune::quality
