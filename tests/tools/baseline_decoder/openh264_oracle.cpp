// OpenH264 apart from libx264: their headers declare the same enumerators.
#include "tests/tools/baseline_decoder/oracle_stream.h"

#include <stdexcept>

#include <wels/codec_api.h>

namespace kestrune::codec::testing {

std::vector<std::uint8_t> decodeWithOpenH264(const std::vector<std::vector<std::uint8_t>>& accessUnits)
{
    ISVCDecoder* decoder = nullptr;
    if (WelsCreateDecoder(&decoder) != 0 || !decoder) throw std::runtime_error("OpenH264 decoder");
    SDecodingParam param{};
    param.eEcActiveIdc = ERROR_CON_SLICE_COPY;
    param.sVideoProperty.eVideoBsType = VIDEO_BITSTREAM_DEFAULT;
    if (decoder->Initialize(&param) != 0) throw std::runtime_error("OpenH264 initialise");
    int logLevel = WELS_LOG_QUIET;
    decoder->SetOption(DECODER_OPTION_TRACE_LEVEL, &logLevel);
    std::vector<std::uint8_t> yuv;
    for (const auto& unit : accessUnits) {
        unsigned char* planes[3] = {nullptr, nullptr, nullptr};
        SBufferInfo info{};
        decoder->DecodeFrameNoDelay(unit.data(), static_cast<int>(unit.size()), planes, &info);
        if (info.iBufferStatus != 1) continue;
        const int width = info.UsrData.sSystemBuffer.iWidth;
        const int height = info.UsrData.sSystemBuffer.iHeight;
        for (int p = 0; p < 3; ++p) {
            const int stride = info.UsrData.sSystemBuffer.iStride[p ? 1 : 0];
            for (int y = 0; y < (p ? height / 2 : height); ++y)
                yuv.insert(yuv.end(), planes[p] + y * stride, planes[p] + y * stride + (p ? width / 2 : width));
        }
    }
    decoder->Uninitialize();
    WelsDestroyDecoder(decoder);
    return yuv;
}

} // namespace kestrune::codec::testing
