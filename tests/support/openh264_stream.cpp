#include "tests/support/openh264_stream.h"

#include <wels/codec_api.h>

#include <memory>
#include <stdexcept>

namespace kestrune::testing {

std::vector<std::uint8_t> encodeOpenH264Stream(const OpenH264StreamOptions& o)
{
    ISVCEncoder* raw = nullptr;
    if (WelsCreateSVCEncoder(&raw) != 0 || !raw) throw std::runtime_error("cannot create the OpenH264 encoder");
    std::unique_ptr<ISVCEncoder, void (*)(ISVCEncoder*)> encoder(raw, [](ISVCEncoder* e) {
        e->Uninitialize();
        WelsDestroySVCEncoder(e);
    });
    SEncParamExt p;
    encoder->GetDefaultParams(&p);
    p.iUsageType = CAMERA_VIDEO_REAL_TIME;
    p.iPicWidth = o.width;
    p.iPicHeight = o.height;
    p.fMaxFrameRate = 25;
    p.iRCMode = RC_QUALITY_MODE;
    p.iTargetBitrate = 400000;
    p.bEnableFrameSkip = false;  // every source picture becomes a coded one
    p.iTemporalLayerNum = o.temporalLayers;
    p.uiIntraPeriod = static_cast<unsigned>(o.intraPeriod);
    p.iNumRefFrame = o.referenceFrames;
    p.bEnableLongTermReference = o.longTermReferences;
    p.eSpsPpsIdStrategy = static_cast<EParameterSetStrategy>(o.parameterSetIds);
    p.bPrefixNalAddingCtrl = o.prefixNal;
    p.iMultipleThreadIdc = 1;
    p.iEntropyCodingModeFlag = 0;
    p.iSpatialLayerNum = o.twoSpatialLayers ? 2 : 1;
    for (int l = 0; l < p.iSpatialLayerNum; ++l) {
        SSpatialLayerConfig& layer = p.sSpatialLayers[l];
        const int scale = p.iSpatialLayerNum - l;  // the last layer has the full size
        layer.iVideoWidth = o.width / scale;
        layer.iVideoHeight = o.height / scale;
        layer.fFrameRate = 25;
        layer.iSpatialBitrate = p.iTargetBitrate / p.iSpatialLayerNum;
        layer.iMaxSpatialBitrate = p.iTargetBitrate * 2;
        layer.uiProfileIdc = l == 0 ? PRO_BASELINE : PRO_SCALABLE_BASELINE;
        layer.sSliceArgument.uiSliceMode = o.slices > 1 ? SM_FIXEDSLCNUM_SLICE : SM_SINGLE_SLICE;
        layer.sSliceArgument.uiSliceNum = static_cast<unsigned>(o.slices);
    }
    if (encoder->InitializeExt(&p) != cmResultSuccess) throw std::runtime_error("OpenH264 refused the test settings");

    const std::size_t lumaBytes = std::size_t(o.width) * std::size_t(o.height);
    std::vector<std::uint8_t> frame(lumaBytes * 3 / 2);
    std::vector<std::uint8_t> out;
    for (int i = 0; i < o.frames; ++i) {
        o.picture(o.width, o.height, i, frame.data());
        SSourcePicture source{};
        source.iColorFormat = videoFormatI420;
        source.iPicWidth = o.width;
        source.iPicHeight = o.height;
        source.iStride[0] = o.width;
        source.iStride[1] = source.iStride[2] = o.width / 2;
        source.pData[0] = frame.data();
        source.pData[1] = frame.data() + lumaBytes;
        source.pData[2] = frame.data() + lumaBytes + lumaBytes / 4;
        source.uiTimeStamp = static_cast<long long>(i) * 40;
        SFrameBSInfo info{};
        if (encoder->EncodeFrame(&source, &info) != cmResultSuccess) throw std::runtime_error("OpenH264 failed to encode");
        if (info.eFrameType == videoFrameTypeSkip) throw std::runtime_error("OpenH264 skipped a picture");
        for (int l = 0; l < info.iLayerNum; ++l) {
            const SLayerBSInfo& coded = info.sLayerInfo[l];
            std::size_t size = 0;
            for (int n = 0; n < coded.iNalCount; ++n) size += std::size_t(coded.pNalLengthInByte[n]);
            out.insert(out.end(), coded.pBsBuf, coded.pBsBuf + size);
        }
    }
    return out;
}

} // namespace kestrune::testing
