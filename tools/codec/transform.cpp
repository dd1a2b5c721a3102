#include "tools/codec/transform.h"

#include <algorithm>

#include "tools/codec/kernels.h"
#include "tools/codec/picture.h"

namespace kestrune::codec {

void inverseTransform4x4(std::int32_t b[16])
{
    // Clause 8.5.12.2: rows, then columns, the odd basis functions halved.
    for (int i = 0; i < 4; ++i) {
        std::int32_t* r = b + 4 * i;
        std::int32_t e0 = r[0] + r[2];
        std::int32_t e1 = r[0] - r[2];
        std::int32_t e2 = (r[1] >> 1) - r[3];
        std::int32_t e3 = r[1] + (r[3] >> 1);
        r[0] = e0 + e3;
        r[1] = e1 + e2;
        r[2] = e1 - e2;
        r[3] = e0 - e3;
    }
    for (int j = 0; j < 4; ++j) {
        std::int32_t g0 = b[j] + b[8 + j];
        std::int32_t g1 = b[j] - b[8 + j];
        std::int32_t g2 = (b[4 + j] >> 1) - b[12 + j];
        std::int32_t g3 = b[4 + j] + (b[12 + j] >> 1);
        b[j] = (g0 + g3 + 32) >> 6;
        b[4 + j] = (g1 + g2 + 32) >> 6;
        b[8 + j] = (g1 - g2 + 32) >> 6;
        b[12 + j] = (g0 - g3 + 32) >> 6;
    }
}

void forwardTransform4x4(std::int32_t b[16])
{
    for (int i = 0; i < 4; ++i) {
        std::int32_t* r = b + 4 * i;
        std::int32_t s03 = r[0] + r[3], d03 = r[0] - r[3];
        std::int32_t s12 = r[1] + r[2], d12 = r[1] - r[2];
        r[0] = s03 + s12;
        r[1] = 2 * d03 + d12;
        r[2] = s03 - s12;
        r[3] = d03 - 2 * d12;
    }
    for (int j = 0; j < 4; ++j) {
        std::int32_t s03 = b[j] + b[12 + j], d03 = b[j] - b[12 + j];
        std::int32_t s12 = b[4 + j] + b[8 + j], d12 = b[4 + j] - b[8 + j];
        b[j] = s03 + s12;
        b[4 + j] = 2 * d03 + d12;
        b[8 + j] = s03 - s12;
        b[12 + j] = d03 - 2 * d12;
    }
}

// f = H c H with H = [1 1 1 1; 1 1 -1 -1; 1 -1 -1 1; 1 -1 1 -1] (symmetric).
static void hadamard4x4(std::int32_t b[16])
{
    for (int i = 0; i < 4; ++i) {
        std::int32_t* r = b + 4 * i;
        std::int32_t s01 = r[0] + r[1], d01 = r[0] - r[1];
        std::int32_t s23 = r[2] + r[3], d23 = r[2] - r[3];
        r[0] = s01 + s23;
        r[1] = s01 - s23;
        r[2] = d01 - d23;
        r[3] = d01 + d23;
    }
    for (int j = 0; j < 4; ++j) {
        std::int32_t s01 = b[j] + b[4 + j], d01 = b[j] - b[4 + j];
        std::int32_t s23 = b[8 + j] + b[12 + j], d23 = b[8 + j] - b[12 + j];
        b[j] = s01 + s23;
        b[4 + j] = s01 - s23;
        b[8 + j] = d01 - d23;
        b[12 + j] = d01 + d23;
    }
}

void inverseLumaDcTransform(std::int32_t dc[16])
{
    hadamard4x4(dc);
}

void forwardLumaDcTransform(std::int32_t dc[16])
{
    hadamard4x4(dc);
    for (int i = 0; i < 16; ++i) dc[i] >>= 1;
}

void chromaDcTransform(std::int32_t dc[4])
{
    std::int32_t s0 = dc[0] + dc[1], d0 = dc[0] - dc[1];
    std::int32_t s1 = dc[2] + dc[3], d1 = dc[2] - dc[3];
    dc[0] = s0 + s1;
    dc[1] = d0 + d1;
    dc[2] = s0 - s1;
    dc[3] = d0 - d1;
}

void addResidual4x4(std::uint8_t* dst, int dstStride, const std::uint8_t* pred, int predStride,
                    const std::int32_t residual[16])
{
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            dst[y * dstStride + x] =
                clip1(pred[y * predStride + x] + residual[4 * y + x]);
}

namespace plain {

void inverseTransformAdd4x4(const std::int32_t d[16], std::uint8_t* dst, int dstStride, const std::uint8_t* pred,
                            int predStride)
{
    std::int32_t r[16];
    std::copy(d, d + 16, r);
    inverseTransform4x4(r);
    addResidual4x4(dst, dstStride, pred, predStride, r);
}

void addDcResidual4x4(std::int32_t dc, std::uint8_t* dst, int dstStride, const std::uint8_t* pred, int predStride)
{
    const std::int32_t r = (dc + 32) >> 6;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            dst[y * dstStride + x] = clip1(pred[y * predStride + x] + r);
}

} // namespace plain

void inverseTransformAdd4x4(const std::int32_t d[16], std::uint8_t* dst, int dstStride, const std::uint8_t* pred,
                            int predStride)
{
    codecKernels().inverseTransformAdd4x4(d, dst, dstStride, pred, predStride);
}

void addDcResidual4x4(std::int32_t dc, std::uint8_t* dst, int dstStride, const std::uint8_t* pred, int predStride)
{
    codecKernels().addDcResidual4x4(dc, dst, dstStride, pred, predStride);
}

void subtractPrediction4x4(const std::uint8_t* src, int srcStride, const std::uint8_t* pred, int predStride,
                           std::int32_t out[16])
{
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) out[4 * y + x] = src[y * srcStride + x] - pred[y * predStride + x];
}

} // namespace kestrune::codec
