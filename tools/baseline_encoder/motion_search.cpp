#include "tools/baseline_encoder/motion_search.h"

#include "tools/baseline_encoder/block_cost.h"
#include "tools/codec/inter_prediction.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrune::codec {

SearchReference::SearchReference(const Picture& picture, int pad) : picture_(&picture), pad_(pad)
{
    const ConstPlaneView luma = picture.plane(kLuma);
    const int width = luma.width, height = luma.height;
    stride_ = width + 2 * pad;
    const int rows = height + 2 * pad;
    for (auto& plane : planes_) plane.resize(static_cast<std::size_t>(stride_) * rows);
    // Full samples with three more on each side for the filter taps.
    const int margin = pad + 3;
    const int extStride = width + 2 * margin + 1;
    std::vector<int> ext(static_cast<std::size_t>(extStride) * (height + 2 * margin + 1));
    auto extAt = [&](int x, int y) -> int& { return ext[static_cast<std::size_t>(y + margin) * extStride + x + margin]; };
    for (int y = -margin; y <= height + margin; ++y)
        for (int x = -margin; x <= width + margin; ++x)
            extAt(x, y) = luma.at(std::clamp(x, 0, width - 1), std::clamp(y, 0, height - 1));
    auto tap = [](int a, int b, int c, int d, int e, int f) { return a - 5 * b + 20 * c + 20 * d - 5 * e + f; };
    auto clip = [](int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); };
    std::vector<int> b1(static_cast<std::size_t>(width + 2 * pad) * (rows + 5));  // unclipped b for rows -pad-2 .. height+pad+2
    for (int y = -pad - 2; y < height + pad + 3; ++y)
        for (int x = -pad; x < width + pad; ++x)
            b1[static_cast<std::size_t>(y + pad + 2) * (width + 2 * pad) + x + pad] =
                tap(extAt(x - 2, y), extAt(x - 1, y), extAt(x, y), extAt(x + 1, y), extAt(x + 2, y), extAt(x + 3, y));
    for (int y = -pad; y < height + pad; ++y) {
        std::uint8_t* g = planes_[0].data() + static_cast<std::size_t>(y + pad) * stride_ + pad;
        std::uint8_t* bh = planes_[1].data() + static_cast<std::size_t>(y + pad) * stride_ + pad;
        std::uint8_t* hv = planes_[2].data() + static_cast<std::size_t>(y + pad) * stride_ + pad;
        std::uint8_t* j = planes_[3].data() + static_cast<std::size_t>(y + pad) * stride_ + pad;
        for (int x = -pad; x < width + pad; ++x) {
            g[x] = static_cast<std::uint8_t>(extAt(x, y));
            auto b1At = [&](int yy) { return b1[static_cast<std::size_t>(yy + pad + 2) * (width + 2 * pad) + x + pad]; };
            bh[x] = clip((b1At(y) + 16) >> 5);
            hv[x] = clip((tap(extAt(x, y - 2), extAt(x, y - 1), extAt(x, y), extAt(x, y + 1), extAt(x, y + 2), extAt(x, y + 3)) + 16) >> 5);
            j[x] = clip((tap(b1At(y - 2), b1At(y - 1), b1At(y), b1At(y + 1), b1At(y + 2), b1At(y + 3)) + 512) >> 10);
        }
    }
}

