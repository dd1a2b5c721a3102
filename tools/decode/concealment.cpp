#include "tools/decode/concealment.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <deque>

namespace kestrune::decode {

const char* methodName(IntraMethod method)
{
    switch (method) {
    case IntraMethod::None: return "none";
    case IntraMethod::AverageDc: return "average DC";
    case IntraMethod::AverageMacroblock: return "average macroblock";
    case IntraMethod::Bilinear: return "bilinear interpolation";
    }
    return "?";
}

const char* methodName(InterMethod method)
{
    return method == InterMethod::None ? "none" : "boundary matching";
}

Sides usableNeighbours(const MbGrid& grid, int mbX, int mbY)
{
    auto has = [&](int x, int y, MbState state) { return grid.inside(x, y) && grid.at(x, y) == state; };
    Sides sides{has(mbX, mbY - 1, MbState::Correct), has(mbX, mbY + 1, MbState::Correct),
                has(mbX - 1, mbY, MbState::Correct), has(mbX + 1, mbY, MbState::Correct)};
    if (sides.count() < 2) {
        sides.top = sides.top || has(mbX, mbY - 1, MbState::Concealed);
        sides.bottom = sides.bottom || has(mbX, mbY + 1, MbState::Concealed);
        sides.left = sides.left || has(mbX - 1, mbY, MbState::Concealed);
        sides.right = sides.right || has(mbX + 1, mbY, MbState::Concealed);
    }
    return sides;
}

std::vector<std::pair<int, int>> concealmentOrder(const MbGrid& grid)
{
    std::vector<std::pair<int, int>> order;
    std::vector<bool> queued(grid.states.size(), false);
    std::deque<std::pair<int, int>> queue;
    auto index = [&](int x, int y) { return std::size_t(y) * std::size_t(grid.width) + std::size_t(x); };
    auto enqueueLostAround = [&](int x, int y) {
        const int dx[] = {0, 0, -1, 1};
        const int dy[] = {-1, 1, 0, 0};
        for (int k = 0; k < 4; ++k) {
            int nx = x + dx[k], ny = y + dy[k];
            if (grid.inside(nx, ny) && grid.at(nx, ny) == MbState::Lost && !queued[index(nx, ny)]) {
                queued[index(nx, ny)] = true;
                queue.emplace_back(nx, ny);
            }
        }
    };
    for (int y = 0; y < grid.height; ++y)
        for (int x = 0; x < grid.width; ++x)
            if (grid.at(x, y) != MbState::Lost) enqueueLostAround(x, y);
    // Nothing decoded at all: start from the top-left corner.
    if (queue.empty())
        for (std::size_t i = 0; i < grid.states.size() && queue.empty(); ++i)
            if (grid.states[i] == MbState::Lost) {
                queued[i] = true;
                queue.emplace_back(int(i % std::size_t(grid.width)), int(i / std::size_t(grid.width)));
            }
    while (!queue.empty()) {
        auto [x, y] = queue.front();
        queue.pop_front();
        order.emplace_back(x, y);
        enqueueLostAround(x, y);
    }
    return order;
}

namespace {

void fillBlock(const Plane& plane, int x0, int y0, int n, std::uint8_t value)
{
    for (int r = 0; r < n; ++r) std::memset(&plane.at(x0, y0 + r), value, std::size_t(n));
}

// The one-pixel lines around a block: top[c], bottom[c], left[r], right[r].
struct Boundary {
    std::array<int, 16> top{}, bottom{}, left{}, right{};
};

Boundary readBoundary(const Plane& p, int x0, int y0, int n, Sides s)
{
    Boundary b;
    for (int i = 0; i < n; ++i) {
        if (s.top) b.top[i] = p.at(x0 + i, y0 - 1);
        if (s.bottom) b.bottom[i] = p.at(x0 + i, y0 + n);
        if (s.left) b.left[i] = p.at(x0 - 1, y0 + i);
        if (s.right) b.right[i] = p.at(x0 + n, y0 + i);
    }
    return b;
}

void averageDc(const Plane& p, int x0, int y0, int n, Sides s)
{
    Boundary b = readBoundary(p, x0, y0, n, s);
    int sum = 0;
    for (int i = 0; i < n; ++i) sum += b.top[i] + b.bottom[i] + b.left[i] + b.right[i];
    const int count = n * s.count();
    fillBlock(p, x0, y0, n, std::uint8_t((sum + count / 2) / count));
}

void averageMacroblock(const Plane& p, int x0, int y0, int n, Sides s)
{
    const int count = s.count();
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) {
            int sum = 0;
            if (s.top) sum += p.at(x0 + c, y0 - n + r);
            if (s.bottom) sum += p.at(x0 + c, y0 + n + r);
            if (s.left) sum += p.at(x0 - n + c, y0 + r);
            if (s.right) sum += p.at(x0 + n + c, y0 + r);
            p.at(x0 + c, y0 + r) = std::uint8_t((sum + count / 2) / count);
        }
}

void bilinear(const Plane& p, int x0, int y0, int n, Sides s)
{
    Boundary b = readBoundary(p, x0, y0, n, s);
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) {
            int sum = 0, weights = 0;
            if (s.top) sum += (n - r) * b.top[c], weights += n - r;
            if (s.bottom) sum += (r + 1) * b.bottom[c], weights += r + 1;
            if (s.left) sum += (n - c) * b.left[r], weights += n - c;
            if (s.right) sum += (c + 1) * b.right[r], weights += c + 1;
            p.at(x0 + c, y0 + r) = std::uint8_t((sum + weights / 2) / weights);
        }
}

} // namespace

