#include "tools/baseline_encoder/picture_analysis.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <vector>

namespace kestrune::codec {
namespace {

std::vector<int> halfResolution(std::span<const std::uint8_t> luma, int width, int height, int w, int h)
{
    std::vector<int> out(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::size_t at = static_cast<std::size_t>(2 * y) * width + 2 * x;
            const int below = 2 * y + 1 < height ? width : 0;
            const int right = 2 * x + 1 < width ? 1 : 0;
            out[static_cast<std::size_t>(y) * w + x] = (luma[at] + luma[at + right] + luma[at + below] + luma[at + below + right] + 2) >> 2;
        }
    return out;
}

} // namespace

PictureCost analysePicture(std::span<const std::uint8_t> luma, std::span<const std::uint8_t> previous, int width,
                           int height)
{
    const int w = width / 2, h = height / 2;
    const std::vector<int> current = halfResolution(luma, width, height, w, h);
    std::vector<int> reference;
    if (!previous.empty()) reference = halfResolution(previous, width, height, w, h);
    constexpr int kBlock = 8;
    constexpr int kRange = 4;
    double intraSum = 0, interSum = 0;
    long samples = 0;
    for (int by = 0; by + kBlock <= h; by += kBlock) {
        for (int bx = 0; bx + kBlock <= w; bx += kBlock) {
            long sum = 0;
            for (int y = 0; y < kBlock; ++y)
                for (int x = 0; x < kBlock; ++x) sum += current[static_cast<std::size_t>(by + y) * w + bx + x];
            const int mean = static_cast<int>(sum / (kBlock * kBlock));
            long intra = 0;
            for (int y = 0; y < kBlock; ++y)
                for (int x = 0; x < kBlock; ++x) intra += std::abs(current[static_cast<std::size_t>(by + y) * w + bx + x] - mean);
            long inter = intra;
            if (!reference.empty()) {
                inter = std::numeric_limits<long>::max();
                for (int dy = -kRange; dy <= kRange; ++dy) {
                    for (int dx = -kRange; dx <= kRange; ++dx) {
                        if (by + dy < 0 || bx + dx < 0 || by + dy + kBlock > h || bx + dx + kBlock > w) continue;
                        long sad = 0;
                        for (int y = 0; y < kBlock && sad < inter; ++y)
                            for (int x = 0; x < kBlock; ++x)
                                sad += std::abs(current[static_cast<std::size_t>(by + y) * w + bx + x]
                                                - reference[static_cast<std::size_t>(by + dy + y) * w + bx + dx + x]);
                        inter = std::min(inter, sad);
                    }
                }
            }
            intraSum += static_cast<double>(intra);
            interSum += static_cast<double>(inter);
            samples += kBlock * kBlock;
        }
    }
    if (samples == 0) return {};
    return {intraSum / samples, interSum / samples};
}

} // namespace kestrune::codec
