#include "tools/codec/deblocking.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "tools/codec/quantisation.h"

namespace kestrune::codec {

namespace {

// Table 8-16 (alpha', beta') and Table 8-17 (tC0' for bS 1, 2, 3), indexed by indexA/indexB.
constexpr std::uint8_t kAlpha[52] = {0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,   0,   0,   0,   0,   0,   4,   4,
                                     5,  6,  7,  8,  9,  10, 12, 13, 15, 17, 20,  22,  25,  28,  32,  36,  40,  45,
                                     50, 56, 63, 71, 80, 90, 101, 113, 127, 144, 162, 182, 203, 226, 255, 255};
constexpr std::uint8_t kBeta[52] = {0, 0, 0, 0, 0, 0, 0, 0,  0,  0,  0,  0,  0,  0,  0,  0,  2,  2,
                                    2, 3, 3, 3, 3, 4, 4, 4,  6,  6,  7,  7,  8,  8,  9,  9,  10, 10,
                                    11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 17, 17, 18, 18};
constexpr std::uint8_t kTc0[52][3] = {
    {0, 0, 0},   {0, 0, 0},   {0, 0, 0},   {0, 0, 0},    {0, 0, 0},    {0, 0, 0},    {0, 0, 0},   {0, 0, 0},
    {0, 0, 0},   {0, 0, 0},   {0, 0, 0},   {0, 0, 0},    {0, 0, 0},    {0, 0, 0},    {0, 0, 0},   {0, 0, 0},
    {0, 0, 0},   {0, 0, 1},   {0, 0, 1},   {0, 0, 1},    {0, 0, 1},    {0, 1, 1},    {0, 1, 1},   {1, 1, 1},
    {1, 1, 1},   {1, 1, 1},   {1, 1, 1},   {1, 1, 2},    {1, 1, 2},    {1, 1, 2},    {1, 1, 2},   {1, 2, 3},
    {1, 2, 3},   {2, 2, 3},   {2, 2, 4},   {2, 3, 4},    {2, 3, 4},    {3, 3, 5},    {3, 4, 6},   {3, 4, 6},
    {4, 5, 7},   {4, 5, 8},   {4, 6, 9},   {5, 7, 10},   {6, 8, 11},   {6, 8, 13},   {7, 10, 14}, {8, 11, 16},
    {9, 12, 18}, {10, 13, 20}, {11, 15, 23}, {13, 17, 25}};

std::uint8_t clip1(int v)
{
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

// Filters one line across the edge (clauses 8.7.2.3 and 8.7.2.4); q points at q0.
template <bool chroma>
inline void filterLine(std::uint8_t* q, int step, int bS, int alpha, int beta, int tc0)
{
    const int p0 = q[-step], p1 = q[-2 * step], q0 = q[0], q1 = q[step];
    if (!(std::abs(p0 - q0) < alpha && std::abs(p1 - p0) < beta && std::abs(q1 - q0) < beta)) return;
    if constexpr (chroma) {
        if (bS < 4) {
            const int tc = tc0 + 1;
            const int delta = std::clamp((((q0 - p0) << 2) + (p1 - q1) + 4) >> 3, -tc, tc);
            q[-step] = clip1(p0 + delta);
            q[0] = clip1(q0 - delta);
        } else {
            q[-step] = static_cast<std::uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
            q[0] = static_cast<std::uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
        }
        return;
    }
    const int p2 = q[-3 * step], q2 = q[2 * step];
    const bool ap = std::abs(p2 - p0) < beta, aq = std::abs(q2 - q0) < beta;
    if (bS < 4) {
        const int tc = tc0 + ap + aq;
        const int delta = std::clamp((((q0 - p0) << 2) + (p1 - q1) + 4) >> 3, -tc, tc);
        q[-step] = clip1(p0 + delta);
        q[0] = clip1(q0 - delta);
        if (ap) q[-2 * step] = static_cast<std::uint8_t>(p1 + std::clamp((p2 + ((p0 + q0 + 1) >> 1) - (p1 << 1)) >> 1, -tc0, tc0));
        if (aq) q[step] = static_cast<std::uint8_t>(q1 + std::clamp((q2 + ((p0 + q0 + 1) >> 1) - (q1 << 1)) >> 1, -tc0, tc0));
        return;
    }
    const bool strong = std::abs(p0 - q0) < ((alpha >> 2) + 2);
    if (ap && strong) {
        const int p3 = q[-4 * step];
        q[-step] = static_cast<std::uint8_t>((p2 + 2 * p1 + 2 * p0 + 2 * q0 + q1 + 4) >> 3);
        q[-2 * step] = static_cast<std::uint8_t>((p2 + p1 + p0 + q0 + 2) >> 2);
        q[-3 * step] = static_cast<std::uint8_t>((2 * p3 + 3 * p2 + p1 + p0 + q0 + 4) >> 3);
    } else {
        q[-step] = static_cast<std::uint8_t>((2 * p1 + p0 + q1 + 2) >> 2);
    }
    if (aq && strong) {
        const int q3 = q[3 * step];
        q[0] = static_cast<std::uint8_t>((p1 + 2 * p0 + 2 * q0 + 2 * q1 + q2 + 4) >> 3);
        q[step] = static_cast<std::uint8_t>((p0 + q0 + q1 + q2 + 2) >> 2);
        q[2 * step] = static_cast<std::uint8_t>((2 * q3 + 3 * q2 + q1 + q0 + p0 + 4) >> 3);
    } else {
        q[0] = static_cast<std::uint8_t>((2 * q1 + q0 + p1 + 2) >> 2);
    }
}

// bS of an edge between two inter 4x4 blocks (clause 8.7.2.1, bS 2 to 0).
inline int interStrength(const MacroblockState& mbP, int blkP, const MacroblockState& mbQ, int blkQ)
{
    if (mbP.totalCoeff[static_cast<std::size_t>(blkP)] != 0 || mbQ.totalCoeff[static_cast<std::size_t>(blkQ)] != 0)
        return 2;
    if (mbP.refPicIdOfBlock(blkP) != mbQ.refPicIdOfBlock(blkQ)) return 1;
    const MotionVector& a = mbP.mv[static_cast<std::size_t>(blkP)];
    const MotionVector& b = mbQ.mv[static_cast<std::size_t>(blkQ)];
    return std::abs(a.x - b.x) >= 4 || std::abs(a.y - b.y) >= 4 ? 1 : 0;
}

// An inter macroblock without luma coefficients whose blocks all share one
// vector and reference: none of its internal edges is filtered.
bool uniformInter(const MacroblockState& mb)
{
    if (mb.intra()) return false;
    int coeffs = 0;
    for (int k = 0; k < 16; ++k) coeffs |= mb.totalCoeff[static_cast<std::size_t>(k)];
    if (coeffs != 0) return false;
    for (int k = 1; k < 4; ++k)
        if (mb.refPicId[static_cast<std::size_t>(k)] != mb.refPicId[0]) return false;
    for (int k = 1; k < 16; ++k)
        if (!(mb.mv[static_cast<std::size_t>(k)] == mb.mv[0])) return false;
    return true;
}


#if defined(__SSE2__)
// The luma filter of clauses 8.7.2.3/8.7.2.4 on 16 lines at once: rows[i]
// holds sample p3..q3 (i = 0..7) of the 16 lines; every lane computes both
// the bS < 4 and the bS 4 result and keeps the one its bS asks for.
class LumaEdgeSse2 {
public:
    [[gnu::always_inline]] LumaEdgeSse2(int alpha, int beta, const int bS[4], int indexA)
    {
        alignas(16) std::int16_t tc0[16], bs4[16], on[16];
        for (int k = 0; k < 4; ++k)
            for (int i = 0; i < 4; ++i) {
                const int s = bS[k];
                tc0[4 * k + i] = static_cast<std::int16_t>(s > 0 && s < 4 ? kTc0[indexA][s - 1] : 0);
                bs4[4 * k + i] = static_cast<std::int16_t>(s == 4 ? -1 : 0);
                on[4 * k + i] = static_cast<std::int16_t>(s > 0 ? -1 : 0);
            }
        for (int h = 0; h < 2; ++h) {
            tc0_[h] = _mm_load_si128(reinterpret_cast<const __m128i*>(tc0 + 8 * h));
            bs4_[h] = _mm_load_si128(reinterpret_cast<const __m128i*>(bs4 + 8 * h));
            on_[h] = _mm_load_si128(reinterpret_cast<const __m128i*>(on + 8 * h));
        }
        const int fours = (bS[0] == 4) + (bS[1] == 4) + (bS[2] == 4) + (bS[3] == 4);
        mode_ = fours == 0 ? kNormal : fours == 4 ? kStrong : kMixed;
        alpha_ = _mm_set1_epi16(static_cast<std::int16_t>(alpha));
        beta_ = _mm_set1_epi16(static_cast<std::int16_t>(beta));
        strongLimit_ = _mm_set1_epi16(static_cast<std::int16_t>((alpha >> 2) + 2));
    }

    // Which filters the edge needs: only bS < 4, only bS 4, or both.
    enum Mode { kNormal, kStrong, kMixed };

    template <int mode>
    [[gnu::always_inline]] void filter(__m128i rows[8]) const
    {
        const __m128i zero = _mm_setzero_si128();
        __m128i out[2][6];
        for (int h = 0; h < 2; ++h) {
            __m128i v[8];
            for (int i = 0; i < 8; ++i)
                v[i] = h == 0 ? _mm_unpacklo_epi8(rows[i], zero) : _mm_unpackhi_epi8(rows[i], zero);
            half<mode>(v, h, out[h]);
        }
        for (int i = 0; i < 6; ++i) rows[i + 1] = _mm_packus_epi16(out[0][i], out[1][i]);
    }

private:
    static __m128i absDiff(__m128i a, __m128i b)
    {
        const __m128i d = _mm_sub_epi16(a, b);
        return _mm_max_epi16(d, _mm_sub_epi16(_mm_setzero_si128(), d));
    }
    static __m128i select(__m128i mask, __m128i a, __m128i b)
    {
        return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
    }
    static __m128i clamp(__m128i v, __m128i lo, __m128i hi)
    {
        return _mm_min_epi16(_mm_max_epi16(v, lo), hi);
    }

    // v: p3 p2 p1 p0 q0 q1 q2 q3 as 16-bit lanes; out: filtered p2..q2.
    template <int mode>
    [[gnu::always_inline]] void half(const __m128i v[8], int h, __m128i out[6]) const
    {
        const __m128i p2 = v[1], p1 = v[2], p0 = v[3], q0 = v[4], q1 = v[5], q2 = v[6];
        const __m128i zero = _mm_setzero_si128();
        const __m128i one = _mm_set1_epi16(1), two = _mm_set1_epi16(2), four = _mm_set1_epi16(4);
        const __m128i absP0Q0 = absDiff(p0, q0);
        __m128i filterMask = _mm_and_si128(on_[h], _mm_cmplt_epi16(absP0Q0, alpha_));
        filterMask = _mm_and_si128(filterMask, _mm_cmplt_epi16(absDiff(p1, p0), beta_));
        filterMask = _mm_and_si128(filterMask, _mm_cmplt_epi16(absDiff(q1, q0), beta_));
        const __m128i ap = _mm_cmplt_epi16(absDiff(p2, p0), beta_);
        const __m128i aq = _mm_cmplt_epi16(absDiff(q2, q0), beta_);

        __m128i nP1 = p1, nP0 = p0, nQ0 = q0, nQ1 = q1;
        if constexpr (mode != kStrong) {  // bS < 4
            const __m128i tc0 = tc0_[h], minusTc0 = _mm_sub_epi16(zero, tc0);
            const __m128i tc = _mm_sub_epi16(_mm_sub_epi16(tc0, ap), aq);  // masks are -1
            __m128i delta = _mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(q0, p0), 2), _mm_sub_epi16(p1, q1));
            delta = _mm_srai_epi16(_mm_add_epi16(delta, four), 3);
            delta = clamp(delta, _mm_sub_epi16(zero, tc), tc);
            const __m128i max = _mm_set1_epi16(255);
            nP0 = clamp(_mm_add_epi16(p0, delta), zero, max);
            nQ0 = clamp(_mm_sub_epi16(q0, delta), zero, max);
            const __m128i avg = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(p0, q0), one), 1);
            const __m128i dP1 = _mm_srai_epi16(_mm_sub_epi16(_mm_add_epi16(p2, avg), _mm_slli_epi16(p1, 1)), 1);
            const __m128i dQ1 = _mm_srai_epi16(_mm_sub_epi16(_mm_add_epi16(q2, avg), _mm_slli_epi16(q1, 1)), 1);
            nP1 = select(ap, _mm_add_epi16(p1, clamp(dP1, minusTc0, tc0)), p1);
            nQ1 = select(aq, _mm_add_epi16(q1, clamp(dQ1, minusTc0, tc0)), q1);
        }
        __m128i fP2 = p2, fP1 = nP1, fP0 = nP0, fQ0 = nQ0, fQ1 = nQ1, fQ2 = q2;
        if constexpr (mode != kNormal) {  // bS 4
            const __m128i p3 = v[0], q3 = v[7];
            const __m128i strong = _mm_cmplt_epi16(absP0Q0, strongLimit_);
            const __m128i p0q0 = _mm_add_epi16(p0, q0);
            const __m128i bs4 = mode == kMixed ? bs4_[h] : _mm_cmpeq_epi16(zero, zero);
            {
                const __m128i strongP = _mm_and_si128(ap, strong);
                const __m128i sP0 = _mm_srai_epi16(
                    _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(p2, q1), _mm_slli_epi16(_mm_add_epi16(p1, p0q0), 1)), four), 3);
                const __m128i sP1 = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_add_epi16(p2, p1), p0q0), two), 2);
                const __m128i sP2 = _mm_srai_epi16(
                    _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(_mm_add_epi16(p3, p2), 1), p2), _mm_add_epi16(p1, p0q0)), four), 3);
                const __m128i wP0 = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(p1, 1), _mm_add_epi16(p0, q1)), two), 2);
                fP2 = select(bs4, select(strongP, sP2, p2), p2);
                fP1 = select(bs4, select(strongP, sP1, p1), nP1);
                fP0 = select(bs4, select(strongP, sP0, wP0), nP0);
            }
            {
                const __m128i strongQ = _mm_and_si128(aq, strong);
                const __m128i sQ0 = _mm_srai_epi16(
                    _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(p1, q2), _mm_slli_epi16(_mm_add_epi16(q1, p0q0), 1)), four), 3);
                const __m128i sQ1 = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_add_epi16(q2, q1), p0q0), two), 2);
                const __m128i sQ2 = _mm_srai_epi16(
                    _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(_mm_add_epi16(q3, q2), 1), q2), _mm_add_epi16(q1, p0q0)), four), 3);
                const __m128i wQ0 = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(q1, 1), _mm_add_epi16(q0, p1)), two), 2);
                fQ0 = select(bs4, select(strongQ, sQ0, wQ0), nQ0);
                fQ1 = select(bs4, select(strongQ, sQ1, q1), nQ1);
                fQ2 = select(bs4, select(strongQ, sQ2, q2), q2);
            }
        }
        out[0] = select(filterMask, fP2, p2);
        out[1] = select(filterMask, fP1, p1);
        out[2] = select(filterMask, fP0, p0);
        out[3] = select(filterMask, fQ0, q0);
        out[4] = select(filterMask, fQ1, q1);
        out[5] = select(filterMask, fQ2, q2);
    }

