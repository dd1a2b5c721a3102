#include "tools/codec/kernels.h"

#include <cstdlib>
#include <cstring>

#if defined(KESTRUNE_CODEC_SSE2)
#include "tools/codec/x86/sse2_kernels.h"
#endif

namespace kestrune::codec {

namespace {

#define KESTRUNE_PLAIN_KERNEL(Signature, name) plain::name,
constexpr CodecKernels kPlain = {"plain", KESTRUNE_CODEC_KERNELS(KESTRUNE_PLAIN_KERNEL)};
#undef KESTRUNE_PLAIN_KERNEL

#if defined(KESTRUNE_CODEC_SSE2)
#define KESTRUNE_SSE2_KERNEL(Signature, name) sse2::name,
constexpr CodecKernels kSse2 = {"sse2", KESTRUNE_CODEC_KERNELS(KESTRUNE_SSE2_KERNEL)};
#undef KESTRUNE_SSE2_KERNEL
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
    __builtin_cpu_init();  // the first call may come from a static initialiser
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
