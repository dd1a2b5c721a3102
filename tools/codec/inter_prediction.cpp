#include "tools/codec/inter_prediction.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)
// The low W (4, 8 or 16) bytes of a register from p, and back.
template <int W>
__m128i loadBytes(const std::uint8_t* p)
{
    if constexpr (W == 16) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    } else if constexpr (W == 8) {
        return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    } else {
        std::int32_t v;
        std::memcpy(&v, p, 4);
        return _mm_cvtsi32_si128(v);
    }
}

template <int W>
void storeBytes(std::uint8_t* p, __m128i v)
{
    if constexpr (W == 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    } else if constexpr (W == 8) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v);
    } else {
        const std::int32_t x = _mm_cvtsi128_si32(v);
        std::memcpy(p, &x, 4);
    }
}

// Sixteen samples as 16-bit lanes take two registers.
struct WordPair {
    __m128i lo, hi;
};

template <int W>
struct WordsOf {
    using Type = __m128i;
};
template <>
struct WordsOf<16> {
    using Type = WordPair;
};
template <int W>
using Words = typename WordsOf<W>::Type;

template <int W>
Words<W> loadWords(const std::uint8_t* p)
{
    const __m128i bytes = loadBytes<W>(p), zero = _mm_setzero_si128();
    if constexpr (W == 16) return {_mm_unpacklo_epi8(bytes, zero), _mm_unpackhi_epi8(bytes, zero)};
    else return _mm_unpacklo_epi8(bytes, zero);
}

inline __m128i add16(__m128i a, __m128i b) { return _mm_add_epi16(a, b); }
inline WordPair add16(WordPair a, WordPair b) { return {_mm_add_epi16(a.lo, b.lo), _mm_add_epi16(a.hi, b.hi)}; }
inline __m128i sub16(__m128i a, __m128i b) { return _mm_sub_epi16(a, b); }
inline WordPair sub16(WordPair a, WordPair b) { return {_mm_sub_epi16(a.lo, b.lo), _mm_sub_epi16(a.hi, b.hi)}; }
inline __m128i mul16(__m128i a, __m128i k) { return _mm_mullo_epi16(a, k); }
inline WordPair mul16(WordPair a, __m128i k) { return {_mm_mullo_epi16(a.lo, k), _mm_mullo_epi16(a.hi, k)}; }

#endif

// Full-sample blocks: rows of w (4, 8 or 16 where vectorised) samples,
// four rows to an iteration while they last.
template <int W>
void copyRow(const std::uint8_t* src, std::uint8_t* dst)
{
#if defined(__SSE2__)
    storeBytes<W>(dst, loadBytes<W>(src));
#else
    std::memcpy(dst, src, W);
#endif
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

} // namespace

#if defined(__SSE2__)
namespace {

// e - 5f + 20g + 20h - 5i + j on samples: every partial sum lies in
// -2550..10710, so 16-bit lanes are exact.
template <class V>
V tap6(V e, V f, V g, V h, V i, V j)
{
    const V outer = add16(e, j), inner = add16(f, i), centre = add16(g, h);
    return add16(sub16(outer, mul16(inner, _mm_set1_epi16(5))), mul16(centre, _mm_set1_epi16(20)));
}

// Clip1((t + 16) >> 5) in the low bytes (eight lanes, or all sixteen).
inline __m128i halfWords(__m128i t)
{
    return _mm_srai_epi16(_mm_add_epi16(t, _mm_set1_epi16(16)), 5);
}
inline __m128i roundHalf(__m128i t)
{
    const __m128i w = halfWords(t);
    return _mm_packus_epi16(w, w);
}
inline __m128i roundHalf(WordPair t)
{
    return _mm_packus_epi16(halfWords(t.lo), halfWords(t.hi));
}

template <int W>
Words<W> horizontalTaps(const std::uint8_t* s)
{
    return tap6(loadWords<W>(s - 2), loadWords<W>(s - 1), loadWords<W>(s), loadWords<W>(s + 1), loadWords<W>(s + 2),
                loadWords<W>(s + 3));
}

// Vertical half samples down a column of W samples: the six rows around the
// current output row, advanced one row at a time so each row is read once.
template <int W>
struct VerticalTaps {
    Words<W> r0, r1, r2, r3, r4, r5;
    const std::uint8_t* next;
    int stride;

