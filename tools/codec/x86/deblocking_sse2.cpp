#include "tools/codec/x86/sse2_kernels.h"

#include <cstring>

#include <emmintrin.h>

namespace kestrune::codec::sse2 {

namespace {

// Byte i = segment i / 4 of a packed value: one byte per luma line.
inline __m128i spreadToLines(std::uint32_t packed)
{
    const __m128i x = _mm_cvtsi32_si128(static_cast<int>(packed));
    const __m128i pairs = _mm_unpacklo_epi8(x, x);
    return _mm_unpacklo_epi16(pairs, pairs);
}

// tC0 of each lane from its bS (0 where bS is 0 or 4).
inline __m128i tc0OfLanes(__m128i bS, const EdgeThresholds& t)
{
    __m128i tc0 = _mm_setzero_si128();
    for (int s = 0; s < 3; ++s)
        tc0 = _mm_or_si128(tc0, _mm_and_si128(_mm_cmpeq_epi8(bS, _mm_set1_epi8(static_cast<char>(s + 1))),
                                              _mm_set1_epi8(static_cast<char>(t.tc0[s]))));
    return tc0;
}

inline __m128i absDiffU8(__m128i a, __m128i b)
{
    return _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
}

// Lanes (bytes) whose bS is not 0 and whose samples pass |p0 - q0| < alpha,
// |p1 - p0| < beta and |q1 - q0| < beta. |d| < limit exactly when |d| minus
// (limit - 1), saturated, is 0; alpha and beta are at least 1 here.
inline __m128i filterSamplesMask(__m128i p1, __m128i p0, __m128i q0, __m128i q1, __m128i bS, int alpha, int beta)
{
    const __m128i betaBelow = _mm_set1_epi8(static_cast<char>(beta - 1));
    __m128i over = _mm_subs_epu8(absDiffU8(p0, q0), _mm_set1_epi8(static_cast<char>(alpha - 1)));
    over = _mm_or_si128(over, _mm_subs_epu8(absDiffU8(p1, p0), betaBelow));
    over = _mm_or_si128(over, _mm_subs_epu8(absDiffU8(q1, q0), betaBelow));
    const __m128i zero = _mm_setzero_si128();
    return _mm_and_si128(_mm_cmpgt_epi8(bS, zero), _mm_cmpeq_epi8(over, zero));
}

// p0 += delta, q0 -= delta with delta = Clip3(-tC, tC, (((q0 - p0) << 2) +
// (p1 - q1) + 4) >> 3) and Clip1, in lanes where mask is set, all in bytes.
// The sum equals (q0 - p0 + ((p1 - q1) >> 2) + 1) >> 1; with a the halved
// q0 - p0 and r its dropped bit, delta = a + ((r + ((p1 - q1) >> 2) + 1) >> 1).
// The rounding byte average yields 128 + a and 32 + the second term, so
// delta + 160 is their sum, whose two signs saturating arithmetic separates.
inline void applyBs1to3Delta(__m128i p1, __m128i& p0, __m128i& q0, __m128i q1, __m128i tc, __m128i mask)
{
    const __m128i ones = _mm_set1_epi8(-1);
    const __m128i halfP1Q1 = _mm_avg_epu8(p1, _mm_xor_si128(q1, ones));                            // 128 + ((p1 - q1) >> 1)
    const __m128i quarterP1Q1 = _mm_and_si128(_mm_srli_epi16(halfP1Q1, 1), _mm_set1_epi8(0x7F));  // 64 + ((p1 - q1) >> 2)
    const __m128i halfQ0P0 = _mm_avg_epu8(q0, _mm_xor_si128(p0, ones));                            // 128 + a
    const __m128i droppedBit = _mm_and_si128(_mm_xor_si128(q0, p0), _mm_set1_epi8(1));
    const __m128i rest = _mm_avg_epu8(droppedBit, quarterP1Q1);                                    // 32 + second term
    const __m128i bias = _mm_set1_epi8(static_cast<char>(160));
    const __m128i up = _mm_and_si128(_mm_min_epu8(_mm_subs_epu8(_mm_adds_epu8(halfQ0P0, rest), bias), tc), mask);
    const __m128i down = _mm_and_si128(_mm_min_epu8(_mm_subs_epu8(_mm_subs_epu8(bias, halfQ0P0), rest), tc), mask);
    p0 = _mm_subs_epu8(_mm_adds_epu8(p0, up), down);
    q0 = _mm_subs_epu8(_mm_adds_epu8(q0, down), up);
}

// (a + b) >> 1 per byte (the instruction rounds up).
inline __m128i floorAverage(__m128i a, __m128i b)
{
    return _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
}

// The loads below take four vectors or four picture ids at once.
static_assert(sizeof(MotionVector) == 4 && sizeof(MacroblockState::mv) == 64);
static_assert(sizeof(MacroblockState::refPicId) == 16);

// Motion vectors of one row (y) or column (x) of 4x4 blocks as four 32-bit
// lanes, and the reference picture of each; mv[] is stored by luma4x4BlkIdx,
// four blocks per 8x8 quadrant.
inline __m128i quadrantVectors(const MacroblockState& mb, int quadrant)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(mb.mv.data() + 4 * quadrant));
}
inline __m128i rowVectors(const MacroblockState& mb, int y)
{
    const __m128i a = quadrantVectors(mb, y / 2 * 2), b = quadrantVectors(mb, y / 2 * 2 + 1);
    return y % 2 == 0 ? _mm_unpacklo_epi64(a, b) : _mm_unpackhi_epi64(a, b);
}
inline __m128i columnVectors(const MacroblockState& mb, int x)
{
    // Quadrant lanes (0,0) (1,0) (0,1) (1,1) reordered to (0,0) (0,1) (1,0) (1,1).
    const __m128i a = _mm_shuffle_epi32(quadrantVectors(mb, x / 2), _MM_SHUFFLE(3, 1, 2, 0));
    const __m128i c = _mm_shuffle_epi32(quadrantVectors(mb, x / 2 + 2), _MM_SHUFFLE(3, 1, 2, 0));
    return x % 2 == 0 ? _mm_unpacklo_epi64(a, c) : _mm_unpackhi_epi64(a, c);
}
inline __m128i rowReferences(const MacroblockState& mb, int y)
{
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mb.refPicId.data()));
    return y < 2 ? _mm_shuffle_epi32(r, _MM_SHUFFLE(1, 1, 0, 0)) : _mm_shuffle_epi32(r, _MM_SHUFFLE(3, 3, 2, 2));
}
inline __m128i columnReferences(const MacroblockState& mb, int x)
{
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mb.refPicId.data()));
    return x < 2 ? _mm_shuffle_epi32(r, _MM_SHUFFLE(2, 2, 0, 0)) : _mm_shuffle_epi32(r, _MM_SHUFFLE(3, 3, 1, 1));
}