public:
    int mode() const { return mode_; }

private:
    int mode_ = kNormal;
    __m128i tc0_[2], bs4_[2], on_[2];
    __m128i alpha_, beta_, strongLimit_;
};

// One luma macroblock edge; q0 as for filterEdge.
void filterLumaEdgeSse2(std::uint8_t* q0, int sampleStep, int lineStep, const int bS[4], int indexA, int alpha, int beta)
{
    const LumaEdgeSse2 kernel(alpha, beta, bS, indexA);
    __m128i rows[8];
    if (lineStep == 1) {  // horizontal edge: every p/q row is 16 contiguous samples
        for (int i = 0; i < 8; ++i)
            rows[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q0 + (i - 4) * sampleStep));
        switch (kernel.mode()) {
    case LumaEdgeSse2::kNormal: kernel.filter<LumaEdgeSse2::kNormal>(rows); break;
    case LumaEdgeSse2::kStrong: kernel.filter<LumaEdgeSse2::kStrong>(rows); break;
    default: kernel.filter<LumaEdgeSse2::kMixed>(rows); break;
    }
        for (int i = 1; i < 7; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(q0 + (i - 4) * sampleStep), rows[i]);
        return;
    }
    // Vertical edge (sampleStep 1): transpose the 16 lines of 8 samples
    // p3..q3 into 8 rows of 16, filter, and transpose back.
    std::uint8_t* base = q0 - 4;
    __m128i a[8], b[8], c[8];
    for (int k = 0; k < 8; ++k)
        a[k] = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(base + 2 * k * lineStep)),
                                 _mm_loadl_epi64(reinterpret_cast<const __m128i*>(base + (2 * k + 1) * lineStep)));
    for (int k = 0; k < 4; ++k) {
        b[2 * k] = _mm_unpacklo_epi16(a[2 * k], a[2 * k + 1]);
        b[2 * k + 1] = _mm_unpackhi_epi16(a[2 * k], a[2 * k + 1]);
    }
    for (int k = 0; k < 2; ++k) {
        c[4 * k] = _mm_unpacklo_epi32(b[4 * k], b[4 * k + 2]);
        c[4 * k + 1] = _mm_unpackhi_epi32(b[4 * k], b[4 * k + 2]);
        c[4 * k + 2] = _mm_unpacklo_epi32(b[4 * k + 1], b[4 * k + 3]);
        c[4 * k + 3] = _mm_unpackhi_epi32(b[4 * k + 1], b[4 * k + 3]);
    }
    for (int k = 0; k < 4; ++k) {
        rows[2 * k] = _mm_unpacklo_epi64(c[k], c[k + 4]);
        rows[2 * k + 1] = _mm_unpackhi_epi64(c[k], c[k + 4]);
    }
    switch (kernel.mode()) {
    case LumaEdgeSse2::kNormal: kernel.filter<LumaEdgeSse2::kNormal>(rows); break;
    case LumaEdgeSse2::kStrong: kernel.filter<LumaEdgeSse2::kStrong>(rows); break;
    default: kernel.filter<LumaEdgeSse2::kMixed>(rows); break;
    }
    for (int k = 0; k < 4; ++k) {
        a[2 * k] = _mm_unpacklo_epi8(rows[2 * k], rows[2 * k + 1]);      // lines 0..7
        a[2 * k + 1] = _mm_unpackhi_epi8(rows[2 * k], rows[2 * k + 1]);  // lines 8..15
    }
    for (int k = 0; k < 2; ++k) {
        b[4 * k] = _mm_unpacklo_epi16(a[k], a[k + 2]);
        b[4 * k + 1] = _mm_unpackhi_epi16(a[k], a[k + 2]);
        b[4 * k + 2] = _mm_unpacklo_epi16(a[k + 4], a[k + 6]);
        b[4 * k + 3] = _mm_unpackhi_epi16(a[k + 4], a[k + 6]);
    }
    // b[4k] / b[4k+1]: samples 0..3 of lines 8k+0..3 / 8k+4..7; b[4k+2] / b[4k+3]: samples 4..7.
    for (int k = 0; k < 2; ++k)
        for (int j = 0; j < 2; ++j) {
            const __m128i lo = _mm_unpacklo_epi32(b[4 * k + j], b[4 * k + j + 2]);
            const __m128i hi = _mm_unpackhi_epi32(b[4 * k + j], b[4 * k + j + 2]);
            std::uint8_t* line = base + (8 * k + 4 * j) * lineStep;
            _mm_storel_epi64(reinterpret_cast<__m128i*>(line), lo);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(line + lineStep), _mm_srli_si128(lo, 8));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(line + 2 * lineStep), hi);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(line + 3 * lineStep), _mm_srli_si128(hi, 8));
        }
}