    VerticalTaps(const std::uint8_t* s, int stride_) : next(s + 4 * stride_), stride(stride_)
    {
        r0 = loadWords<W>(s - 2 * stride), r1 = loadWords<W>(s - stride), r2 = loadWords<W>(s);
        r3 = loadWords<W>(s + stride), r4 = loadWords<W>(s + 2 * stride), r5 = loadWords<W>(s + 3 * stride);
    }
    __m128i half() const { return roundHalf(tap6(r0, r1, r2, r3, r4, r5)); }
    void advance()
    {
        r0 = r1, r1 = r2, r2 = r3, r3 = r4, r4 = r5, r5 = loadWords<W>(next);
        next += stride;
    }
};

// (outer - 5 inner + 20 middle + 512) >> 10 for eight lanes (the low four
// unless all8), saturated to 16 bits: j1 needs more than 16 bits, so the
// taps multiply-add into 32.
template <bool all8>
__m128i centreWords(__m128i outer, __m128i inner, __m128i middle)
{
    const __m128i outerInner = _mm_set1_epi32(static_cast<std::int32_t>(0xfffb0001u));  // (1, -5)
    const __m128i middleRound = _mm_set1_epi32((512 << 16) | 20);                        // (20, 512)
    const __m128i one = _mm_set1_epi16(1);
    auto half = [&](__m128i oi, __m128i m1) {
        const __m128i sum = _mm_add_epi32(_mm_madd_epi16(oi, outerInner), _mm_madd_epi16(m1, middleRound));
        return _mm_srai_epi32(sum, 10);
    };
    const __m128i lo = half(_mm_unpacklo_epi16(outer, inner), _mm_unpacklo_epi16(middle, one));
    __m128i hi = lo;
    if constexpr (all8) hi = half(_mm_unpackhi_epi16(outer, inner), _mm_unpackhi_epi16(middle, one));
    return _mm_packs_epi32(lo, hi);
}

// The centre samples j from the unrounded horizontal intermediates b1 of the
// six rows around the output row (clause 8.4.2.2.1, equation 8-247).
template <int W>
struct CentreTaps {
    Words<W> b0, b1, b2, b3, b4, b5;  // b2: the output row, b3 the row below
    const std::uint8_t* next;
    int stride;

    CentreTaps(const std::uint8_t* s, int stride_) : next(s + 4 * stride_), stride(stride_)
    {
        b0 = horizontalTaps<W>(s - 2 * stride), b1 = horizontalTaps<W>(s - stride), b2 = horizontalTaps<W>(s);
        b3 = horizontalTaps<W>(s + stride), b4 = horizontalTaps<W>(s + 2 * stride), b5 = horizontalTaps<W>(s + 3 * stride);
    }
    __m128i centre() const
    {
        // Pair sums of intermediates lie in -5100..21420: still 16 bits.
        const Words<W> outer = add16(b0, b5), inner = add16(b1, b4), middle = add16(b2, b3);
        if constexpr (W == 16) {
            return _mm_packus_epi16(centreWords<true>(outer.lo, inner.lo, middle.lo),
                                    centreWords<true>(outer.hi, inner.hi, middle.hi));
        } else {
            const __m128i words = centreWords<W == 8>(outer, inner, middle);
            return _mm_packus_epi16(words, words);
        }
    }
    void advance()
    {
        b0 = b1, b1 = b2, b2 = b3, b3 = b4, b4 = b5, b5 = horizontalTaps<W>(next);
        next += stride;
    }
};

// One column of W (4, 8 or 16) luma samples, h rows, at fractional position
// (xFrac, yFrac), not both 0, from the full samples g (Table 8-12;
// _mm_avg_epu8 is the rounded mean (p + q + 1) >> 1). Reads exactly the
// samples the six-tap window covers: columns -2..W+2, rows -2..h+2 of g.
template <int W>
void lumaColumn(const std::uint8_t* g, int gs, int xFrac, int yFrac, int h, std::uint8_t* dst, int dstStride)
{
    if (yFrac == 0) {
        for (int j = 0; j < h; ++j) {  // a, b, c
            const std::uint8_t* s = g + j * gs;
            __m128i v = roundHalf(horizontalTaps<W>(s));
            if (xFrac != 2) v = _mm_avg_epu8(v, loadBytes<W>(s + (xFrac == 3 ? 1 : 0)));
            storeBytes<W>(dst + j * dstStride, v);
        }
        return;
    }
    if (xFrac == 0) {  // d, h, n
        VerticalTaps<W> column(g, gs);
        for (int j = 0; j < h; ++j) {
            if (j > 0) column.advance();
            __m128i v = column.half();
            if (yFrac != 2) v = _mm_avg_epu8(v, loadBytes<W>(g + (j + (yFrac == 3 ? 1 : 0)) * gs));
            storeBytes<W>(dst + j * dstStride, v);
        }
        return;
    }
    if (xFrac != 2 && yFrac != 2) {  // e, g, p, r: b or s with h or m
        VerticalTaps<W> column(g + (xFrac == 3 ? 1 : 0), gs);
        const std::uint8_t* row = g + (yFrac == 3 ? gs : 0);
        for (int j = 0; j < h; ++j) {
            if (j > 0) column.advance();
            const __m128i b = roundHalf(horizontalTaps<W>(row + j * gs));
            storeBytes<W>(dst + j * dstStride, _mm_avg_epu8(b, column.half()));
        }
        return;
    }
    CentreTaps<W> centre(g, gs);
    if (xFrac == 2) {  // f, j, q: j alone or with b or s (the rows' own intermediates)
        for (int j = 0; j < h; ++j) {
            if (j > 0) centre.advance();
            __m128i v = centre.centre();
            if (yFrac != 2) v = _mm_avg_epu8(v, roundHalf(yFrac == 1 ? centre.b2 : centre.b3));
            storeBytes<W>(dst + j * dstStride, v);
        }
        return;
    }
    VerticalTaps<W> column(g + (xFrac == 3 ? 1 : 0), gs);  // i, k: j with h or m
    for (int j = 0; j < h; ++j) {
        if (j > 0) centre.advance(), column.advance();
        storeBytes<W>(dst + j * dstStride, _mm_avg_epu8(centre.centre(), column.half()));
    }
}

// predictLuma, inlined into predictPartition.
inline void lumaBlock(const ConstPlaneView& ref, int x, int y, MotionVector mv, int w, int h, std::uint8_t* dst,
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
    if (w == 16) {
        lumaColumn<16>(win.origin, win.stride, xFrac, yFrac, h, dst, dstStride);
        return;
    }
    int i = 0;
    for (; i + 8 <= w; i += 8) lumaColumn<8>(win.origin + i, win.stride, xFrac, yFrac, h, dst + i, dstStride);
    if (i < w) lumaColumn<4>(win.origin + i, win.stride, xFrac, yFrac, h, dst + i, dstStride);
}

} // namespace