// Bit k set where block pair k differs in reference picture or by 4 or more
// quarter samples in a vector component. Saturating differences keep the
// comparison exact for any stored vector.
inline unsigned motionDiffers(__m128i mvP, __m128i refP, __m128i mvQ, __m128i refQ)
{
    const __m128i d = _mm_subs_epi16(mvP, mvQ);
    const __m128i absD = _mm_max_epi16(d, _mm_subs_epi16(_mm_setzero_si128(), d));
    const __m128i far = _mm_cmpgt_epi16(absD, _mm_set1_epi16(3));
    const __m128i farEither = _mm_or_si128(far, _mm_slli_epi32(far, 16));  // sign bit: x or y
    const __m128i differs = _mm_or_si128(farEither, _mm_xor_si128(_mm_cmpeq_epi32(refP, refQ), _mm_set1_epi32(-1)));
    return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(differs)));
}

// All 16 blocks share one vector and one reference picture.
inline bool uniformMotion(const MacroblockState& mb)
{
    const __m128i first = _mm_shuffle_epi32(quadrantVectors(mb, 0), 0);
    __m128i same = _mm_cmpeq_epi32(quadrantVectors(mb, 0), first);
    for (int quadrant = 1; quadrant < 4; ++quadrant) same = _mm_and_si128(same, _mm_cmpeq_epi32(quadrantVectors(mb, quadrant), first));
    const __m128i refs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mb.refPicId.data()));
    same = _mm_and_si128(same, _mm_cmpeq_epi32(refs, _mm_shuffle_epi32(refs, 0)));
    return _mm_movemask_epi8(same) == 0xFFFF;
}

// Byte i = 0xFF where bit i of the mask is set.
inline __m128i bitsToBytes(unsigned mask)
{
    __m128i x = _mm_cvtsi32_si128(static_cast<int>(mask));
    x = _mm_unpacklo_epi8(x, x);
    x = _mm_unpacklo_epi16(x, x);
    x = _mm_unpacklo_epi32(x, x);  // low byte in lanes 0..7, high byte in 8..15
    const __m128i bit = _mm_set_epi8(-128, 64, 32, 16, 8, 4, 2, 1, -128, 64, 32, 16, 8, 4, 2, 1);
    return _mm_cmpeq_epi8(_mm_and_si128(x, bit), bit);
}