const std::uint8_t* SearchReference::prediction(int x, int y, MotionVector mv, int w, int h, std::uint8_t* buffer, int& stride) const
{
    const int ix = x + (mv.x >> 2), iy = y + (mv.y >> 2);
    const int fx = mv.x & 3, fy = mv.y & 3;
    // The two samples each quarter position averages (clause 8.4.2.2.1),
    // as (plane, dx, dy); a full or half position uses one.
    struct Source {
        int plane, dx, dy;
    };
    static constexpr Source kFirst[4][4] = {
        // fy = 0: G, a, b, c
        {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}, {1, 0, 0}},
        // fy = 1: d, e, f, g
        {{0, 0, 0}, {1, 0, 0}, {1, 0, 0}, {1, 0, 0}},
        // fy = 2: h, i, j, k
        {{2, 0, 0}, {2, 0, 0}, {3, 0, 0}, {3, 0, 0}},
        // fy = 3: n, p, q, r
        {{2, 0, 0}, {2, 0, 0}, {3, 0, 0}, {2, 1, 0}},
    };
    static constexpr Source kSecond[4][4] = {
        {{-1, 0, 0}, {1, 0, 0}, {-1, 0, 0}, {0, 1, 0}},
        {{2, 0, 0}, {2, 0, 0}, {3, 0, 0}, {2, 1, 0}},
        {{-1, 0, 0}, {3, 0, 0}, {-1, 0, 0}, {2, 1, 0}},
        {{0, 0, 1}, {1, 0, 1}, {1, 0, 1}, {1, 0, 1}},
    };
    const Source first = kFirst[fy][fx];
    const Source second = kSecond[fy][fx];
    const std::uint8_t* a = plane(first.plane, ix + first.dx, iy + first.dy);
    if (second.plane < 0) {
        stride = stride_;
        return a;
    }
    const std::uint8_t* b = plane(second.plane, ix + second.dx, iy + second.dy);
#if defined(__SSE2__)
    // pavgb is exactly (a + b + 1) >> 1.
    if (w == 16) {
        for (int r = 0; r < h; ++r)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(buffer + r * 16),
                             _mm_avg_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + static_cast<std::ptrdiff_t>(r) * stride_)),
                                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + static_cast<std::ptrdiff_t>(r) * stride_))));
        stride = 16;
        return buffer;
    }
    if (w == 8 || w == 4) {
        for (int r = 0; r < h; ++r) {
            const __m128i avg = _mm_avg_epu8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + static_cast<std::ptrdiff_t>(r) * stride_)),
                                             _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + static_cast<std::ptrdiff_t>(r) * stride_)));
            if (w == 8) {
                _mm_storel_epi64(reinterpret_cast<__m128i*>(buffer + r * 16), avg);
            } else {
                const std::int32_t word = _mm_cvtsi128_si32(avg);
                std::memcpy(buffer + r * 16, &word, sizeof word);
            }
        }
        stride = 16;
        return buffer;
    }
#endif
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            buffer[r * 16 + c] = static_cast<std::uint8_t>((a[static_cast<std::ptrdiff_t>(r) * stride_ + c] + b[static_cast<std::ptrdiff_t>(r) * stride_ + c] + 1) >> 1);
    stride = 16;
    return buffer;
}

void SearchReference::predict(int x, int y, MotionVector mv, int w, int h, std::uint8_t* dst, int dstStride) const
{
    alignas(16) std::uint8_t buffer[16 * 16];
    int stride = 0;
    const std::uint8_t* p = prediction(x, y, mv, w, h, buffer, stride);
    for (int r = 0; r < h; ++r) std::memcpy(dst + r * dstStride, p + static_cast<std::ptrdiff_t>(r) * stride, static_cast<std::size_t>(w));
}

int mvdBits(MotionVector mv, MotionVector mvp)
{
    return seBits(mv.x - mvp.x) + seBits(mv.y - mvp.y);
}

namespace {

struct Search {
    const SearchBlock& block;
    const SearchReference& ref;
    MotionVector mvp;
    const SearchParams& params;
    const std::uint8_t* src;
    int srcStride;
    int minX = 0, maxX = 0, minY = 0, maxY = 0;  // integer vector bounds
    int bestX = 0, bestY = 0;
    int bestCost = INT_MAX;

    int vectorCost(int qx, int qy) const
    {
        return static_cast<int>(params.lambda * (seBits(qx - mvp.x) + seBits(qy - mvp.y)) + 0.5);
    }