void predictLuma(const ConstPlaneView& ref, int x, int y, MotionVector mv, int w, int h, std::uint8_t* dst,
                 int dstStride)
{
    lumaBlock(ref, x, y, mv, w, h, dst, dstStride);
}

#else

namespace {

std::uint8_t clip1(int v)
{
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
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

} // namespace

void predictLuma(const ConstPlaneView& ref, int x, int y, MotionVector mv, int w, int h, std::uint8_t* dst,
                 int dstStride)
{
    const int xFrac = mv.x & 3, yFrac = mv.y & 3;
    // Full samples from -2 to w + 2 (and h + 2) around the block: 5 extra.
    const Window win(ref, x + (mv.x >> 2), y + (mv.y >> 2), 2, w + 3, h + 3);
    const std::uint8_t* g = win.origin;
    const int gs = win.stride;
    if (xFrac == 0 && yFrac == 0) {
        for (int j = 0; j < h; ++j) std::copy_n(g + j * gs, w, dst + j * dstStride);
        return;
    }

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

#endif

namespace {

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

#if defined(__SSE2__)

// The four bilinear weights of clause 8.4.2.2.2 in 16-bit lanes.
struct ChromaWeights {
    __m128i a, b, c, d;
    ChromaWeights(int xFrac, int yFrac)
        : a(_mm_set1_epi16(static_cast<std::int16_t>((8 - xFrac) * (8 - yFrac)))),
          b(_mm_set1_epi16(static_cast<std::int16_t>(xFrac * (8 - yFrac)))),
          c(_mm_set1_epi16(static_cast<std::int16_t>((8 - xFrac) * yFrac))),
          d(_mm_set1_epi16(static_cast<std::int16_t>(xFrac * yFrac)))
    {
    }
};

// ((8 - xFrac)(8 - yFrac) A + xFrac (8 - yFrac) B + (8 - xFrac) yFrac C +
// xFrac yFrac D + 32) >> 6 in the low bytes, from 16-bit lanes.
inline __m128i bilinear(__m128i a, __m128i b, __m128i c, __m128i d, const ChromaWeights& w)
{
    __m128i sum = _mm_add_epi16(_mm_mullo_epi16(a, w.a), _mm_mullo_epi16(b, w.b));
    sum = _mm_add_epi16(sum, _mm_add_epi16(_mm_mullo_epi16(c, w.c), _mm_mullo_epi16(d, w.d)));
    const __m128i words = _mm_srli_epi16(_mm_add_epi16(sum, _mm_set1_epi16(32)), 6);
    return _mm_packus_epi16(words, words);
}

// Vectors on the half chroma sample have weights 32 and 32 (or 16 each):
// the rounded mean of two (or four) samples, exact without multiplies.
enum class ChromaTaps { Horizontal, Vertical, Centre, Bilinear };

template <ChromaTaps T>
__m128i chromaSamples(__m128i a, __m128i b, __m128i c, __m128i d, const ChromaWeights& w)
{
    const __m128i one = _mm_set1_epi16(1);
    __m128i words;
    if constexpr (T == ChromaTaps::Horizontal) {
        words = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(a, b), one), 1);
    } else if constexpr (T == ChromaTaps::Vertical) {
        words = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(a, c), one), 1);
    } else if constexpr (T == ChromaTaps::Centre) {
        const __m128i sum = _mm_add_epi16(_mm_add_epi16(a, b), _mm_add_epi16(c, d));
        words = _mm_srli_epi16(_mm_add_epi16(sum, _mm_add_epi16(one, one)), 2);
    } else {
        return bilinear(a, b, c, d, w);
    }
    return _mm_packus_epi16(words, words);
}

