#pragma once
// The SSE2 versions of the kernels of kernels.h, same contracts.
#include "tools/codec/kernels.h"

namespace kestrune::codec::sse2 {

void filterLumaEdge(std::uint8_t* q0, int sampleStep, int lineStep, std::uint32_t bS, const EdgeThresholds& t);
void filterLumaInnerVerticalEdges(std::uint8_t* origin, int stride, const std::uint32_t bS[4], const EdgeThresholds& t);
void filterChromaEdges(std::uint8_t* cb, std::uint8_t* cr, int sampleStep, int lineStep, std::uint32_t bS,
                       const EdgeThresholds& t);
void interEdgeStrengths(const MacroblockState& left, const MacroblockState& top, const MacroblockState& q,
                        unsigned codedV, unsigned codedH, MacroblockEdgeStrengths& out);
void inverseTransformAdd4x4(const std::int32_t d[16], std::uint8_t* dst, int dstStride, const std::uint8_t* pred,
                            int predStride);
void addDcResidual4x4(std::int32_t dc, std::uint8_t* dst, int dstStride, const std::uint8_t* pred, int predStride);
void scaleLevels4x4(std::int32_t block[16], const std::int16_t normAdjust[16], int shift);
void lumaFractional(const std::uint8_t* g, int gs, int xFrac, int yFrac, int w, int h, std::uint8_t* dst,
                    int dstStride);
void chromaFractional(const std::uint8_t* src, int srcStride, int w, int h, int xFrac, int yFrac, std::uint8_t* dst,
                      int dstStride);
void chromaPairFractional(const std::uint8_t* cb, const std::uint8_t* cr, int srcStride, int w, int h, int xFrac,
                          int yFrac, std::uint8_t* dstCb, std::uint8_t* dstCr, int dstStride);

} // namespace kestrune::codec::sse2