    // Integer position (dx, dy); true when it became the best.
    bool tryInteger(int dx, int dy)
    {
        if (dx < minX || dx > maxX || dy < minY || dy > maxY) return false;
        const int cost = vectorCost(4 * dx, 4 * dy);
        if (cost >= bestCost) return false;
        const int total = cost + sad(src, srcStride, ref.luma(block.x + dx, block.y + dy), ref.stride(), block.w, block.h);
        if (total >= bestCost) return false;
        bestCost = total;
        bestX = dx;
        bestY = dy;
        return true;
    }

    void smallDiamond(int iterations)
    {
        for (int i = 0; i < iterations; ++i) {
            const int cx = bestX, cy = bestY;
            tryInteger(cx - 1, cy);
            tryInteger(cx + 1, cy);
            tryInteger(cx, cy - 1);
            tryInteger(cx, cy + 1);
            if (bestX == cx && bestY == cy) break;
        }
    }

    void hexagon(int iterations)
    {
        static constexpr int kHex[6][2] = {{-2, 0}, {-1, -2}, {1, -2}, {2, 0}, {1, 2}, {-1, 2}};
        for (int i = 0; i < iterations; ++i) {
            const int cx = bestX, cy = bestY;
            for (const auto& p : kHex) tryInteger(cx + p[0], cy + p[1]);
            if (bestX == cx && bestY == cy) break;
        }
        // The square around the hexagon's centre.
        const int cx = bestX, cy = bestY;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (dx || dy) tryInteger(cx + dx, cy + dy);
    }

    void unevenMultiHexagon(int range)
    {
        const int cx = bestX, cy = bestY;
        // Unsymmetrical cross: horizontal motion is the more common.
        for (int d = 2; d <= range; d += 2) {
            tryInteger(cx - d, cy);
            tryInteger(cx + d, cy);
        }
        for (int d = 2; d <= range / 2; d += 2) {
            tryInteger(cx, cy - d);
            tryInteger(cx, cy + d);
        }
        // A full search of the small square around the best so far.
        const int sx = bestX, sy = bestY;
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx) tryInteger(sx + dx, sy + dy);
        // Multi-hexagon: a 16-point hexagon at growing scales around the start.
        static constexpr int kBigHex[16][2] = {{-4, 2},  {-4, 1}, {-4, 0}, {-4, -1}, {-4, -2}, {4, -2}, {4, -1}, {4, 0},
                                               {4, 1},   {4, 2},  {2, 3},  {0, 4},   {-2, 3},  {-2, -3}, {0, -4}, {2, -3}};
        const int hx = bestX, hy = bestY;
        for (int scale = 1; 4 * scale <= range; ++scale)
            for (const auto& p : kBigHex) tryInteger(hx + p[0] * scale, hy + p[1] * scale);
        hexagon(range);
        smallDiamond(range);
    }

    // Sub-sample luma cost: SATD against the interpolated block plus the vector's bits.
    int lumaCost(MotionVector mv) const
    {
        alignas(16) std::uint8_t buffer[16 * 16];
        int stride = 0;
        const std::uint8_t* pred = ref.prediction(block.x, block.y, mv, block.w, block.h, buffer, stride);
        return satd(src, srcStride, pred, stride, block.w, block.h) + vectorCost(mv.x, mv.y);
    }

    // Chroma SAD of the vector (eighth-sample chroma through the core).
    int chromaCost(MotionVector mv) const
    {
        alignas(16) std::uint8_t pred[8 * 8];
        const int cw = block.w / 2, ch = block.h / 2, cx = block.x / 2, cy = block.y / 2;
        int cost = 0;
        for (int plane : {kCb, kCr}) {
            predictChroma(ref.picture().plane(plane), cx, cy, mv, cw, ch, pred, 8);
            const ConstPlaneView s = block.source->plane(plane);
            cost += sad(s.row(cy) + cx, s.stride, pred, 8, cw, ch);
        }
        return cost;
    }
};

} // namespace