// Calls f with the ChromaTaps of (xFrac, yFrac) as a compile-time constant.
template <class F>
void withChromaTaps(int xFrac, int yFrac, const F& f)
{
    if (xFrac == 4 && yFrac == 0) f(std::integral_constant<ChromaTaps, ChromaTaps::Horizontal>{});
    else if (xFrac == 0 && yFrac == 4) f(std::integral_constant<ChromaTaps, ChromaTaps::Vertical>{});
    else if (xFrac == 4 && yFrac == 4) f(std::integral_constant<ChromaTaps, ChromaTaps::Centre>{});
    else f(std::integral_constant<ChromaTaps, ChromaTaps::Bilinear>{});
}

// Rows of Planes (1 or 2) planes, W (4 or 8) samples wide, in one loop;
// each source row is loaded once. The planes share both strides.
template <int W, ChromaTaps T, int Planes>
void chromaRows(const std::uint8_t* const (&source)[Planes], int srcStride, int h, int xFrac, int yFrac,
                std::uint8_t* const (&target)[Planes], int dstStride)
{
    const std::uint8_t* src[Planes];
    std::uint8_t* dst[Planes];
    for (int p = 0; p < Planes; ++p) src[p] = source[p], dst[p] = target[p];
    if constexpr (T == ChromaTaps::Horizontal) {  // (A + B + 1) >> 1 in bytes
        for (int j = 0; j < h; ++j) {
            for (int p = 0; p < Planes; ++p) {
                storeBytes<W>(dst[p], _mm_avg_epu8(loadBytes<W>(src[p]), loadBytes<W>(src[p] + 1)));
                src[p] += srcStride, dst[p] += dstStride;
            }
        }
    } else if constexpr (T == ChromaTaps::Vertical) {  // (A + C + 1) >> 1 in bytes
        __m128i a[Planes];
        for (int p = 0; p < Planes; ++p) a[p] = loadBytes<W>(src[p]);
        for (int j = 0; j < h; ++j) {
            for (int p = 0; p < Planes; ++p) {
                src[p] += srcStride;
                const __m128i c = loadBytes<W>(src[p]);
                storeBytes<W>(dst[p], _mm_avg_epu8(a[p], c));
                a[p] = c, dst[p] += dstStride;
            }
        }
    } else {
        const ChromaWeights w(xFrac, yFrac);
        __m128i a[Planes], b[Planes];
        for (int p = 0; p < Planes; ++p) a[p] = loadWords<W>(src[p]), b[p] = loadWords<W>(src[p] + 1);
        for (int j = 0; j < h; ++j) {
            for (int p = 0; p < Planes; ++p) {
                src[p] += srcStride;
                const __m128i c = loadWords<W>(src[p]), d = loadWords<W>(src[p] + 1);
                storeBytes<W>(dst[p], chromaSamples<T>(a[p], b[p], c, d, w));
                a[p] = c, b[p] = d, dst[p] += dstStride;
            }
        }
    }
}

// W (2 or 4) samples of a Cb row and of a Cr row as 16-bit lanes, Cb below.
template <int W>
__m128i loadPair(const std::uint8_t* cb, const std::uint8_t* cr)
{
    using Lane = std::conditional_t<W == 4, std::uint32_t, std::uint16_t>;
    Lane b, c;
    std::memcpy(&b, cb, W);
    std::memcpy(&c, cr, W);
    const __m128i both = W == 4 ? _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(b)), _mm_cvtsi32_si128(static_cast<int>(c)))
                                : _mm_cvtsi32_si128(static_cast<int>(b | (static_cast<std::uint32_t>(c) << 16)));
    return _mm_unpacklo_epi8(both, _mm_setzero_si128());
}