// The luma filter of clauses 8.7.2.3/8.7.2.4 on 16 lines at once: rows[i]
// holds sample p3..q3 (i = 0..7) of the 16 lines; every lane computes both
// the bS < 4 and the bS 4 result and keeps the one its bS asks for.
class LumaEdgeSse2 {
public:
    [[gnu::always_inline]] LumaEdgeSse2(std::uint32_t bS, const EdgeThresholds& t)
    {
        const __m128i zero = _mm_setzero_si128();
        const __m128i bs = spreadToLines(bS);
        const __m128i tc0 = tc0OfLanes(bs, t);
        const __m128i bs4 = _mm_cmpeq_epi8(bs, _mm_set1_epi8(4));
        const __m128i on = _mm_cmpgt_epi8(bs, zero);
        tc0_[0] = _mm_unpacklo_epi8(tc0, zero);
        tc0_[1] = _mm_unpackhi_epi8(tc0, zero);
        bs4_[0] = _mm_unpacklo_epi8(bs4, bs4);
        bs4_[1] = _mm_unpackhi_epi8(bs4, bs4);
        on_[0] = _mm_unpacklo_epi8(on, on);
        on_[1] = _mm_unpackhi_epi8(on, on);
        alpha_ = _mm_set1_epi16(static_cast<std::int16_t>(t.alpha));
        beta_ = _mm_set1_epi16(static_cast<std::int16_t>(t.beta));
        strongLimit_ = _mm_set1_epi16(static_cast<std::int16_t>((t.alpha >> 2) + 2));
    }

    // Which filters the edge needs: only bS < 4, only bS 4, or both.
    enum Mode { kNormal, kStrong, kMixed };

