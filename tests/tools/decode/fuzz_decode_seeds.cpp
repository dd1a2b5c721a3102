// Writes the seed corpus of the decode fuzz target: small streams from our
// Baseline encoder (every slice group map type, several reference frames),
// from libx264 (several slices and reference frames) and from the slice-group
// test streams (list modification, memory management, redundant slices).
// Usage: fuzz_decode_seeds OUTPUT_DIR
#include "tests/support/x264_stream.h"
#include "tests/tools/baseline_decoder/slice_group_stream.h"
#include "tools/baseline_encoder/baseline_encoder.h"
#include "tools/sample/sample_sequence.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace kestrune;

void writeSeed(const std::filesystem::path& dir, const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(dir / (name + ".264"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + (dir / name).string());
}

std::vector<std::uint8_t> ourEncoderStream(int mapType, int groups, int references, int width, int height, int frames)
{
    codec::EncoderSettings s;
    s.width = width;
    s.height = height;
    s.sliceGroups = groups;
    s.mapType = mapType;
    s.rateMode = codec::RateMode::ConstantQp;
    s.qp = 30;
    s.keyint = 4;
    s.minKeyint = 1;
    s.references = references;
    s.p4x4 = mapType % 2 == 0;
    codec::BaselineEncoder encoder(s);
    std::vector<std::uint8_t> frame(yuv420FrameBytes(width, height));
    std::vector<std::uint8_t> stream;
    for (int f = 0; f < frames; ++f) {
        renderSampleFrame({width, height}, f, frame);
        const codec::EncodedPicture picture = encoder.encode(frame);
        stream.insert(stream.end(), picture.bytes.begin(), picture.bytes.end());
    }
    return stream;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_decode_seeds OUTPUT_DIR\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    try {
        std::filesystem::create_directories(dir);
        for (int type = 0; type <= 6; ++type) {
            const int groups = type >= 3 && type <= 5 ? 2 : 2 + type % 3;
            // Odd sizes on some types: cropping and partial map units.
            const int width = type % 2 ? 56 : 64;
            const int height = type % 3 ? 40 : 48;
            writeSeed(dir, "ours_map" + std::to_string(type), ourEncoderStream(type, groups, 1 + type % 3, width, height, 6));
        }
        writeSeed(dir, "ours_raster", ourEncoderStream(1, 1, 3, 48, 32, 8));

        kestrune::testing::X264StreamOptions x;
        x.width = 64;
        x.height = 48;
        x.frames = 6;
        x.profile = "baseline";
        x.slices = 3;
        x.refs = 3;
        x.keyint = 4;
        x.weightedPrediction = false;
        writeSeed(dir, "x264_slices", kestrune::testing::encodeX264Stream(x).bytes());

        codec::testing::SliceGroupStreamSettings g;
        g.widthInMbs = 4;
        g.heightInMbs = 3;
        g.frames = 9;
        g.refs = 3;
        g.reorder = true;
        g.memoryManagement = true;
        writeSeed(dir, "marking", codec::testing::makeSliceGroupStream(g).bytes);
        g.mapType = 4;
        g.groups = 2;
        g.refs = 1;
        g.reorder = g.memoryManagement = false;
        g.redundantSlices = true;
        g.frames = 4;
        writeSeed(dir, "redundant", codec::testing::makeSliceGroupStream(g).bytes);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz_decode_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
