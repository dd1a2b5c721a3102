#pragma once
// Real H.264 Baseline streams from a second encoder, OpenH264, encoded
// in-process from a generated picture sequence (tests only). Its streams use
// what libx264's do not: temporal layers (non-reference pictures), long-term
// references, fixed slice counts, parameter set ids that change at IDR pictures.
#include "tests/support/x264_stream.h"

#include <cstdint>
#include <vector>

namespace kestrune::testing {

struct OpenH264StreamOptions {
    int width = 176;
    int height = 144;
    int frames = 24;
    PictureRenderer picture = renderPattern;
    int slices = 1;              // fixed number of slices per picture
    int temporalLayers = 1;      // 1..4; above 1 the top layer's pictures are non-reference
    int referenceFrames = 1;
    int intraPeriod = 0;         // pictures between IDR pictures; 0: only the first
    bool longTermReferences = false;
    int parameterSetIds = 0;     // OpenH264's id strategy: 0 constant, 1 increasing at each IDR, 2/3 listing
    bool prefixNal = false;      // a prefix NAL unit (type 14) before each slice
    bool twoSpatialLayers = false; // a base layer of half the size and the full size as an SVC enhancement layer
};

// The Annex B stream. Throws std::runtime_error when OpenH264 refuses the options.
std::vector<std::uint8_t> encodeOpenH264Stream(const OpenH264StreamOptions& options);

} // namespace kestrune::testing
