#include "tests/tools/baseline_decoder/oracle_stream.h"

#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

namespace kestrune::codec::testing {

kestrune::testing::X264StreamOptions baselineOracleOptions()
{
    kestrune::testing::X264StreamOptions o;
    o.frames = 20;
    o.picture = kestrune::testing::renderSample;
    o.preset = "medium";
    o.profile = "baseline";
    o.slices = 1;
    o.refs = 1;
    o.qp = 26;
    o.scenecut = 40;
    o.motionSearch = 1;
    o.allPartitions = true;
    return o;
}

std::vector<std::uint8_t> decodeWithLibavcodec(std::span<const std::uint8_t> stream)
{
    av_log_set_level(AV_LOG_QUIET);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->thread_count = 1;
    if (avcodec_open2(context, codec, nullptr) < 0) throw std::runtime_error("avcodec open");
    AVCodecParserContext* parser = av_parser_init(AV_CODEC_ID_H264);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<std::uint8_t> yuv;
    auto receive = [&] {
        while (avcodec_receive_frame(context, frame) == 0) {
            for (int p = 0; p < 3; ++p) {
                const int w = p ? frame->width / 2 : frame->width;
                const int h = p ? frame->height / 2 : frame->height;
                for (int y = 0; y < h; ++y)
                    yuv.insert(yuv.end(), frame->data[p] + y * frame->linesize[p], frame->data[p] + y * frame->linesize[p] + w);
            }
        }
    };
    const std::uint8_t* data = stream.data();
    std::size_t left = stream.size();
    bool flushed = false;
    while (!flushed) {
        flushed = left == 0;  // this call drains the parser
        std::uint8_t* out = nullptr;
        int outSize = 0;
        const int used = av_parser_parse2(parser, context, &out, &outSize, left ? data : nullptr, static_cast<int>(left),
                                          AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        data += used;
        left -= static_cast<std::size_t>(used);
        if (outSize > 0) {
            packet->data = out;
            packet->size = outSize;
            avcodec_send_packet(context, packet);
            receive();
            flushed = false;
        }
    }
    avcodec_send_packet(context, nullptr);
    receive();
    av_frame_free(&frame);
    av_packet_free(&packet);
    av_parser_close(parser);
    avcodec_free_context(&context);
    return yuv;
}

} // namespace kestrune::codec::testing
