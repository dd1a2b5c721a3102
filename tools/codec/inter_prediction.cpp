#include "tools/codec/inter_prediction.h"

#include <algorithm>
#include <cstring>

#include "tools/codec/kernels.h"

namespace kestrune::codec {

namespace {

constexpr int kMaxBlock = 16;
constexpr int kWindow = kMaxBlock + 5;  // two samples before, three after

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
        // Per row: the edge sample repeated left, the inside copied, the
        // edge sample repeated right.
        const int left = x0 - before, n = before + w;
        const int inside0 = std::clamp(-left, 0, n), inside1 = std::clamp(ref.width - left, inside0, n);
        for (int y = 0; y < before + h; ++y) {
            const std::uint8_t* src = ref.row(std::clamp(y0 - before + y, 0, ref.height - 1));
            std::uint8_t* d = copy + y * kWindow;
            std::fill_n(d, inside0, src[std::clamp(left, 0, ref.width - 1)]);
            if (inside1 > inside0) std::copy_n(src + left + inside0, inside1 - inside0, d + inside0);
            std::fill_n(d + inside1, n - inside1, src[std::clamp(left + n - 1, 0, ref.width - 1)]);
        }
        origin = copy + before * kWindow + before;
        stride = kWindow;
    }
};

// Full-sample blocks: rows of w samples, four rows to an iteration while
// they last; widths 4, 8 and 16 as fixed-size copies.
template <int W>
void copyRow(const std::uint8_t* src, std::uint8_t* dst)
{
    std::memcpy(dst, src, W);
}

template <int W>
void copyRowsOf(const std::uint8_t* src, int srcStride, int h, std::uint8_t* dst, int dstStride)
{
    int j = 0;
    for (; j + 4 <= h; j += 4, src += 4 * srcStride, dst += 4 * dstStride) {
        copyRow<W>(src, dst);
        copyRow<W>(src + srcStride, dst + dstStride);
        copyRow<W>(src + 2 * srcStride, dst + 2 * dstStride);
        copyRow<W>(src + 3 * srcStride, dst + 3 * dstStride);
    }
    for (; j < h; ++j, src += srcStride, dst += dstStride) copyRow<W>(src, dst);
}

// Square blocks with their row count known, so the loop unrolls entirely.
template <int W>
void copySquare(const std::uint8_t* src, int srcStride, std::uint8_t* dst, int dstStride)
{
    for (int j = 0; j < W; ++j) copyRow<W>(src + j * srcStride, dst + j * dstStride);
}

void copyRows(const std::uint8_t* src, int srcStride, int w, int h, std::uint8_t* dst, int dstStride)
{
    if (w == h && w == 16) return copySquare<16>(src, srcStride, dst, dstStride);
    if (w == h && w == 8) return copySquare<8>(src, srcStride, dst, dstStride);
    switch (w) {
    case 16: copyRowsOf<16>(src, srcStride, h, dst, dstStride); break;
    case 8: copyRowsOf<8>(src, srcStride, h, dst, dstStride); break;
    case 4: copyRowsOf<4>(src, srcStride, h, dst, dstStride); break;
    default:
        for (int j = 0; j < h; ++j) std::copy_n(src + j * srcStride, w, dst + j * dstStride);
        break;
    }
}

int tap6(int e, int f, int g, int h, int i, int j)
{
    return e - 5 * f + 20 * g + 20 * h - 5 * i + j;
}

// Six-tap half samples of w x h positions, each from six samples `step`
// apart: out = Clip1((tap6 + 16) >> 5). Plain loops the compiler vectorises.
void halfSamples(const std::uint8_t* src, int srcStride, int step, int w, int h, std::uint8_t* out, int outStride)
{
    for (int j = 0; j < h; ++j) {
        const std::uint8_t* s = src + j * srcStride;
        std::uint8_t* o = out + j * outStride;
        for (int i = 0; i < w; ++i)
            o[i] = clip1((tap6(s[i - 2 * step], s[i - step], s[i], s[i + step], s[i + 2 * step], s[i + 3 * step]) + 16) >> 5);
    }
}

// Plain eighth-sample bilinear rows of any width. Every weighted sum stays
// below 2^14 + 32: 16-bit arithmetic suffices.
void chromaRowsPlain(const std::uint8_t* src, int srcStride, int w, int h, int xFrac, int yFrac, std::uint8_t* dst,
                     int dstStride)
{
    const std::uint16_t wA = static_cast<std::uint16_t>((8 - xFrac) * (8 - yFrac)), wB = static_cast<std::uint16_t>(xFrac * (8 - yFrac));
    const std::uint16_t wC = static_cast<std::uint16_t>((8 - xFrac) * yFrac), wD = static_cast<std::uint16_t>(xFrac * yFrac);
    for (int j = 0; j < h; ++j) {
        const std::uint8_t* s0 = src + j * srcStride;
        const std::uint8_t* s1 = s0 + srcStride;
        std::uint8_t* o = dst + j * dstStride;
        for (int i = 0; i < w; ++i)
            o[i] = static_cast<std::uint8_t>(
                static_cast<std::uint16_t>(wA * s0[i] + wB * s0[i + 1] + wC * s1[i] + wD * s1[i + 1] + 32) >> 6);
    }
}

} // namespace