    // Filters rows[1..6] in place; false (rows untouched) when no line of
    // the edge passes the alpha/beta test, which is common on smooth areas.
    template <int mode>
    [[gnu::always_inline]] bool filter(__m128i rows[8]) const
    {
        const __m128i zero = _mm_setzero_si128();
        __m128i v[2][8], mask[2];
        for (int h = 0; h < 2; ++h) {
            for (int i = 0; i < 8; ++i)
                v[h][i] = h == 0 ? _mm_unpacklo_epi8(rows[i], zero) : _mm_unpackhi_epi8(rows[i], zero);
            mask[h] = filterMask(v[h], h);
        }
        if (_mm_movemask_epi8(_mm_or_si128(mask[0], mask[1])) == 0) return false;
        __m128i out[2][6];
        for (int h = 0; h < 2; ++h) half<mode>(v[h], mask[h], h, out[h]);
        for (int i = 0; i < 6; ++i) rows[i + 1] = _mm_packus_epi16(out[0][i], out[1][i]);
        return true;
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

    // Lanes whose bS is not 0 and whose samples pass the alpha/beta test.
    [[gnu::always_inline]] __m128i filterMask(const __m128i v[8], int h) const
    {
        const __m128i p1 = v[2], p0 = v[3], q0 = v[4], q1 = v[5];
        __m128i mask = _mm_and_si128(on_[h], _mm_cmplt_epi16(absDiff(p0, q0), alpha_));
        mask = _mm_and_si128(mask, _mm_cmplt_epi16(absDiff(p1, p0), beta_));
        return _mm_and_si128(mask, _mm_cmplt_epi16(absDiff(q1, q0), beta_));
    }

    // v: p3 p2 p1 p0 q0 q1 q2 q3 as 16-bit lanes; out: filtered p2..q2.
    template <int mode>
    [[gnu::always_inline]] void half(const __m128i v[8], __m128i filterMask, int h, __m128i out[6]) const
    {
        const __m128i p2 = v[1], p1 = v[2], p0 = v[3], q0 = v[4], q1 = v[5], q2 = v[6];
        const __m128i zero = _mm_setzero_si128();
        const __m128i one = _mm_set1_epi16(1), two = _mm_set1_epi16(2), four = _mm_set1_epi16(4);
        const __m128i absP0Q0 = absDiff(p0, q0);
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

private:
    __m128i tc0_[2], bs4_[2], on_[2];
    __m128i alpha_, beta_, strongLimit_;
};

// The bS < 4 luma filter on 16 lines in 8-bit lanes (only the p0/q0 delta
// needs 16 bits). rows as for LumaEdgeSse2; false when no line passes.
[[gnu::always_inline]] inline bool filterLumaNormalSse2(__m128i rows[8], std::uint32_t bS, const EdgeThresholds& t)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i p2 = rows[1], p1 = rows[2], p0 = rows[3], q0 = rows[4], q1 = rows[5], q2 = rows[6];
    const __m128i bsLanes = spreadToLines(bS);
    const __m128i mask = filterSamplesMask(p1, p0, q0, q1, bsLanes, t.alpha, t.beta);
    if (_mm_movemask_epi8(mask) == 0) return false;
    const __m128i betaBelow = _mm_set1_epi8(static_cast<char>(t.beta - 1));
    const __m128i ap = _mm_and_si128(mask, _mm_cmpeq_epi8(_mm_subs_epu8(absDiffU8(p2, p0), betaBelow), zero));
    const __m128i aq = _mm_and_si128(mask, _mm_cmpeq_epi8(_mm_subs_epu8(absDiffU8(q2, q0), betaBelow), zero));
    const __m128i tc0 = tc0OfLanes(bsLanes, t);

    // p1 + Clip3(-tC0, tC0, (p2 + ((p0 + q0 + 1) >> 1) - (p1 << 1)) >> 1) is
    // (p2 + ((p0 + q0 + 1) >> 1)) >> 1 clamped to p1 -+ tC0; a tC0 of 0 keeps p1.
    const __m128i avgPQ = _mm_avg_epu8(p0, q0);
    auto clampAround = [](__m128i v, __m128i centre, __m128i range) {
        return _mm_min_epu8(_mm_max_epu8(v, _mm_subs_epu8(centre, range)), _mm_adds_epu8(centre, range));
    };
    rows[2] = clampAround(floorAverage(p2, avgPQ), p1, _mm_and_si128(tc0, ap));
    rows[5] = clampAround(floorAverage(q2, avgPQ), q1, _mm_and_si128(tc0, aq));
    // tC = tC0 + ap + aq (masks are -1).
    const __m128i tc = _mm_sub_epi8(_mm_sub_epi8(tc0, ap), aq);
    applyBs1to3Delta(p1, rows[3], rows[4], q1, tc, mask);
    return true;
}

// Filters rows[1..6] of one luma edge in place; false when nothing changed.
[[gnu::always_inline]] inline bool filterLumaRows(__m128i rows[8], std::uint32_t bS, const EdgeThresholds& t)
{
    const std::uint32_t fours = bS & 0x04040404u;  // bS <= 4: bit 2 set only for 4
    if (fours == 0) return filterLumaNormalSse2(rows, bS, t);
    const LumaEdgeSse2 kernel(bS, t);
    if (fours == 0x04040404u) return kernel.filter<LumaEdgeSse2::kStrong>(rows);
    return kernel.filter<LumaEdgeSse2::kMixed>(rows);
}

// One luma macroblock edge (sampleStep or lineStep 1); q0 as in kernels.h.
void filterLumaEdgeSse2(std::uint8_t* q0, int sampleStep, int lineStep, std::uint32_t bS, const EdgeThresholds& t)
{
    __m128i rows[8];
    if (lineStep == 1) {  // horizontal edge: every p/q row is 16 contiguous samples
        for (int i = 0; i < 8; ++i)
            rows[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q0 + (i - 4) * sampleStep));
        if (!filterLumaRows(rows, bS, t)) return;
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
    if (!filterLumaRows(rows, bS, t)) return;
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

// 16 rows of 16 bytes transposed in place (four rounds of interleaving).
inline void transpose16x16(__m128i r[16])
{
    __m128i t[16];
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 8; ++i) {
            t[2 * i] = _mm_unpacklo_epi8(r[i], r[i + 8]);
            t[2 * i + 1] = _mm_unpackhi_epi8(r[i], r[i + 8]);
        }
        for (int i = 0; i < 8; ++i) {
            r[2 * i] = _mm_unpacklo_epi8(t[i], t[i + 8]);
            r[2 * i + 1] = _mm_unpackhi_epi8(t[i], t[i + 8]);
        }
    }
}