// The chroma filter of clause 8.7.2.3/8.7.2.4 (bS < 4 with tC = tC0 + 1, bS 4
// with the three-tap means) on one edge of both chroma planes at once: lanes
// 0..7 are the 8 lines of cb, lanes 8..15 those of cr. Both planes share bS,
// indexA and indexB.
void filterChromaEdgesSse2(std::uint8_t* cb, std::uint8_t* cr, int sampleStep, int lineStep, const int bS[4],
                           int indexA, int alpha, int beta)
{
    alignas(16) std::int16_t tc[8], bs4[8], on[8];
    for (int line = 0; line < 8; ++line) {
        const int s = bS[line / 2];
        tc[line] = static_cast<std::int16_t>(s > 0 && s < 4 ? kTc0[indexA][s - 1] + 1 : 0);
        bs4[line] = static_cast<std::int16_t>(s == 4 ? -1 : 0);
        on[line] = static_cast<std::int16_t>(s > 0 ? -1 : 0);
    }
    const __m128i tcV = _mm_load_si128(reinterpret_cast<const __m128i*>(tc));
    const __m128i bs4V = _mm_load_si128(reinterpret_cast<const __m128i*>(bs4));
    const __m128i onV = _mm_load_si128(reinterpret_cast<const __m128i*>(on));
    const __m128i alphaV = _mm_set1_epi16(static_cast<std::int16_t>(alpha));
    const __m128i betaV = _mm_set1_epi16(static_cast<std::int16_t>(beta));
    const __m128i zero = _mm_setzero_si128(), two = _mm_set1_epi16(2), four = _mm_set1_epi16(4);
    const __m128i max = _mm_set1_epi16(255);

    // rows[i]: sample p1, p0, q0, q1 (i = 0..3) of the 8 cb lines then the 8 cr lines.
    __m128i rows[4];
    alignas(16) std::uint8_t t[4][16];
    if (lineStep == 1) {
        for (int i = 0; i < 4; ++i)
            rows[i] = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + (i - 2) * sampleStep)),
                                         _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + (i - 2) * sampleStep)));
    } else {
        for (int line = 0; line < 8; ++line)
            for (int i = 0; i < 4; ++i) {
                t[i][line] = cb[line * lineStep + i - 2];
                t[i][line + 8] = cr[line * lineStep + i - 2];
            }
        for (int i = 0; i < 4; ++i) rows[i] = _mm_load_si128(reinterpret_cast<const __m128i*>(t[i]));
    }
    __m128i out[2][2];
    for (int h = 0; h < 2; ++h) {
        auto widen = [&](__m128i v) { return h == 0 ? _mm_unpacklo_epi8(v, zero) : _mm_unpackhi_epi8(v, zero); };
        const __m128i p1 = widen(rows[0]), p0 = widen(rows[1]), q0 = widen(rows[2]), q1 = widen(rows[3]);
        auto absDiff = [](__m128i a, __m128i b) {
            const __m128i d = _mm_sub_epi16(a, b);
            return _mm_max_epi16(d, _mm_sub_epi16(_mm_setzero_si128(), d));
        };
        auto select = [](__m128i mask, __m128i a, __m128i b) {
            return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
        };
        __m128i mask = _mm_and_si128(onV, _mm_cmplt_epi16(absDiff(p0, q0), alphaV));
        mask = _mm_and_si128(mask, _mm_cmplt_epi16(absDiff(p1, p0), betaV));
        mask = _mm_and_si128(mask, _mm_cmplt_epi16(absDiff(q1, q0), betaV));
        __m128i delta = _mm_add_epi16(_mm_slli_epi16(_mm_sub_epi16(q0, p0), 2), _mm_sub_epi16(p1, q1));
        delta = _mm_srai_epi16(_mm_add_epi16(delta, four), 3);
        delta = _mm_min_epi16(_mm_max_epi16(delta, _mm_sub_epi16(zero, tcV)), tcV);
        const __m128i nP0 = _mm_min_epi16(_mm_max_epi16(_mm_add_epi16(p0, delta), zero), max);
        const __m128i nQ0 = _mm_min_epi16(_mm_max_epi16(_mm_sub_epi16(q0, delta), zero), max);
        const __m128i sP0 = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(p1, 1), _mm_add_epi16(p0, q1)), two), 2);
        const __m128i sQ0 = _mm_srai_epi16(_mm_add_epi16(_mm_add_epi16(_mm_slli_epi16(q1, 1), _mm_add_epi16(q0, p1)), two), 2);
        out[h][0] = select(mask, select(bs4V, sP0, nP0), p0);
        out[h][1] = select(mask, select(bs4V, sQ0, nQ0), q0);
    }
    const __m128i p0 = _mm_packus_epi16(out[0][0], out[1][0]);
    const __m128i q0 = _mm_packus_epi16(out[0][1], out[1][1]);
    if (lineStep == 1) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(cb - sampleStep), p0);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(cr - sampleStep), _mm_srli_si128(p0, 8));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(cb), q0);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(cr), _mm_srli_si128(q0, 8));
        return;
    }
    _mm_store_si128(reinterpret_cast<__m128i*>(t[1]), p0);
    _mm_store_si128(reinterpret_cast<__m128i*>(t[2]), q0);
    for (int line = 0; line < 8; ++line) {
        cb[line * lineStep - 1] = t[1][line];
        cb[line * lineStep] = t[2][line];
        cr[line * lineStep - 1] = t[1][line + 8];
        cr[line * lineStep] = t[2][line + 8];
    }
}
#endif

