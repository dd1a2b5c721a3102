#pragma once
// The SSE2 versions of the kernels of kernels.h, same contracts.
#include "tools/codec/kernels.h"

namespace kestrune::codec::sse2 {
KESTRUNE_CODEC_KERNELS(KESTRUNE_CODEC_KERNEL_DECLARATION)
} // namespace kestrune::codec::sse2