void concealBlockSpatially(const Plane& plane, int x0, int y0, int n, Sides sides, IntraMethod method)
{
    if (method == IntraMethod::None || sides.count() == 0) return fillBlock(plane, x0, y0, n, 128);
    switch (method) {
    case IntraMethod::AverageDc: return averageDc(plane, x0, y0, n, sides);
    case IntraMethod::AverageMacroblock: return averageMacroblock(plane, x0, y0, n, sides);
    default: return bilinear(plane, x0, y0, n, sides);
    }
}

void paintLostGrey(const Picture& picture, const MbGrid& grid)
{
    for (int y = 0; y < grid.height; ++y)
        for (int x = 0; x < grid.width; ++x)
            if (grid.at(x, y) == MbState::Lost) {
                fillBlock(picture.luma, x * 16, y * 16, 16, 128);
                fillBlock(picture.cb, x * 8, y * 8, 8, 128);
                fillBlock(picture.cr, x * 8, y * 8, 8, 128);
            }
}

int concealSpatially(const Picture& picture, MbGrid& grid, IntraMethod method)
{
    if (method == IntraMethod::None) {
        paintLostGrey(picture, grid);
        return 0;
    }
    int concealed = 0;
    for (auto [x, y] : concealmentOrder(grid)) {
        const Sides sides = usableNeighbours(grid, x, y);
        concealBlockSpatially(picture.luma, x * 16, y * 16, 16, sides, method);
        concealBlockSpatially(picture.cb, x * 8, y * 8, 8, sides, method);
        concealBlockSpatially(picture.cr, x * 8, y * 8, 8, sides, method);
        grid.at(x, y) = MbState::Concealed;
        ++concealed;
    }
    return concealed;
}

MotionField::MotionField(int mbWidth, int mbHeight)
    : width_(mbWidth * 4), height_(mbHeight * 4),
      vectors_(std::size_t(width_) * std::size_t(height_)), valid_(vectors_.size(), false)
{
}

void MotionField::set(int bx, int by, MotionVector mv)
{
    if (bx < 0 || by < 0 || bx >= width_ || by >= height_) return;
    const std::size_t i = std::size_t(by) * std::size_t(width_) + std::size_t(bx);
    vectors_[i] = mv;
    valid_[i] = true;
}

void MotionField::setArea(int x, int y, int w, int h, MotionVector mv)
{
    for (int by = y / 4; by < (y + h + 3) / 4; ++by)
        for (int bx = x / 4; bx < (x + w + 3) / 4; ++bx) set(bx, by, mv);
}

const MotionVector* MotionField::get(int bx, int by) const
{
    if (bx < 0 || by < 0 || bx >= width_ || by >= height_) return nullptr;
    const std::size_t i = std::size_t(by) * std::size_t(width_) + std::size_t(bx);
    return valid_[i] ? &vectors_[i] : nullptr;
}

void MotionField::dropLost(const MbGrid& grid)
{
    for (int by = 0; by < height_; ++by)
        for (int bx = 0; bx < width_; ++bx)
            if (grid.inside(bx / 4, by / 4) && grid.at(bx / 4, by / 4) == MbState::Lost)
                valid_[std::size_t(by) * std::size_t(width_) + std::size_t(bx)] = false;
}

