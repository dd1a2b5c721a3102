#pragma once
// Real H.264 streams for tests, encoded in-process with libx264 from a
// generated picture sequence. One generator for every test that needs one;
// the options leave whatever they do not set at the preset's value.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::testing {

// Draws picture `index` as planar 4:2:0 (Y, then U and V at half size) into
// `frame`, which holds width * height * 3 / 2 bytes.
using PictureRenderer = std::function<void(int width, int height, int index, std::uint8_t* frame)>;

// A diagonal texture moving a little every picture, and calm chroma.
void renderPattern(int width, int height, int index, std::uint8_t* frame);
// The generated sample sequence (tools/sample): busy textures under motion.
void renderSample(int width, int height, int index, std::uint8_t* frame);
// Slowly varying waves moving diagonally, where interpolation should shine.
void renderSmooth(int width, int height, int index, std::uint8_t* frame);

struct X264StreamOptions {
    int width = 176;
    int height = 144;
    int frames = 12;
    PictureRenderer picture = renderPattern;
    std::string preset = "veryfast";
    std::string profile;            // applied after everything else when set
    std::optional<int> bframes;
    std::optional<int> slices;      // slices per picture
    int firstPicture = 0;           // index handed to `picture` for the first frame
    int keyint = 250;
    int keyintMin = 1;
    int scenecut = 0;               // scene-change threshold; 0: IDR pictures only every keyint
    std::optional<int> refs;        // reference frames
    std::optional<int> qp;          // constant QP instead of the preset's rate control
    std::optional<bool> cabac;
    std::optional<int> motionSearch;   // libx264's method: 0 diamond, 1 hexagon, 2 uneven multi-hexagon, 3 exhaustive
    std::optional<bool> allPartitions; // P pictures: true every partition and intra 4x4, false 16x16 only
    std::optional<bool> deblock;
    int deblockAlpha = 0;           // slice_alpha_c0_offset_div2
    int deblockBeta = 0;            // slice_beta_offset_div2
    bool constrainedIntra = false;
    // Asked of libx264, which lowers it by up to 4 for its psychovisual
    // options and clips it to -12..12 before writing chroma_qp_index_offset.
    std::optional<int> chromaQpOffset;
    bool interlaced = false;
    bool aud = false;
    bool weightedPrediction = true; // false: no weighted P prediction, like the workbench's encoder
    bool weightedBipred = true;     // false: B pictures average their references (no weights from the picture order)
    bool hrd = false;               // NAL HRD parameters, buffering period and picture timing SEI
    bool intraRefresh = false;      // a moving intra column instead of IDR pictures after the first
    std::optional<int> bPyramid;    // 0 none, 1 strict, 2 normal (B pictures as references)
    bool openGop = false;           // keyframes after the first are I pictures, not IDR pictures
    bool chroma444 = false;         // 4:4:4 pictures (the rendered chroma stretched to full size)
};

struct X264Nal {
    std::vector<std::uint8_t> bytes;  // start code included
    int type = 0;                     // nal_unit_type as libx264 reports it
    int firstMb = 0;                  // macroblocks of a slice, as libx264 reports them
    int lastMb = 0;
    bool isSlice() const { return type == 1 || type == 5; }
};

// What one encoder call handed out: the NAL units of one coded picture (the
// parameter sets and SEI before it included).
struct X264Picture {
    std::vector<X264Nal> nals;
    bool idr = false;
};

struct X264Stream {
    int width = 176;
    int height = 144;
    std::vector<std::uint8_t> yuv;     // the source pictures, back to back
    std::vector<X264Picture> pictures; // coded pictures in stream order

    std::vector<std::uint8_t> bytes() const;  // the Annex B stream
    int nalUnits() const;
    int mbCount() const { return ((width + 15) / 16) * ((height + 15) / 16); }
    std::size_t frameBytes() const { return std::size_t(width) * std::size_t(height) * 3 / 2; }
};

// Throws std::runtime_error when libx264 refuses the options.
X264Stream encodeX264Stream(const X264StreamOptions& options);

} // namespace kestrune::testing