namespace plain {

void lumaFractional(const std::uint8_t* g, int gs, int xFrac, int yFrac, int w, int h, std::uint8_t* dst,
                    int dstStride)
{
    // The half-sample planes of Figure 8-4: b (horizontal half, one row more
    // when the row below is needed), h (vertical half, one column more when
    // the column right is needed) and the centre j.
    std::uint8_t bPlane[(kMaxBlock + 1) * kMaxBlock];
    std::uint8_t hPlane[kMaxBlock * (kMaxBlock + 1)];
    std::uint8_t jPlane[kMaxBlock * kMaxBlock];
    constexpr int bs = kMaxBlock, hs = kMaxBlock + 1, js = kMaxBlock;
    if (xFrac != 0 && yFrac != 2) halfSamples(g, gs, 1, w, yFrac == 3 ? h + 1 : h, bPlane, bs);
    if (yFrac != 0 && xFrac != 2) halfSamples(g, gs, gs, xFrac == 3 ? w + 1 : w, h, hPlane, hs);
    if ((xFrac == 2 && yFrac != 0) || (yFrac == 2 && xFrac != 0)) {
        // j1 from the unrounded horizontal intermediates b1 of rows -2..h+2
        // (they fit 16 bits: -2550..10710).
        std::int16_t b1[(kMaxBlock + 5) * kMaxBlock];
        for (int j = 0; j < h + 5; ++j) {
            const std::uint8_t* s = g + (j - 2) * gs;
            for (int i = 0; i < w; ++i)
                b1[j * kMaxBlock + i] = static_cast<std::int16_t>(tap6(s[i - 2], s[i - 1], s[i], s[i + 1], s[i + 2], s[i + 3]));
        }
        for (int j = 0; j < h; ++j) {
            const std::int16_t* c = b1 + j * kMaxBlock;
            for (int i = 0; i < w; ++i)
                jPlane[j * js + i] = clip1((tap6(c[i], c[i + kMaxBlock], c[i + 2 * kMaxBlock], c[i + 3 * kMaxBlock],
                                                 c[i + 4 * kMaxBlock], c[i + 5 * kMaxBlock]) + 512) >> 10);
        }
    }

    // Table 8-12: each position is one of these planes or the rounded mean of two.
    const std::uint8_t* p1 = nullptr;
    const std::uint8_t* p2 = nullptr;
    int s1 = 0, s2 = 0;
    switch (yFrac * 4 + xFrac) {
    case 1: p1 = g, s1 = gs, p2 = bPlane, s2 = bs; break;                    // a = (G + b + 1) >> 1
    case 2: p1 = bPlane, s1 = bs; break;                                    // b
    case 3: p1 = g + 1, s1 = gs, p2 = bPlane, s2 = bs; break;                // c = (H + b + 1) >> 1
    case 4: p1 = g, s1 = gs, p2 = hPlane, s2 = hs; break;                    // d = (G + h + 1) >> 1
    case 5: p1 = bPlane, s1 = bs, p2 = hPlane, s2 = hs; break;               // e = (b + h + 1) >> 1
    case 6: p1 = bPlane, s1 = bs, p2 = jPlane, s2 = js; break;               // f = (b + j + 1) >> 1
    case 7: p1 = bPlane, s1 = bs, p2 = hPlane + 1, s2 = hs; break;           // g = (b + m + 1) >> 1
    case 8: p1 = hPlane, s1 = hs; break;                                    // h
    case 9: p1 = hPlane, s1 = hs, p2 = jPlane, s2 = js; break;               // i = (h + j + 1) >> 1
    case 10: p1 = jPlane, s1 = js; break;                                   // j
    case 11: p1 = jPlane, s1 = js, p2 = hPlane + 1, s2 = hs; break;          // k = (j + m + 1) >> 1
    case 12: p1 = g + gs, s1 = gs, p2 = hPlane, s2 = hs; break;              // n = (M + h + 1) >> 1
    case 13: p1 = hPlane, s1 = hs, p2 = bPlane + bs, s2 = bs; break;         // p = (h + s + 1) >> 1
    case 14: p1 = jPlane, s1 = js, p2 = bPlane + bs, s2 = bs; break;         // q = (j + s + 1) >> 1
    case 15: p1 = hPlane + 1, s1 = hs, p2 = bPlane + bs, s2 = bs; break;     // r = (m + s + 1) >> 1
    }
    for (int j = 0; j < h; ++j) {
        const std::uint8_t* a = p1 + j * s1;
        std::uint8_t* o = dst + j * dstStride;
        if (p2 == nullptr) {
            std::copy_n(a, w, o);
        } else {
            const std::uint8_t* b = p2 + j * s2;
            for (int i = 0; i < w; ++i) o[i] = static_cast<std::uint8_t>((a[i] + b[i] + 1) >> 1);
        }
    }
}

void chromaFractional(const std::uint8_t* src, int srcStride, int w, int h, int xFrac, int yFrac, std::uint8_t* dst,
                      int dstStride)
{
    chromaRowsPlain(src, srcStride, w, h, xFrac, yFrac, dst, dstStride);
}

void chromaPairFractional(const std::uint8_t* cb, const std::uint8_t* cr, int srcStride, int w, int h, int xFrac,
                          int yFrac, std::uint8_t* dstCb, std::uint8_t* dstCr, int dstStride)
{
    chromaRowsPlain(cb, srcStride, w, h, xFrac, yFrac, dstCb, dstStride);
    chromaRowsPlain(cr, srcStride, w, h, xFrac, yFrac, dstCr, dstStride);
}

} // namespace plain