std::vector<MotionVector> candidateVectors(const MotionField& field, int mbX, int mbY, Sides sides,
                                           const MotionField* previousField)
{
    std::vector<MotionVector> found;
    auto take = [&](int bx, int by) {
        if (const MotionVector* mv = field.get(bx, by)) found.push_back(*mv);
    };
    for (int i = 0; i < 4; ++i) {
        if (sides.top) take(mbX * 4 + i, mbY * 4 - 1);
        if (sides.bottom) take(mbX * 4 + i, mbY * 4 + 4);
        if (sides.left) take(mbX * 4 - 1, mbY * 4 + i);
        if (sides.right) take(mbX * 4 + 4, mbY * 4 + i);
    }
    std::vector<MotionVector> candidates{MotionVector{}};
    auto add = [&](MotionVector mv) {
        if (std::find(candidates.begin(), candidates.end(), mv) == candidates.end()) candidates.push_back(mv);
    };
    for (const MotionVector& mv : found) add(mv);
    if (!found.empty()) {
        const int n = int(found.size());
        int sumX = 0, sumY = 0;
        std::vector<int> xs, ys;
        for (const MotionVector& mv : found) sumX += mv.x, sumY += mv.y, xs.push_back(mv.x), ys.push_back(mv.y);
        auto roundedMean = [n](int sum) { return sum >= 0 ? (sum + n / 2) / n : -((-sum + n / 2) / n); };
        add({roundedMean(sumX), roundedMean(sumY)});
        std::nth_element(xs.begin(), xs.begin() + n / 2, xs.end());
        std::nth_element(ys.begin(), ys.begin() + n / 2, ys.end());
        add({xs[std::size_t(n / 2)], ys[std::size_t(n / 2)]});
    }
    // Motion tends to continue: the co-located macroblock's vectors, one per 8x8 quadrant.
    if (previousField)
        for (int q = 0; q < 4; ++q)
            if (const MotionVector* mv = previousField->get(mbX * 4 + (q % 2) * 2 + 1, mbY * 4 + (q / 2) * 2 + 1)) add(*mv);
    return candidates;
}

namespace {

// The w x h rectangle at (x0, y0) displaced by mv, written with the given output stride.
void predictRect(const Plane& ref, int x0, int y0, int w, int h, MotionVector mv, int scale, std::uint8_t* out,
                 int outStride)
{
    auto floorDiv = [](int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); };
    const int ix = floorDiv(mv.x, scale), iy = floorDiv(mv.y, scale);
    const int fx = mv.x - ix * scale, fy = mv.y - iy * scale;
    // scale is a power of two: shift instead of dividing in the inner loop.
    const int shift = 2 * std::countr_zero(unsigned(scale)), half = (scale * scale) / 2;
    const int left = x0 + ix, top = y0 + iy;
    const int w00 = (scale - fx) * (scale - fy), w01 = fx * (scale - fy), w10 = (scale - fx) * fy, w11 = fx * fy;
    // Every call of a search lands here: the common case of a block wholly
    // inside the picture reads the rows directly instead of clamping each sample.
    if (left >= 0 && top >= 0 && left + w < ref.width && top + h < ref.height) {
        for (int r = 0; r < h; ++r) {
            const std::uint8_t* a = &ref.at(left, top + r);
            const std::uint8_t* b = a + ref.stride;
            std::uint8_t* o = out + r * outStride;
            if (fx == 0 && fy == 0) {
                std::memcpy(o, a, std::size_t(w));
                continue;
            }
            for (int c = 0; c < w; ++c)
                o[c] = std::uint8_t((w00 * a[c] + w01 * a[c + 1] + w10 * b[c] + w11 * b[c + 1] + half) >> shift);
        }
        return;
    }
    auto sample = [&](int x, int y) {
        return int(ref.at(std::clamp(x, 0, ref.width - 1), std::clamp(y, 0, ref.height - 1)));
    };
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            const int x = left + c, y = top + r;
            const int v = w00 * sample(x, y) + w01 * sample(x + 1, y) + w10 * sample(x, y + 1) + w11 * sample(x + 1, y + 1);
            out[r * outStride + c] = std::uint8_t((v + half) >> shift);
        }
}

} // namespace

void predictBlock(const Plane& ref, int x0, int y0, int n, MotionVector mv, int scale, std::uint8_t* out)
{
    predictRect(ref, x0, y0, n, n, mv, scale, out, n);
}

void predictRing(const Plane& ref, int x0, int y0, MotionVector mv, std::uint8_t* area)
{
    constexpr int n = kMatchArea, w = kMatchRing;
    predictRect(ref, x0 - w, y0 - w, n, w, mv, 4, area, n);
    predictRect(ref, x0 - w, y0 + 16, n, w, mv, 4, area + (n - w) * n, n);
    predictRect(ref, x0 - w, y0, w, 16, mv, 4, area + w * n, n);
    predictRect(ref, x0 + 16, y0, w, 16, mv, 4, area + w * n + n - w, n);
}

int boundaryCost(const Plane& luma, int x0, int y0, const std::uint8_t* area, Sides sides)
{
    if (sides.count() == 0) return 0;
    constexpr int n = kMatchArea, w = kMatchRing;
    int sum = 0;
    for (int k = 0; k < w; ++k)
        for (int i = 0; i < 16; ++i) {
            if (sides.top) sum += std::abs(area[k * n + i + w] - luma.at(x0 + i, y0 - w + k));
            if (sides.bottom) sum += std::abs(area[(n - 1 - k) * n + i + w] - luma.at(x0 + i, y0 + 15 + w - k));
            if (sides.left) sum += std::abs(area[(i + w) * n + k] - luma.at(x0 - w + k, y0 + i));
            if (sides.right) sum += std::abs(area[(i + w) * n + n - 1 - k] - luma.at(x0 + 15 + w - k, y0 + i));
        }
    return sum / (sides.count() * w);
}

