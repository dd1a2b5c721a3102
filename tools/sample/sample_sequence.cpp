#include "tools/sample/sample_sequence.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kestrune {
namespace {

constexpr double kSceneWidth = 176.0;  // scene units: QCIF pixels
constexpr double kSceneHeight = 144.0;
constexpr double kFps = 25.0;

std::uint32_t hash3(std::int32_t x, std::int32_t y, std::uint32_t seed)
{
    std::uint32_t h = static_cast<std::uint32_t>(x) * 0x8da6b343u
                    ^ static_cast<std::uint32_t>(y) * 0xd8163841u
                    ^ seed * 0xcb1ab31fu;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return h;
}

double lattice(std::int32_t x, std::int32_t y, std::uint32_t seed)
{
    return (hash3(x, y, seed) & 0xffff) / 65535.0;
}

// Smoothly interpolated value noise in 0..1.
double valueNoise(double x, double y, std::uint32_t seed)
{
    const double fx = std::floor(x), fy = std::floor(y);
    const auto ix = static_cast<std::int32_t>(fx), iy = static_cast<std::int32_t>(fy);
    double tx = x - fx, ty = y - fy;
    tx = tx * tx * (3 - 2 * tx);
    ty = ty * ty * (3 - 2 * ty);
    const double a = lattice(ix, iy, seed), b = lattice(ix + 1, iy, seed);
    const double c = lattice(ix, iy + 1, seed), d = lattice(ix + 1, iy + 1, seed);
    return (a + (b - a) * tx) * (1 - ty) + (c + (d - c) * tx) * ty;
}

// Three octaves of value noise, 0..1.
double fractalNoise(double x, double y, std::uint32_t seed)
{
    return (valueNoise(x, y, seed) * 0.57 + valueNoise(x * 2.03, y * 2.03, seed + 1) * 0.29
            + valueNoise(x * 4.1, y * 4.1, seed + 2) * 0.14);
}

struct Sample {
    double y, u, v;
};

// The background: hills of texture with a brick-like pattern, in scene units.
Sample background(double x, double y)
{
    const double n = fractalNoise(x / 14.0, y / 14.0, 11);
    const double rowOffset = (static_cast<int>(std::floor(y / 9.0)) & 1) ? 8.0 : 0.0;
    const double mortar = (std::fmod(y + 900.0, 9.0) < 1.2 || std::fmod(x + rowOffset + 1600.0, 16.0) < 1.2) ? -38.0 : 0.0;
    const double luma = 70.0 + 110.0 * n + mortar * (0.5 + n);
    const double u = 128.0 + 40.0 * (valueNoise(x / 40.0, y / 40.0, 21) - 0.5);
    const double v = 128.0 + 50.0 * (valueNoise(x / 35.0, y / 35.0, 31) - 0.5) + 12.0 * std::sin(x / 30.0);
    return {luma, u, v};
}

struct Placement {
    double cx, cy, angle;
};

// Object 0: a spotted disc on a Lissajous path. Object 1: a rotating striped
// box crossing the picture. Returns true and the colour when covered.
bool objectSample(int object, const Placement& p, double x, double y, Sample& out)
{
    const double dx = x - p.cx, dy = y - p.cy;
    const double c = std::cos(p.angle), s = std::sin(p.angle);
    const double lx = c * dx + s * dy, ly = -s * dx + c * dy;  // object's own axes
    if (object == 0) {
        if (lx * lx + ly * ly > 22.0 * 22.0) return false;
        const double spots = fractalNoise(lx / 5.0 + 50.0, ly / 5.0 + 50.0, 41);
        out = {spots > 0.55 ? 225.0 : 60.0 + 60.0 * spots, 90.0 + 20.0 * spots, 185.0};
        return true;
    }
    if (std::abs(lx) > 26.0 || std::abs(ly) > 14.0) return false;
    const double stripe = 0.5 + 0.5 * std::sin(lx / 2.2);
    const double grain = fractalNoise(lx / 3.0 + 90.0, ly / 3.0, 51);
    out = {40.0 + 150.0 * stripe * (0.6 + 0.4 * grain), 170.0 - 30.0 * grain, 100.0};
    return true;
}

struct Camera {
    double panX, panY, zoom;
};

Camera cameraAt(double t)
{
    return {30.0 * t + 12.0 * std::sin(t * 0.4), 8.0 * std::sin(t * 0.5),
            1.0 + 0.12 * std::sin(t * 2.0 * std::numbers::pi / 12.0)};
}

Placement objectAt(int object, double t)
{
    if (object == 0)
        return {kSceneWidth / 2 + 55.0 * std::sin(t * 0.9), kSceneHeight / 2 + 35.0 * std::sin(t * 1.3 + 0.7), t * 0.8};
    // Crosses left to right every 6 s with a slow spin.
    const double phase = std::fmod(t, 6.0) / 6.0;
    return {-30.0 + phase * (kSceneWidth + 60.0), 40.0 + 10.0 * std::sin(t * 2.1), 0.4 * t};
}

Sample scenePoint(const Camera& cam, const Placement (&objects)[2], double sx, double sy)
{
    Sample s;
    // Objects are placed on the screen (they move on their own, not with the camera).
    if (objectSample(1, objects[1], sx, sy, s) || objectSample(0, objects[0], sx, sy, s)) return s;
    const double wx = (sx - kSceneWidth / 2) / cam.zoom + kSceneWidth / 2 + cam.panX;
    const double wy = (sy - kSceneHeight / 2) / cam.zoom + kSceneHeight / 2 + cam.panY;
    return background(wx, wy);
}

std::uint8_t toByte(double value)
{
    return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

// Small zero-mean temporal noise, different in every frame.
double grainAt(int x, int y, int frame, std::uint32_t plane)
{
    return (static_cast<int>(hash3(x, y, static_cast<std::uint32_t>(frame) * 3u + plane) % 5u) - 2) * 0.8;
}

} // namespace

std::size_t yuv420FrameBytes(int width, int height)
{
    const auto w = static_cast<std::size_t>(width), h = static_cast<std::size_t>(height);
    return w * h + 2 * (w / 2) * (h / 2);
}

std::string sampleSizeError(int width, int height)
{
    if (width <= 0 || height <= 0) return "width and height must be positive";
    if (width % 2 || height % 2) return "width and height must be even for 4:2:0";
    if (width > 16384 || height > 16384) return "width and height must be at most 16384";
    return {};
}

std::string sampleFileName(int width, int height)
{
    return "sample_" + std::to_string(width) + "x" + std::to_string(height) + ".yuv";
}

void renderSampleFrame(SampleSize size, int index, std::span<std::uint8_t> frame)
{
    const int w = size.width, h = size.height;
    const double t = index / kFps;
    const Camera cam = cameraAt(t);
    const Placement objects[2] = {objectAt(0, t), objectAt(1, t)};
    const double scaleX = kSceneWidth / w, scaleY = kSceneHeight / h;

    std::uint8_t* luma = frame.data();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Sample s = scenePoint(cam, objects, (x + 0.5) * scaleX, (y + 0.5) * scaleY);
            luma[static_cast<std::size_t>(y) * w + x] = toByte(s.y + grainAt(x, y, index, 0));
        }
    const int cw = w / 2, ch = h / 2;
    std::uint8_t* cb = luma + static_cast<std::size_t>(w) * h;
    std::uint8_t* cr = cb + static_cast<std::size_t>(cw) * ch;
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            const Sample s = scenePoint(cam, objects, (2 * x + 1.0) * scaleX, (2 * y + 1.0) * scaleY);
            const std::size_t at = static_cast<std::size_t>(y) * cw + x;
            cb[at] = toByte(s.u + grainAt(x, y, index, 1));
            cr[at] = toByte(s.v + grainAt(x, y, index, 2));
        }
}

} // namespace kestrune
