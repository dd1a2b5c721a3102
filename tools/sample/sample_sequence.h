#pragma once
// Deterministic synthetic 4:2:0 test sequence with real motion: a textured
// background under a slow camera pan and zoom, textured objects moving on
// their own paths, and a little temporal noise. The scene is defined in QCIF
// units, so every size shows the same content.
#include <cstdint>
#include <span>
#include <string>

namespace kestrune {

struct SampleSize {
    int width = 176;
    int height = 144;
};

// Bytes of one planar 4:2:0 frame (Y, then U and V at half resolution).
std::size_t yuv420FrameBytes(int width, int height);

// Empty when the size can hold 4:2:0 frames, otherwise why not.
std::string sampleSizeError(int width, int height);

// Renders frame `index` into `frame`, which holds yuv420FrameBytes() bytes.
void renderSampleFrame(SampleSize size, int index, std::span<std::uint8_t> frame);

// "sample_176x144.yuv": the name tells YUV players the resolution.
std::string sampleFileName(int width, int height);

} // namespace kestrune