namespace {

void copyBlock(const Plane& plane, int x0, int y0, int n, const std::uint8_t* block)
{
    for (int r = 0; r < n; ++r) std::memcpy(&plane.at(x0, y0 + r), block + r * n, std::size_t(n));
}

// One edge: p1 p0 | q0 q1 along step, each side's edge sample pulled towards the other.
void smoothEdge(std::uint8_t* q, std::ptrdiff_t step)
{
    std::uint8_t* p = q - step;
    const int p1 = p[-step], p0 = p[0], q0 = q[0], q1 = q[step];
    p[0] = std::uint8_t((p1 + 2 * p0 + q0 + 2) >> 2);
    q[0] = std::uint8_t((p0 + 2 * q0 + q1 + 2) >> 2);
}

void smoothPlaneEdges(const Plane& plane, const MbGrid& grid, int n)
{
    auto concealed = [&](int x, int y) { return grid.inside(x, y) && grid.at(x, y) == MbState::Concealed; };
    for (int y = 0; y < grid.height; ++y)
        for (int x = 0; x < grid.width; ++x) {
            if (!concealed(x, y)) continue;
            // Left and top edges always; right and bottom ones only towards a
            // block that will not filter them itself.
            const bool left = x > 0, top = y > 0;
            const bool right = x + 1 < grid.width && !concealed(x + 1, y);
            const bool bottom = y + 1 < grid.height && !concealed(x, y + 1);
            for (int i = 0; i < n; ++i) {
                if (left) smoothEdge(&plane.at(x * n, y * n + i), 1);
                if (right) smoothEdge(&plane.at(x * n + n, y * n + i), 1);
                if (top) smoothEdge(&plane.at(x * n + i, y * n), plane.stride);
                if (bottom) smoothEdge(&plane.at(x * n + i, y * n + n), plane.stride);
            }
        }
}

} // namespace

void smoothConcealedEdges(const Picture& picture, const MbGrid& grid)
{
    smoothPlaneEdges(picture.luma, grid, 16);
    smoothPlaneEdges(picture.cb, grid, 8);
    smoothPlaneEdges(picture.cr, grid, 8);
}

int concealByBoundaryMatching(const Picture& picture, const Picture& reference, MbGrid& grid, MotionField& field,
                              const MotionField* previousField)
{
    constexpr int n = kMatchArea;
    std::uint8_t area[n * n], chroma[64], block[256];
    int concealed = 0;
    for (const auto& at : concealmentOrder(grid)) {
        const int x = at.first, y = at.second;
        const Sides sides = usableNeighbours(grid, x, y);
        int bestCost = -1;
        MotionVector bestVector;
        auto tryVector = [&](MotionVector mv) {
            predictRing(reference.luma, x * 16, y * 16, mv, area);
            const int cost = boundaryCost(picture.luma, x * 16, y * 16, area, sides);
            if (bestCost < 0 || cost < bestCost) {
                bestCost = cost;
                bestVector = mv;
            }
        };
        for (const MotionVector& mv : candidateVectors(field, x, y, sides, previousField)) tryVector(mv);
        // The neighbours' vectors are only estimates of the block's own: try the
        // quarter-sample steps around the best one. Wider searches (whole samples)
        // fit the ring better but the block worse, so they stay out.
        // Without any neighbour there is nothing to match.
        if (sides.count() > 0) {
            const MotionVector centre = bestVector;
            for (int dy = -kRefinementRange; dy <= kRefinementRange; ++dy)
                for (int dx = -kRefinementRange; dx <= kRefinementRange; ++dx)
                    if (dx != 0 || dy != 0) tryVector({centre.x + dx, centre.y + dy});
        }
        predictBlock(reference.luma, x * 16, y * 16, 16, bestVector, 4, block);
        copyBlock(picture.luma, x * 16, y * 16, 16, block);
        // The same vector is an eighth-sample displacement in the half-size chroma planes.
        predictBlock(reference.cb, x * 8, y * 8, 8, bestVector, 8, chroma);
        copyBlock(picture.cb, x * 8, y * 8, 8, chroma);
        predictBlock(reference.cr, x * 8, y * 8, 8, bestVector, 8, chroma);
        copyBlock(picture.cr, x * 8, y * 8, 8, chroma);
        field.setArea(x * 16, y * 16, 16, 16, bestVector);
        grid.at(x, y) = MbState::Concealed;
        ++concealed;
    }
    smoothConcealedEdges(picture, grid);
    return concealed;
}

} // namespace kestrune::decode
