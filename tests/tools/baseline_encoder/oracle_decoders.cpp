#include "tests/tools/baseline_encoder/oracle_decoders.h"

#include "tools/baseline_decoder/baseline_decoder.h"

#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}
#include <wels/codec_api.h>

namespace kestrune::testing {
namespace {

void appendPlane(Frame& out, const std::uint8_t* data, int stride, int width, int height)
{
    for (int y = 0; y < height; ++y) out.insert(out.end(), data + static_cast<std::ptrdiff_t>(y) * stride, data + static_cast<std::ptrdiff_t>(y) * stride + width);
}

} // namespace

std::vector<Frame> decodeWithLibavcodec(const AccessUnits& units, int width, int height)
{
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (!codec) throw std::runtime_error("libavcodec has no H.264 decoder");
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> context(avcodec_alloc_context3(codec),
                                                                        [](AVCodecContext* c) { avcodec_free_context(&c); });
    context->thread_count = 1;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) throw std::runtime_error("cannot open libavcodec's H.264 decoder");
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet(av_packet_alloc(), [](AVPacket* p) { av_packet_free(&p); });
    std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
    std::vector<Frame> frames;
    auto drain = [&] {
        while (avcodec_receive_frame(context.get(), frame.get()) == 0) {
            if (frame->width != width || frame->height != height)
                throw std::runtime_error("libavcodec decoded a picture of another size");
            Frame out;
            appendPlane(out, frame->data[0], frame->linesize[0], width, height);
            appendPlane(out, frame->data[1], frame->linesize[1], width / 2, height / 2);
            appendPlane(out, frame->data[2], frame->linesize[2], width / 2, height / 2);
            frames.push_back(std::move(out));
        }
    };
    for (const auto& unit : units) {
        std::vector<std::uint8_t> padded(unit);
        padded.resize(unit.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        packet->data = padded.data();
        packet->size = static_cast<int>(unit.size());
        if (avcodec_send_packet(context.get(), packet.get()) < 0) throw std::runtime_error("libavcodec refused an access unit");
        drain();
    }
    avcodec_send_packet(context.get(), nullptr);
    drain();
    return frames;
}

std::vector<Frame> decodeWithOurDecoder(const AccessUnits& units, int width, int height)
{
    std::vector<Frame> frames;
    codec::BaselineDecoder decoder([&](codec::DecodedPicture& picture) {
        if (picture.width != width || picture.height != height) throw std::runtime_error("our decoder decoded a picture of another size");
        Frame out;
        for (int p = 0; p < 3; ++p) {
            const codec::ConstPlaneView plane = std::as_const(*picture.picture).plane(p);
            const int shift = p == 0 ? 0 : 1;
            appendPlane(out, plane.row(picture.cropTop >> shift) + (picture.cropLeft >> shift), plane.stride, width >> shift,
                        height >> shift);
        }
        frames.push_back(std::move(out));
    });
    for (const auto& unit : units) {
        // Annex B: NAL units after 00 00 01 start codes.
        std::size_t at = 0;
        auto nextStart = [&](std::size_t from) {
            for (std::size_t i = from; i + 2 < unit.size(); ++i)
                if (unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1) return i;
            return unit.size();
        };
        at = nextStart(0);
        while (at < unit.size()) {
            const std::size_t begin = at + 3;
            std::size_t end = nextStart(begin);
            const std::size_t next = end;
            while (end > begin && unit[end - 1] == 0) --end;
            decoder.decodeNalUnit(std::span(unit).subspan(begin, end - begin));
            at = next;
        }
        decoder.finishPicture();
    }
    return frames;
}

std::vector<Frame> decodeWithOpenH264(const AccessUnits& units, int width, int height)
{
    ISVCDecoder* decoder = nullptr;
    if (WelsCreateDecoder(&decoder) != 0 || !decoder) throw std::runtime_error("cannot create the OpenH264 decoder");
    std::unique_ptr<ISVCDecoder, void (*)(ISVCDecoder*)> owner(decoder, [](ISVCDecoder* d) {
        d->Uninitialize();
        WelsDestroyDecoder(d);
    });
    SDecodingParam param{};
    param.sVideoProperty.eVideoBsType = VIDEO_BITSTREAM_AVC;
    param.eEcActiveIdc = ERROR_CON_SLICE_COPY;
    if (decoder->Initialize(&param) != 0) throw std::runtime_error("cannot initialise the OpenH264 decoder");
    int level = WELS_LOG_QUIET;
    decoder->SetOption(DECODER_OPTION_TRACE_LEVEL, &level);
    std::vector<Frame> frames;
    for (const auto& unit : units) {
        std::uint8_t* planes[3] = {nullptr, nullptr, nullptr};
        SBufferInfo info{};
        decoder->DecodeFrameNoDelay(unit.data(), static_cast<int>(unit.size()), planes, &info);
        if (info.iBufferStatus != 1) continue;
        const SSysMEMBuffer& buffer = info.UsrData.sSystemBuffer;
        if (width && (buffer.iWidth != width || buffer.iHeight != height))
            throw std::runtime_error("OpenH264 decoded a picture of another size");
        const int w = buffer.iWidth, h = buffer.iHeight;
        Frame out;
        appendPlane(out, planes[0], buffer.iStride[0], w, h);
        appendPlane(out, planes[1], buffer.iStride[1], w / 2, h / 2);
        appendPlane(out, planes[2], buffer.iStride[1], w / 2, h / 2);
        frames.push_back(std::move(out));
    }
    return frames;
}

} // namespace kestrune::testing