template <bool chroma>
void filterEdgeLines(std::uint8_t* q0, int sampleStep, int lineStep, const int bS[4], int indexA, int indexB)
{
    const int alpha = kAlpha[indexA], beta = kBeta[indexB];
    if (alpha == 0 || beta == 0) return;  // no sample can pass |p0 - q0| < alpha, |p1 - p0| < beta
#if defined(__SSE2__)
    if constexpr (!chroma) {
        if (sampleStep == 1 || lineStep == 1) {
            filterLumaEdgeSse2(q0, sampleStep, lineStep, bS, indexA, alpha, beta);
            return;
        }
    }
#endif
    constexpr int linesPerBs = chroma ? 2 : 4;
    for (int k = 0; k < 4; ++k) {
        const int s = bS[k];
        if (s == 0) continue;
        const int tc0 = s < 4 ? kTc0[indexA][s - 1] : 0;
        for (int line = k * linesPerBs; line < (k + 1) * linesPerBs; ++line)
            filterLine<chroma>(q0 + line * lineStep, sampleStep, s, alpha, beta, tc0);
    }
}

// One chroma edge of both planes (they share bS and, in Baseline, the
// filter indices). cb and cr may be the same edge.
void filterChromaEdges(std::uint8_t* cb, std::uint8_t* cr, int sampleStep, int lineStep, const int bS[4], int indexA,
                       int indexB)
{
#if defined(__SSE2__)
    const int alpha = kAlpha[indexA], beta = kBeta[indexB];
    if (alpha == 0 || beta == 0) return;
    if (sampleStep == 1 || lineStep == 1) {
        filterChromaEdgesSse2(cb, cr, sampleStep, lineStep, bS, indexA, alpha, beta);
        return;
    }
#endif
    filterEdgeLines<true>(cb, sampleStep, lineStep, bS, indexA, indexB);
    if (cr != cb) filterEdgeLines<true>(cr, sampleStep, lineStep, bS, indexA, indexB);
}