// The internal vertical luma edges (x = 4, 8, 12) of one macroblock on one
// transposed copy of it instead of a transposition per edge. Internal edges
// have bS < 4 and share the macroblock's indices.
void filterLumaInnerVerticalEdgesSse2(std::uint8_t* origin, int stride, const std::uint32_t bS[4],
                                      const EdgeThresholds& t)
{
    __m128i columns[16];
    for (int y = 0; y < 16; ++y) columns[y] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(origin + y * stride));
    transpose16x16(columns);
    bool changed = false;
    for (int e = 1; e < 4; ++e)
        if (bS[e] != 0) changed |= filterLumaNormalSse2(columns + 4 * e - 4, bS[e], t);
    if (!changed) return;
    transpose16x16(columns);
    for (int y = 0; y < 16; ++y) _mm_storeu_si128(reinterpret_cast<__m128i*>(origin + y * stride), columns[y]);
}

// The chroma filter of clause 8.7.2.3/8.7.2.4 (bS < 4 with tC = tC0 + 1, bS 4
// with the three-tap means) on one edge of both chroma planes at once, in
// 8-bit lanes: 0..7 are the 8 lines of cb, 8..15 those of cr. Both planes
// share bS and the thresholds.
void filterChromaEdgesSse2(std::uint8_t* cb, std::uint8_t* cr, int sampleStep, int lineStep, std::uint32_t bS,
                           const EdgeThresholds& t)
{
    // rows[i]: sample p1, p0, q0, q1 (i = 0..3) of the 8 cb lines then the 8 cr lines.
    __m128i rows[4];
    if (lineStep == 1) {
        for (int i = 0; i < 4; ++i)
            rows[i] = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + (i - 2) * sampleStep)),
                                         _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + (i - 2) * sampleStep)));
    } else {
        // 16 lines of 4 samples p1..q1 transposed into 4 rows of 16.
        auto load4 = [&](int line) {
            const std::uint8_t* at = (line < 8 ? cb + line * lineStep : cr + (line - 8) * lineStep) - 2;
            std::int32_t v;
            std::memcpy(&v, at, 4);
            return _mm_cvtsi32_si128(v);
        };
        __m128i a[8], b[4];
        for (int k = 0; k < 8; ++k) a[k] = _mm_unpacklo_epi8(load4(2 * k), load4(2 * k + 1));
        for (int k = 0; k < 4; ++k) b[k] = _mm_unpacklo_epi16(a[2 * k], a[2 * k + 1]);
        // b[k]: p1, p0, q0, q1 of lines 4k..4k+3, four bytes each.
        const __m128i c0 = _mm_unpacklo_epi32(b[0], b[1]), c1 = _mm_unpackhi_epi32(b[0], b[1]);
        const __m128i c2 = _mm_unpacklo_epi32(b[2], b[3]), c3 = _mm_unpackhi_epi32(b[2], b[3]);
        rows[0] = _mm_unpacklo_epi64(c0, c2);
        rows[1] = _mm_unpackhi_epi64(c0, c2);
        rows[2] = _mm_unpacklo_epi64(c1, c3);
        rows[3] = _mm_unpackhi_epi64(c1, c3);
    }
    // Segment k covers lines 2k, 2k + 1 of each plane.
    const __m128i bsBytes = _mm_cvtsi32_si128(static_cast<int>(bS));
    const __m128i bsPairs = _mm_unpacklo_epi8(bsBytes, bsBytes);
    const __m128i bsLanes = _mm_unpacklo_epi64(bsPairs, bsPairs);
    const __m128i p1 = rows[0], q1 = rows[3];
    __m128i p0 = rows[1], q0 = rows[2];
    const __m128i mask = filterSamplesMask(p1, p0, q0, q1, bsLanes, t.alpha, t.beta);
    if (_mm_movemask_epi8(mask) == 0) return;
    const std::uint32_t fours = bS & 0x04040404u;  // bS <= 4: bit 2 set only for 4
    const __m128i strong = _mm_and_si128(mask, _mm_cmpeq_epi8(bsLanes, _mm_set1_epi8(4)));
    // (2 * p1 + p0 + q1 + 2) >> 2, taken before p0 and q0 change.
    const __m128i strongP0 = _mm_avg_epu8(p1, floorAverage(p0, q1));
    const __m128i strongQ0 = _mm_avg_epu8(q1, floorAverage(q0, p1));
    if (fours != 0x04040404u) {
        const __m128i tc = _mm_add_epi8(tc0OfLanes(bsLanes, t), _mm_set1_epi8(1));
        applyBs1to3Delta(p1, p0, q0, q1, tc, _mm_andnot_si128(strong, mask));
    }
    if (fours != 0) {
        p0 = _mm_or_si128(_mm_and_si128(strong, strongP0), _mm_andnot_si128(strong, p0));
        q0 = _mm_or_si128(_mm_and_si128(strong, strongQ0), _mm_andnot_si128(strong, q0));
    }
    if (lineStep == 1) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(cb - sampleStep), p0);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(cr - sampleStep), _mm_srli_si128(p0, 8));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(cb), q0);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(cr), _mm_srli_si128(q0, 8));
        return;
    }
    // Each line gets its p0 q0 pair back as one 16-bit store.
    alignas(16) std::uint16_t pairs[2][8];
    _mm_store_si128(reinterpret_cast<__m128i*>(pairs[0]), _mm_unpacklo_epi8(p0, q0));
    _mm_store_si128(reinterpret_cast<__m128i*>(pairs[1]), _mm_unpackhi_epi8(p0, q0));
    for (int plane = 0; plane < 2; ++plane) {
        std::uint8_t* at = (plane == 0 ? cb : cr) - 1;
        for (int line = 0; line < 8; ++line) std::memcpy(at + line * lineStep, &pairs[plane][line], 2);
    }
}

} // namespace