void predictLuma(const ConstPlaneView& ref, int x, int y, MotionVector mv, int w, int h, std::uint8_t* dst,
                 int dstStride)
{
    const int xFrac = mv.x & 3, yFrac = mv.y & 3;
    if (xFrac == 0 && yFrac == 0) {
        const Window win(ref, x + (mv.x >> 2), y + (mv.y >> 2), 0, w, h);
        copyRows(win.origin, win.stride, w, h, dst, dstStride);
        return;
    }
    // Full samples from -2 to w + 2 (and h + 2) around the block: 5 extra.
    const Window win(ref, x + (mv.x >> 2), y + (mv.y >> 2), 2, w + 3, h + 3);
    codecKernels().lumaFractional(win.origin, win.stride, xFrac, yFrac, w, h, dst, dstStride);
}

void predictChroma(const ConstPlaneView& ref, int x, int y, MotionVector mv, int w, int h, std::uint8_t* dst,
                   int dstStride)
{
    // Clause 8.4.2.2.2 with mvCLX = mvLX (frames, 4:2:0).
    const int xFrac = mv.x & 7, yFrac = mv.y & 7;
    const Window win(ref, x + (mv.x >> 3), y + (mv.y >> 3), 0, w + 1, h + 1);
    if (xFrac == 0 && yFrac == 0) {
        copyRows(win.origin, win.stride, w, h, dst, dstStride);
        return;
    }
    codecKernels().chromaFractional(win.origin, win.stride, w, h, xFrac, yFrac, dst, dstStride);
}

void predictPartition(const Picture& ref, int x, int y, int w, int h, MotionVector mv, Picture& dst)
{
    const PlaneView luma = dst.plane(kLuma);
    predictLuma(ref.plane(kLuma), x, y, mv, w, h, luma.row(y) + x, luma.stride);

    // Cb and Cr share the vector, the geometry and the weights.
    const PlaneView cb = dst.plane(kCb), cr = dst.plane(kCr);
    const ConstPlaneView refCb = ref.plane(kCb), refCr = ref.plane(kCr);
    const int cx = x >> 1, cy = y >> 1, cw = w >> 1, ch = h >> 1;  // all non-negative
    std::uint8_t* dstCb = cb.row(cy) + cx;
    std::uint8_t* dstCr = cr.row(cy) + cx;
    const int xFrac = mv.x & 7, yFrac = mv.y & 7;
    if (xFrac == 0 && yFrac == 0) {
        predictChroma(refCb, cx, cy, mv, cw, ch, dstCb, cb.stride);
        predictChroma(refCr, cx, cy, mv, cw, ch, dstCr, cr.stride);
        return;
    }
    // Both planes have the same size, so both windows lie inside (with the
    // planes' stride) or both are copies (with the window's).
    const int x0 = cx + (mv.x >> 3), y0 = cy + (mv.y >> 3);
    const Window winCb(refCb, x0, y0, 0, cw + 1, ch + 1), winCr(refCr, x0, y0, 0, cw + 1, ch + 1);
    codecKernels().chromaPairFractional(winCb.origin, winCr.origin, winCb.stride, cw, ch, xFrac, yFrac, dstCb, dstCr,
                                        cb.stride);
}

} // namespace kestrune::codec
