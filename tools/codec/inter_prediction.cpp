#include "tools/codec/inter_prediction.h"

#include <algorithm>

namespace kestrune::codec {

namespace {

constexpr int kMaxBlock = 16;
constexpr int kWindow = kMaxBlock + 5;  // two samples before, three after

std::uint8_t clip1(int v)
{
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

int tap6(int e, int f, int g, int h, int i, int j)
{
    return e - 5 * f + 20 * g + 20 * h - 5 * i + j;
}

// The reference samples a block reads, origin at (x0, y0) of ref, with the
// coordinates clamped to the picture (clause 8.4.2.2.1, equations 8-228/8-229).
// Points into ref where the whole window lies inside it; copies otherwise.
struct Window {
    std::uint8_t copy[kWindow * kWindow];
    const std::uint8_t* origin;  // sample (x0, y0)
    int stride;

    Window(const ConstPlaneView& ref, int x0, int y0, int before, int w, int h)
    {
        if (x0 - before >= 0 && y0 - before >= 0 && x0 + w <= ref.width && y0 + h <= ref.height) {
            origin = ref.row(y0) + x0;
            stride = ref.stride;
            return;
        }
        for (int y = 0; y < before + h; ++y) {
            const std::uint8_t* src = ref.row(std::clamp(y0 - before + y, 0, ref.height - 1));
            for (int x = 0; x < before + w; ++x) copy[y * kWindow + x] = src[std::clamp(x0 - before + x, 0, ref.width - 1)];
        }
        origin = copy + before * kWindow + before;
        stride = kWindow;
    }
    int at(int x, int y) const { return origin[y * stride + x]; }
};

} // namespace

void predictLuma(const ConstPlaneView& ref, int x, int y, MotionVector mv, int w, int h, std::uint8_t* dst,
                 int dstStride)
{
    const int xFrac = mv.x & 3, yFrac = mv.y & 3;
    // Full samples from -2 to w + 2 (and h + 2) around the block: 5 extra.
    const Window win(ref, x + (mv.x >> 2), y + (mv.y >> 2), 2, w + 3, h + 3);
    if (xFrac == 0 && yFrac == 0) {
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i) dst[j * dstStride + i] = static_cast<std::uint8_t>(win.at(i, j));
        return;
    }

    // The half-sample planes of Figure 8-4, each one sample larger than the
    // block where a quarter position needs its right or lower neighbour:
    // b (horizontal half) rows 0..h, h (vertical half) columns 0..w, j centre.
    int bPlane[kMaxBlock + 1][kMaxBlock];
    int hPlane[kMaxBlock][kMaxBlock + 1];
    int jPlane[kMaxBlock][kMaxBlock];
    const bool needB = xFrac != 0;
    const bool needH = yFrac != 0;
    const bool needJ = (xFrac == 2 && yFrac != 0) || (yFrac == 2 && xFrac != 0);
    if (needB)
        for (int j = 0; j <= h; ++j)
            for (int i = 0; i < w; ++i)
                bPlane[j][i] = clip1((tap6(win.at(i - 2, j), win.at(i - 1, j), win.at(i, j), win.at(i + 1, j),
                                           win.at(i + 2, j), win.at(i + 3, j)) + 16) >> 5);
    if (needH)
        for (int j = 0; j < h; ++j)
            for (int i = 0; i <= w; ++i)
                hPlane[j][i] = clip1((tap6(win.at(i, j - 2), win.at(i, j - 1), win.at(i, j), win.at(i, j + 1),
                                           win.at(i, j + 2), win.at(i, j + 3)) + 16) >> 5);
    if (needJ) {
        // j1 from the unrounded horizontal intermediates b1 of rows -2..h+2.
        int b1[kMaxBlock + 5][kMaxBlock];
        for (int j = 0; j < h + 5; ++j)
            for (int i = 0; i < w; ++i)
                b1[j][i] = tap6(win.at(i - 2, j - 2), win.at(i - 1, j - 2), win.at(i, j - 2), win.at(i + 1, j - 2),
                                win.at(i + 2, j - 2), win.at(i + 3, j - 2));
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i)
                jPlane[j][i] = clip1(
                    (tap6(b1[j][i], b1[j + 1][i], b1[j + 2][i], b1[j + 3][i], b1[j + 4][i], b1[j + 5][i]) + 512) >> 10);
    }

    // Table 8-12: each position is a half-sample value or the rounded mean of two.
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) {
            const int G = win.at(i, j);
            int v = 0;
            switch (yFrac * 4 + xFrac) {
            case 1: v = (G + bPlane[j][i] + 1) >> 1; break;                             // a
            case 2: v = bPlane[j][i]; break;                                            // b
            case 3: v = (win.at(i + 1, j) + bPlane[j][i] + 1) >> 1; break;              // c
            case 4: v = (G + hPlane[j][i] + 1) >> 1; break;                             // d
            case 5: v = (bPlane[j][i] + hPlane[j][i] + 1) >> 1; break;                  // e
            case 6: v = (bPlane[j][i] + jPlane[j][i] + 1) >> 1; break;                  // f
            case 7: v = (bPlane[j][i] + hPlane[j][i + 1] + 1) >> 1; break;              // g
            case 8: v = hPlane[j][i]; break;                                            // h
            case 9: v = (hPlane[j][i] + jPlane[j][i] + 1) >> 1; break;                  // i
            case 10: v = jPlane[j][i]; break;                                           // j
            case 11: v = (jPlane[j][i] + hPlane[j][i + 1] + 1) >> 1; break;             // k
            case 12: v = (win.at(i, j + 1) + hPlane[j][i] + 1) >> 1; break;             // n
            case 13: v = (hPlane[j][i] + bPlane[j + 1][i] + 1) >> 1; break;             // p
            case 14: v = (jPlane[j][i] + bPlane[j + 1][i] + 1) >> 1; break;             // q
            case 15: v = (hPlane[j][i + 1] + bPlane[j + 1][i] + 1) >> 1; break;         // r
            }
            dst[j * dstStride + i] = static_cast<std::uint8_t>(v);
        }
}

void predictChroma(const ConstPlaneView& ref, int x, int y, MotionVector mv, int w, int h, std::uint8_t* dst,
                   int dstStride)
{
    // Clause 8.4.2.2.2 with mvCLX = mvLX (frames, 4:2:0).
    const int xFrac = mv.x & 7, yFrac = mv.y & 7;
    const Window win(ref, x + (mv.x >> 3), y + (mv.y >> 3), 0, w + 1, h + 1);
    const int wA = (8 - xFrac) * (8 - yFrac), wB = xFrac * (8 - yFrac), wC = (8 - xFrac) * yFrac, wD = xFrac * yFrac;
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i)
            dst[j * dstStride + i] = static_cast<std::uint8_t>(
                (wA * win.at(i, j) + wB * win.at(i + 1, j) + wC * win.at(i, j + 1) + wD * win.at(i + 1, j + 1) + 32) >> 6);
}

void predictPartition(const Picture& ref, int x, int y, int w, int h, MotionVector mv, Picture& dst)
{
    PlaneView luma = dst.plane(kLuma);
    predictLuma(ref.plane(kLuma), x, y, mv, w, h, luma.row(y) + x, luma.stride);
    for (int p : {kCb, kCr}) {
        PlaneView c = dst.plane(p);
        predictChroma(ref.plane(p), x / 2, y / 2, mv, w / 2, h / 2, c.row(y / 2) + x / 2, c.stride);
    }
}

} // namespace kestrune::codec
