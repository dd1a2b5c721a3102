#include "tools/codec/kernels.h"

#include <cstdlib>
#include <cstring>

#if defined(KESTRUNE_CODEC_SSE2)
#include "tools/codec/x86/sse2_kernels.h"
#endif

namespace kestrune::codec {

namespace {

constexpr CodecKernels kPlain = {
    "plain",
    plain::filterLumaEdge,
    plain::filterLumaInnerVerticalEdges,
    plain::filterChromaEdges,
    plain::interEdgeStrengths,
    plain::inverseTransformAdd4x4,
    plain::addDcResidual4x4,
    plain::scaleLevels4x4,
    plain::lumaFractional,
    plain::chromaFractional,
    plain::chromaPairFractional,
};

#if defined(KESTRUNE_CODEC_SSE2)
constexpr CodecKernels kSse2 = {
    "sse2",
    sse2::filterLumaEdge,
    sse2::filterLumaInnerVerticalEdges,
    sse2::filterChromaEdges,
    sse2::interEdgeStrengths,
    sse2::inverseTransformAdd4x4,
    sse2::addDcResidual4x4,
    sse2::scaleLevels4x4,
    sse2::lumaFractional,
    sse2::chromaFractional,
    sse2::chromaPairFractional,
};
#endif

const CodecKernels& chooseKernels()
{
    const char* asked = std::getenv("KESTRUNE_CODEC_KERNELS");
    if (asked && std::strcmp(asked, "plain") == 0) return kPlain;
    const CodecKernels* vector = vectorKernels();
    return vector ? *vector : kPlain;
}

} // namespace

const CodecKernels& plainKernels()
{
    return kPlain;
}

const CodecKernels* vectorKernels()
{
#if defined(KESTRUNE_CODEC_SSE2)
    if (__builtin_cpu_supports("sse2")) return &kSse2;
#endif
    return nullptr;
}

const CodecKernels& codecKernels()
{
    static const CodecKernels& chosen = chooseKernels();
    return chosen;
}

} // namespace kestrune::codec