int filterQp(const MacroblockState& mb)
{
    return mb.mbType == MbType::IPCM ? 0 : mb.qp;
}

} // namespace

void filterEdge(std::uint8_t* q0, int sampleStep, int lineStep, const int bS[4], int indexA, int indexB, bool chroma)
{
    if (chroma)
        filterChromaEdges(q0, q0, sampleStep, lineStep, bS, indexA, indexB);
    else
        filterEdgeLines<false>(q0, sampleStep, lineStep, bS, indexA, indexB);
}

int boundaryStrength(const MacroblockState& mbP, int blkP, const MacroblockState& mbQ, int blkQ, bool mbEdge)
{
    // Clause 8.7.2.1 for frame macroblocks without SP/SI slices.
    if (mbP.intra() || mbQ.intra()) return mbEdge ? 4 : 3;
    return interStrength(mbP, blkP, mbQ, blkQ);
}

void deblockPicture(Picture& picture, const MacroblockStates& states, std::span<const DeblockingParams> slices)
{
    const int w = states.widthInMbs();
    PlaneView luma = picture.plane(kLuma);
    PlaneView cb = picture.plane(kCb), cr = picture.plane(kCr);
    for (int mbAddr = 0; mbAddr < states.size(); ++mbAddr) {
        const MacroblockState& q = states[mbAddr];
        if (q.sliceNum < 0 || static_cast<std::size_t>(q.sliceNum) >= slices.size()) continue;
        const DeblockingParams& params = slices[static_cast<std::size_t>(q.sliceNum)];
        if (params.disable_deblocking_filter_idc == 1) continue;
        // A neighbour edge is filtered when the neighbour was coded, and with
        // idc 2 only inside the slice.
        auto edgeNeighbour = [&](bool inside, int addr) {
            if (!inside) return -1;
            const int slice = states[addr].sliceNum;
            if (slice < 0 || (params.disable_deblocking_filter_idc == 2 && slice != q.sliceNum)) return -1;
            return addr;
        };
        const int mbX = mbAddr % w, mbY = mbAddr / w;
        const int left = edgeNeighbour(mbX > 0, mbAddr - 1);
        const int top = edgeNeighbour(mbY > 0, mbAddr - w);

        // bS per edge (0 = macroblock edge) and per 4x4 block along it.
        int bsV[4][4] = {}, bsH[4][4] = {};
        const bool qIntra = q.intra();
        const bool qUniform = uniformInter(q);
        for (int e = 0; e < 4; ++e) {
            if (e > 0 && qUniform) break;
            const MacroblockState* pV = e > 0 ? &q : left >= 0 ? &states[left] : nullptr;
            const MacroblockState* pH = e > 0 ? &q : top >= 0 ? &states[top] : nullptr;
            if (qIntra || (pV && pV->intra())) {
                if (pV) std::fill_n(bsV[e], 4, e == 0 ? 4 : 3);
            } else if (pV) {
                for (int k = 0; k < 4; ++k) bsV[e][k] = interStrength(*pV, blockIndexAt(e == 0 ? 3 : e - 1, k), q, blockIndexAt(e, k));
            }
            if (qIntra || (pH && pH->intra())) {
                if (pH) std::fill_n(bsH[e], 4, e == 0 ? 4 : 3);
            } else if (pH) {
                for (int k = 0; k < 4; ++k) bsH[e][k] = interStrength(*pH, blockIndexAt(k, e == 0 ? 3 : e - 1), q, blockIndexAt(k, e));
            }
        }

        auto indices = [&](int pAddr, bool chroma, int& indexA, int& indexB) {
            int qpP = filterQp(pAddr < 0 ? q : states[pAddr]), qpQ = filterQp(q);
            if (chroma) {
                qpP = chromaQp(qpP, params.chroma_qp_index_offset);
                qpQ = chromaQp(qpQ, params.chroma_qp_index_offset);
            }
            const int qpAv = (qpP + qpQ + 1) >> 1;
            indexA = std::clamp(qpAv + params.filterOffsetA, 0, 51);
            indexB = std::clamp(qpAv + params.filterOffsetB, 0, 51);
        };
        auto any = [](const int bs[4]) { return bs[0] || bs[1] || bs[2] || bs[3]; };

        std::uint8_t* yOrigin = luma.row(16 * mbY) + 16 * mbX;
        int indexA = 0, indexB = 0;
        for (int e = 0; e < 4; ++e) {
            if (!any(bsV[e])) continue;
            indices(e == 0 ? left : -1, false, indexA, indexB);
            filterEdgeLines<false>(yOrigin + 4 * e, 1, luma.stride, bsV[e], indexA, indexB);
        }
        for (int e = 0; e < 4; ++e) {
            if (!any(bsH[e])) continue;
            indices(e == 0 ? top : -1, false, indexA, indexB);
            filterEdgeLines<false>(yOrigin + 4 * e * luma.stride, luma.stride, 1, bsH[e], indexA, indexB);
        }
        // Chroma edges 0 and 4 take the bS of luma edges 0 and 8.
        // Both planes have the same stride, bS and indices.
        std::uint8_t* cbOrigin = cb.row(8 * mbY) + 8 * mbX;
        std::uint8_t* crOrigin = cr.row(8 * mbY) + 8 * mbX;
        const int cStride = cb.stride;
        for (int e = 0; e < 4; e += 2) {
            if (!any(bsV[e])) continue;
            indices(e == 0 ? left : -1, true, indexA, indexB);
            filterChromaEdges(cbOrigin + 2 * e, crOrigin + 2 * e, 1, cStride, bsV[e], indexA, indexB);
        }
        for (int e = 0; e < 4; e += 2) {
            if (!any(bsH[e])) continue;
            indices(e == 0 ? top : -1, true, indexA, indexB);
            filterChromaEdges(cbOrigin + 2 * e * cStride, crOrigin + 2 * e * cStride, cStride, 1, bsH[e], indexA, indexB);
        }
    }
}

} // namespace kestrune::codec