// Both chroma planes at once, W (2 or 4) samples wide, one register holding
// a row of each. Both sources share a stride, as do both destinations.
template <int W, ChromaTaps T>
void chromaPairRows(const std::uint8_t* cb, const std::uint8_t* cr, int srcStride, int h, int xFrac, int yFrac,
                    std::uint8_t* dstCb, std::uint8_t* dstCr, int dstStride)
{
    const ChromaWeights w(xFrac, yFrac);
    __m128i a = loadPair<W>(cb, cr), b = loadPair<W>(cb + 1, cr + 1);
    for (int j = 0; j < h; ++j, dstCb += dstStride, dstCr += dstStride) {
        cb += srcStride, cr += srcStride;
        const __m128i c = loadPair<W>(cb, cr), d = loadPair<W>(cb + 1, cr + 1);
        const __m128i v = chromaSamples<T>(a, b, c, d, w);
        if constexpr (W == 4) {
            storeBytes<4>(dstCb, v);
            storeBytes<4>(dstCr, _mm_srli_si128(v, 4));
        } else {
            const auto both = static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
            const auto lo = static_cast<std::uint16_t>(both), hi = static_cast<std::uint16_t>(both >> 16);
            std::memcpy(dstCb, &lo, 2);
            std::memcpy(dstCr, &hi, 2);
        }
        a = c, b = d;
    }
}

#endif

} // namespace

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
#if defined(__SSE2__)
    if (w == 8 || w == 4) {
        withChromaTaps(xFrac, yFrac, [&](auto taps) {
            if (w == 8) chromaRows<8, taps()>({win.origin}, win.stride, h, xFrac, yFrac, {dst}, dstStride);
            else chromaRows<4, taps()>({win.origin}, win.stride, h, xFrac, yFrac, {dst}, dstStride);
        });
        return;
    }
#endif
    chromaRowsPlain(win.origin, win.stride, w, h, xFrac, yFrac, dst, dstStride);
}

void predictPartition(const Picture& ref, int x, int y, int w, int h, MotionVector mv, Picture& dst)
{
    const PlaneView luma = dst.plane(kLuma);
#if defined(__SSE2__)
    lumaBlock(ref.plane(kLuma), x, y, mv, w, h, luma.row(y) + x, luma.stride);
#else
    predictLuma(ref.plane(kLuma), x, y, mv, w, h, luma.row(y) + x, luma.stride);
#endif

    // Cb and Cr share the vector, the geometry and the weights.
    const PlaneView cb = dst.plane(kCb), cr = dst.plane(kCr);
    const ConstPlaneView refCb = ref.plane(kCb), refCr = ref.plane(kCr);
    const int cx = x >> 1, cy = y >> 1, cw = w >> 1, ch = h >> 1;  // all non-negative
    std::uint8_t* dstCb = cb.row(cy) + cx;
    std::uint8_t* dstCr = cr.row(cy) + cx;
#if defined(__SSE2__)
    const int xFrac = mv.x & 7, yFrac = mv.y & 7;
    if ((xFrac != 0 || yFrac != 0) && (cw == 8 || cw == 4 || cw == 2)) {
        // Both planes have the same size, so both windows lie inside (with
        // the planes' stride) or both are copies (with the window's).
        const int x0 = cx + (mv.x >> 3), y0 = cy + (mv.y >> 3);
        const Window winCb(refCb, x0, y0, 0, cw + 1, ch + 1), winCr(refCr, x0, y0, 0, cw + 1, ch + 1);
        withChromaTaps(xFrac, yFrac, [&](auto taps) {
            if (cw == 8) {
                chromaRows<8, taps()>({winCb.origin, winCr.origin}, winCb.stride, ch, xFrac, yFrac, {dstCb, dstCr},
                                      cb.stride);
            } else if (cw == 4) {
                chromaPairRows<4, taps()>(winCb.origin, winCr.origin, winCb.stride, ch, xFrac, yFrac, dstCb, dstCr, cb.stride);
            } else {
                chromaPairRows<2, taps()>(winCb.origin, winCr.origin, winCb.stride, ch, xFrac, yFrac, dstCb, dstCr, cb.stride);
            }
        });
        return;
    }
#endif
    predictChroma(refCb, cx, cy, mv, cw, ch, dstCb, cb.stride);
    predictChroma(refCr, cx, cy, mv, cw, ch, dstCr, cr.stride);
}

} // namespace kestrune::codec
