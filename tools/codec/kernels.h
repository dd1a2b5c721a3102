#pragma once
// The pixel kernels of the codec as one table of functions. Each kernel has a
// plain C++ version beside the clause it computes (namespace plain, in the
// clause's file) and may have a vector version under x86/. One table is
// chosen once, at the first call: the vector one where the build has it and
// the processor runs it, unless the environment variable
// KESTRUNE_CODEC_KERNELS is "plain" (to run, or test, everything on the
// plain kernels). The clause functions (deblocking.h, transform.h, ...) call
// through the chosen table; kernels_test compares every vector kernel with
// its plain version.
#include <cstdint>

#include "tools/codec/deblocking.h"
#include "tools/codec/macroblock_state.h"

namespace kestrune::codec {

// Filter thresholds of one edge (clause 8.7.2.2): alpha and beta at
// indexA/indexB (both above 0 when a kernel is called) and tC0 for bS 1..3
// at indexA.
struct EdgeThresholds {
    int alpha = 0;
    int beta = 0;
    std::uint8_t tc0[3] = {};
};

// Table 8-16/8-17 at indexA, indexB (0..51).
EdgeThresholds edgeThresholds(int indexA, int indexB);

// The kernels' signatures. Deblocking (clauses 8.7.2.1-8.7.2.4): bS holds
// the four segments' strengths, segment k in bits 8k..8k+7; q0 points at q0
// of the first line, p0 is at q0 - sampleStep, line i at q0 + i * lineStep.
namespace kernel {
using FilterLumaEdge = void(std::uint8_t* q0, int sampleStep, int lineStep, std::uint32_t bS, const EdgeThresholds& t);
// Vertical luma edges 1..3 of the macroblock at origin (bS[1..3], each
// segment 0..3 as inside a macroblock; bS[0] unused).
using FilterLumaInnerVerticalEdges = void(std::uint8_t* origin, int stride, const std::uint32_t bS[4],
                                          const EdgeThresholds& t);
// One chroma edge of both planes (8 lines each); cb and cr may be the same edge.
using FilterChromaEdges = void(std::uint8_t* cb, std::uint8_t* cr, int sampleStep, int lineStep, std::uint32_t bS,
                               const EdgeThresholds& t);
// bS 2 / 1 / 0 of every edge segment of the inter macroblock q: left and top
// are the macroblocks across edge 0 (q itself where there is none); codedV /
// codedH bit 4e + k marks segment k of edge e as having coefficients on
// either side.
using InterEdgeStrengths = void(const MacroblockState& left, const MacroblockState& top, const MacroblockState& q,
                                unsigned codedV, unsigned codedH, MacroblockEdgeStrengths& out);
// Transform (transform.h): inverseTransformAdd4x4 and addDcResidual4x4.
using InverseTransformAdd4x4 = void(const std::int32_t d[16], std::uint8_t* dst, int dstStride,
                                    const std::uint8_t* pred, int predStride);
using AddDcResidual4x4 = void(std::int32_t dc, std::uint8_t* dst, int dstStride, const std::uint8_t* pred,
                              int predStride);
// Scaling of clause 8.5.12.1 with flat matrices: every level of the block
// times its normAdjust (raster order, 10..29) << shift (qP / 6), clamped to
// 16 bits, in place.
using ScaleLevels4x4 = void(std::int32_t block[16], const std::int16_t normAdjust[16], int shift);
// Inter prediction (clause 8.4.2.2) from full samples g (stride gs) that
// extend 2 before and 3 after the w x h block (w, h in 4, 8, 16) at
// fractional position (xFrac, yFrac), not both 0.
using LumaFractional = void(const std::uint8_t* g, int gs, int xFrac, int yFrac, int w, int h, std::uint8_t* dst,
                            int dstStride);
// Eighth-sample chroma, w x h (w, h in 2, 4, 8) from src extending one
// sample right and below; (xFrac, yFrac) not both 0.
using ChromaFractional = void(const std::uint8_t* src, int srcStride, int w, int h, int xFrac, int yFrac,
                              std::uint8_t* dst, int dstStride);
// The same for Cb and Cr at once; the sources share a stride, as do the
// destinations.
using ChromaPairFractional = void(const std::uint8_t* cb, const std::uint8_t* cr, int srcStride, int w, int h,
                                  int xFrac, int yFrac, std::uint8_t* dstCb, std::uint8_t* dstCr, int dstStride);
} // namespace kernel

// Every kernel once, as X(signature, name): the table's fields and each
// set's declarations and table are made from this list.
#define KESTRUNE_CODEC_KERNELS(X)                                  \
    X(FilterLumaEdge, filterLumaEdge)                              \
    X(FilterLumaInnerVerticalEdges, filterLumaInnerVerticalEdges)  \
    X(FilterChromaEdges, filterChromaEdges)                        \
    X(InterEdgeStrengths, interEdgeStrengths)                      \
    X(InverseTransformAdd4x4, inverseTransformAdd4x4)              \
    X(AddDcResidual4x4, addDcResidual4x4)                          \
    X(ScaleLevels4x4, scaleLevels4x4)                              \
    X(LumaFractional, lumaFractional)                              \
    X(ChromaFractional, chromaFractional)                          \
    X(ChromaPairFractional, chromaPairFractional)
#define KESTRUNE_CODEC_KERNEL_DECLARATION(Signature, name) kernel::Signature name;
#define KESTRUNE_CODEC_KERNEL_FIELD(Signature, name) kernel::Signature* name;

struct CodecKernels {
    const char* name;
    KESTRUNE_CODEC_KERNELS(KESTRUNE_CODEC_KERNEL_FIELD)
};

// The table in use.
const CodecKernels& codecKernels();
// The plain table, always built.
const CodecKernels& plainKernels();
// The vector table, or nullptr where the build or the processor has none.
const CodecKernels* vectorKernels();

// The plain kernels, each defined in the file of its clause.
namespace plain {
KESTRUNE_CODEC_KERNELS(KESTRUNE_CODEC_KERNEL_DECLARATION)
} // namespace plain

} // namespace kestrune::codec