SearchResult searchMotion(const SearchBlock& block, const SearchReference& ref, MotionVector mvp,
                          std::span<const MotionVector> starts, const SearchParams& params)
{
    const ConstPlaneView luma = block.source->plane(kLuma);
    Search s{block, ref, mvp, params, luma.row(block.y) + block.x, luma.stride};
    const int width = ref.picture().width(kLuma), height = ref.picture().height(kLuma);
    // The block and its sub-sample neighbours stay inside the extended reference.
    s.minX = 1 - ref.pad() - block.x;
    s.maxX = width + ref.pad() - block.w - block.x - 2;
    s.minY = 1 - ref.pad() - block.y;
    s.maxY = height + ref.pad() - block.h - block.y - 2;
    const int range = std::max(1, params.range);
    auto toInteger = [](int q) { return (q + (q >= 0 ? 2 : 1)) >> 2; };  // nearest, ties towards zero
    s.tryInteger(std::clamp(toInteger(mvp.x), s.minX, s.maxX), std::clamp(toInteger(mvp.y), s.minY, s.maxY));
    s.tryInteger(0, 0);
    for (const MotionVector& start : starts) s.tryInteger(toInteger(start.x), toInteger(start.y));
    // The search window is centred on the predictor.
    const int centreX = s.bestX, centreY = s.bestY;
    s.minX = std::max(s.minX, centreX - range);
    s.maxX = std::min(s.maxX, centreX + range);
    s.minY = std::max(s.minY, centreY - range);
    s.maxY = std::min(s.maxY, centreY + range);
    // Parts smaller than 8x8 start from their quadrant's vector: a short
    // diamond walk finds what they add.
    const SearchPattern pattern = block.w < 8 || block.h < 8 ? SearchPattern::Diamond : params.pattern;
    switch (pattern) {
    case SearchPattern::Diamond: s.smallDiamond(block.w < 8 || block.h < 8 ? 2 : range); break;
    case SearchPattern::Hexagon:
        s.hexagon(range);
        s.smallDiamond(1);
        break;
    case SearchPattern::UnevenMultiHexagon: s.unevenMultiHexagon(range); break;
    }

    // Half, then quarter sample refinement around the best by luma; with
    // chroma, the two best vectors then compete with their chroma cost added.
    struct Scored {
        int cost;
        MotionVector mv;
    };
    std::array<Scored, 2> top;
    top.fill({INT_MAX, {}});
    auto keep = [&](MotionVector mv, int cost) {
        for (const Scored& t : top)
            if (t.mv == mv && t.cost != INT_MAX) return;
        if (cost >= top.back().cost) return;
        top.back() = {cost, mv};
        std::sort(top.begin(), top.end(), [](const Scored& x, const Scored& y) { return x.cost < y.cost; });
    };
    MotionVector best{static_cast<std::int16_t>(4 * s.bestX), static_cast<std::int16_t>(4 * s.bestY)};
    int bestCost = s.lumaCost(best);
    keep(best, bestCost);
    for (int step : {2, 1}) {
        const MotionVector centre = best;
        for (int dy = -step; dy <= step; dy += step)
            for (int dx = -step; dx <= step; dx += step) {
                // Half samples: the square around the best; quarter samples: the diamond.
                if ((!dx && !dy) || (step == 1 && dx && dy)) continue;
                const MotionVector mv{static_cast<std::int16_t>(centre.x + dx), static_cast<std::int16_t>(centre.y + dy)};
                const int cost = s.lumaCost(mv);
                keep(mv, cost);
                if (cost < bestCost) {
                    bestCost = cost;
                    best = mv;
                }
            }
    }
    if (params.chroma) {
        bestCost = INT_MAX;
        for (const Scored& t : top) {
            if (t.cost == INT_MAX) continue;
            const int cost = t.cost + s.chromaCost(t.mv);
            if (cost < bestCost) {
                bestCost = cost;
                best = t.mv;
            }
        }
    }
    return {best, bestCost};
}

} // namespace kestrune::codec
