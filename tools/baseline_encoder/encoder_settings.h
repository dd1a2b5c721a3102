#pragma once
// What our Baseline encoder is asked to do: a plain value, filled by the
// command line of the encode tool or by tests.
namespace kestrune::codec {

enum class RateMode { ConstantQp, ConstantQuality, Bitrate };
enum class SearchPattern { Diamond, Hexagon, UnevenMultiHexagon };

struct EncoderSettings {
    int width = 0;   // luma samples; need not be a multiple of 16 (cropping)
    int height = 0;
    int fps = 25;

    int sliceGroups = 1;  // 1..8
    int mapType = 1;      // slice_group_map_type 0..6 (used when sliceGroups > 1)
    int slices = 1;       // slices per slice group and picture, equal in macroblocks
    int maxSliceBytes = 0; // > 0: a slice ends before a macroblock that would make its NAL unit larger

    RateMode rateMode = RateMode::ConstantQuality;
    int qp = 26;            // ConstantQp
    int quality = 23;       // ConstantQuality: the rate factor
    int bitrateKbps = 0;    // Bitrate

    int minKeyint = 0;  // 0: automatic (a tenth of keyint)
    int keyint = 250;   // 0: no periodic IDR picture
    int scenecut = 40;  // 0: no scene-change test

    SearchPattern search = SearchPattern::Hexagon;
    int meRange = 16;
    bool chromaMe = true;
    int references = 1;  // 1..16
    bool mixedRefs = true;
    bool intra4x4 = true;
    bool p8x8 = true;  // 16x8, 8x16 and 8x8
    bool p4x4 = false; // 8x4, 4x8 and 4x4 inside 8x8

    bool deblocking = true;
};

} // namespace kestrune::codec