void filterLumaEdge(std::uint8_t* q0, int sampleStep, int lineStep, std::uint32_t bS, const EdgeThresholds& t)
{
    if (sampleStep != 1 && lineStep != 1) return plain::filterLumaEdge(q0, sampleStep, lineStep, bS, t);
    filterLumaEdgeSse2(q0, sampleStep, lineStep, bS, t);
}

void filterLumaInnerVerticalEdges(std::uint8_t* origin, int stride, const std::uint32_t bS[4], const EdgeThresholds& t)
{
    const int edges = (bS[1] != 0) + (bS[2] != 0) + (bS[3] != 0);
    if (edges >= 2) {  // one transposition pays off from two edges
        filterLumaInnerVerticalEdgesSse2(origin, stride, bS, t);
        return;
    }
    for (int e = 1; e < 4; ++e)
        if (bS[e] != 0) filterLumaEdgeSse2(origin + 4 * e, 1, stride, bS[e], t);
}

void filterChromaEdges(std::uint8_t* cb, std::uint8_t* cr, int sampleStep, int lineStep, std::uint32_t bS,
                       const EdgeThresholds& t)
{
    if (sampleStep != 1 && lineStep != 1) return plain::filterChromaEdges(cb, cr, sampleStep, lineStep, bS, t);
    filterChromaEdgesSse2(cb, cr, sampleStep, lineStep, bS, t);
}

void interEdgeStrengths(const MacroblockState& l, const MacroblockState& t, const MacroblockState& q, unsigned codedV,
                        unsigned codedH, MacroblockEdgeStrengths& s)
{
    // In the layout of codedV / codedH: the pairs whose motion differs. Internal edges only where
    // q's blocks do not all share one vector and picture (P_Skip, P16x16 do).
    unsigned movedV = motionDiffers(columnVectors(l, 3), columnReferences(l, 3), columnVectors(q, 0), columnReferences(q, 0));
    unsigned movedH = motionDiffers(rowVectors(t, 3), rowReferences(t, 3), rowVectors(q, 0), rowReferences(q, 0));
    if (!uniformMotion(q)) {
        for (int x = 1; x < 4; ++x)
            movedV |= motionDiffers(columnVectors(q, x - 1), columnReferences(q, x - 1), columnVectors(q, x), columnReferences(q, x)) << (4 * x);
        for (int y = 1; y < 4; ++y)
            movedH |= motionDiffers(rowVectors(q, y - 1), rowReferences(q, y - 1), rowVectors(q, y), rowReferences(q, y)) << (4 * y);
    }
    // bS 2 where coded, else 1 where the motion differs.
    const __m128i two = _mm_set1_epi8(2), one = _mm_set1_epi8(1);
    auto strengths = [&](unsigned coded, unsigned moved) {
        const __m128i c = bitsToBytes(coded), m = bitsToBytes(moved);
        return _mm_or_si128(_mm_and_si128(c, two), _mm_andnot_si128(c, _mm_and_si128(m, one)));
    };
    _mm_storeu_si128(reinterpret_cast<__m128i*>(s.vertical), strengths(codedV, movedV));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(s.horizontal), strengths(codedH, movedH));
}

} // namespace kestrune::codec::sse2
