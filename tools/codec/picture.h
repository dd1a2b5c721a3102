#pragma once
// A planar YUV 4:2:0 picture of 8-bit samples sized in whole macroblocks
// (PicWidthInMbs x PicHeightInMapUnits of a frame). Cropping is applied only
// when a picture is written out; every process of the codec works on the
// full macroblock grid. Rows are contiguous with the given stride.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrune::codec {

enum Plane : int { kLuma = 0, kCb = 1, kCr = 2 };

// Clip1Y / Clip1C of clause 5.7 for 8-bit samples.
inline std::uint8_t clip1(int v)
{
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

// A writable view of one plane.
struct PlaneView {
    std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;

    std::uint8_t* row(int y) const { return data + static_cast<std::ptrdiff_t>(y) * stride; }
    std::uint8_t& at(int x, int y) const { return row(y)[x]; }
};

// A read-only view of one plane (reference pictures, source pictures).
struct ConstPlaneView {
    const std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;

    ConstPlaneView() = default;
    ConstPlaneView(const std::uint8_t* d, int w, int h, int s) : data(d), width(w), height(h), stride(s) {}
    ConstPlaneView(const PlaneView& v) : data(v.data), width(v.width), height(v.height), stride(v.stride) {}
    const std::uint8_t* row(int y) const { return data + static_cast<std::ptrdiff_t>(y) * stride; }
    std::uint8_t at(int x, int y) const { return row(y)[x]; }
};

class Picture {
public:
    Picture() = default;
    // All samples start at 0; widthInMbs and heightInMbs must be positive.
    Picture(int widthInMbs, int heightInMbs);

    bool empty() const { return widthInMbs_ == 0; }
    int widthInMbs() const { return widthInMbs_; }
    int heightInMbs() const { return heightInMbs_; }
    int mbCount() const { return widthInMbs_ * heightInMbs_; }

    // Plane sizes in samples: luma 16 per macroblock, chroma 8.
    int width(int plane) const { return plane == kLuma ? 16 * widthInMbs_ : 8 * widthInMbs_; }
    int height(int plane) const { return plane == kLuma ? 16 * heightInMbs_ : 8 * heightInMbs_; }
    int stride(int plane) const { return width(plane); }

    // Inline: inter prediction asks for planes once per partition.
    PlaneView plane(int p) { return {samples_.data() + planeOffset(p), width(p), height(p), stride(p)}; }
    ConstPlaneView plane(int p) const { return {samples_.data() + planeOffset(p), width(p), height(p), stride(p)}; }

    // Top-left sample of macroblock mbAddr (raster address) in the given plane.
    std::uint8_t* mbOrigin(int plane, int mbAddr);
    const std::uint8_t* mbOrigin(int plane, int mbAddr) const;

    // Sets every sample of every plane (e.g. 128 grey before concealment).
    void fill(std::uint8_t value);

    bool operator==(const Picture& other) const = default;

private:
    // Y, then Cb (a quarter of Y's size), then Cr.
    std::size_t planeOffset(int p) const
    {
        const std::size_t lumaSize = static_cast<std::size_t>(mbCount()) * 256;
        return p == kLuma ? 0 : p == kCb ? lumaSize : lumaSize + lumaSize / 4;
    }

    int widthInMbs_ = 0;
    int heightInMbs_ = 0;
    std::vector<std::uint8_t> samples_;  // Y, then Cb, then Cr
};

} // namespace kestrune::codec
