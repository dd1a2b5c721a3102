#include "tools/codec/x86/sse2_kernels.h"

#include <cstring>
#include <type_traits>

#include <emmintrin.h>

namespace kestrune::codec::sse2 {

namespace {

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

} // namespace

void lumaFractional(const std::uint8_t* g, int gs, int xFrac, int yFrac, int w, int h, std::uint8_t* dst,
                    int dstStride)
{
    if (w == 16) {
        lumaColumn<16>(g, gs, xFrac, yFrac, h, dst, dstStride);
        return;
    }
    int i = 0;
    for (; i + 8 <= w; i += 8) lumaColumn<8>(g + i, gs, xFrac, yFrac, h, dst + i, dstStride);
    if (i < w) lumaColumn<4>(g + i, gs, xFrac, yFrac, h, dst + i, dstStride);
}

void chromaFractional(const std::uint8_t* src, int srcStride, int w, int h, int xFrac, int yFrac, std::uint8_t* dst,
                      int dstStride)
{
    if (w != 8 && w != 4) return plain::chromaFractional(src, srcStride, w, h, xFrac, yFrac, dst, dstStride);
    withChromaTaps(xFrac, yFrac, [&](auto taps) {
        if (w == 8) chromaRows<8, taps()>({src}, srcStride, h, xFrac, yFrac, {dst}, dstStride);
        else chromaRows<4, taps()>({src}, srcStride, h, xFrac, yFrac, {dst}, dstStride);
    });
}

void chromaPairFractional(const std::uint8_t* cb, const std::uint8_t* cr, int srcStride, int w, int h, int xFrac,
                          int yFrac, std::uint8_t* dstCb, std::uint8_t* dstCr, int dstStride)
{
    if (w != 8 && w != 4 && w != 2)
        return plain::chromaPairFractional(cb, cr, srcStride, w, h, xFrac, yFrac, dstCb, dstCr, dstStride);
    withChromaTaps(xFrac, yFrac, [&](auto taps) {
        if (w == 8) chromaRows<8, taps()>({cb, cr}, srcStride, h, xFrac, yFrac, {dstCb, dstCr}, dstStride);
        else if (w == 4) chromaPairRows<4, taps()>(cb, cr, srcStride, h, xFrac, yFrac, dstCb, dstCr, dstStride);
        else chromaPairRows<2, taps()>(cb, cr, srcStride, h, xFrac, yFrac, dstCb, dstCr, dstStride);
    });
}

} // namespace kestrune::codec::sse2
