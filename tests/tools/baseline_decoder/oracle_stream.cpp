#include "tests/tools/baseline_decoder/oracle_stream.h"

#include "tools/sample/sample_sequence.h"

#include <cstring>
#include <stdexcept>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <x264.h>
}

namespace kestrune::codec::testing {

std::vector<std::uint8_t> encodeBaseline(const BaselineEncodeSettings& s)
{
    x264_param_t param;
    if (x264_param_default_preset(&param, "medium", nullptr) < 0) throw std::runtime_error("x264 preset");
    param.i_width = s.width;
    param.i_height = s.height;
    param.i_csp = X264_CSP_I420;
    param.i_fps_num = 25;
    param.i_fps_den = 1;
    param.i_threads = 1;
    param.i_log_level = X264_LOG_NONE;
    param.b_annexb = 1;
    param.b_repeat_headers = 1;
    param.i_slice_count = s.slices;
    param.i_frame_reference = s.refs;
    param.analyse.i_me_method = s.me;
    param.analyse.inter = s.partitions ? (X264_ANALYSE_I4x4 | X264_ANALYSE_PSUB16x16 | X264_ANALYSE_PSUB8x8) : 0;
    param.analyse.b_mixed_references = 1;
    param.rc.i_rc_method = X264_RC_CQP;
    param.rc.i_qp_constant = s.qp;
    param.i_keyint_max = s.keyint;
    param.i_keyint_min = 1;
    param.b_deblocking_filter = s.deblock;
    param.i_deblocking_filter_alphac0 = s.deblockAlpha;
    param.i_deblocking_filter_beta = s.deblockBeta;
    param.b_constrained_intra = s.constrainedIntra;
    if (x264_param_apply_profile(&param, "baseline") < 0) throw std::runtime_error("x264 profile");
    x264_t* encoder = x264_encoder_open(&param);
    if (!encoder) throw std::runtime_error("x264 open");
    x264_picture_t pic;
    x264_picture_alloc(&pic, X264_CSP_I420, s.width, s.height);
    std::vector<std::uint8_t> frame(yuv420FrameBytes(s.width, s.height));
    std::vector<std::uint8_t> out;
    x264_nal_t* nals = nullptr;
    int count = 0;
    x264_picture_t picOut;
    auto append = [&] {
        for (int i = 0; i < count; ++i) out.insert(out.end(), nals[i].p_payload, nals[i].p_payload + nals[i].i_payload);
    };
    for (int f = 0; f < s.frames; ++f) {
        renderSampleFrame({s.width, s.height}, s.firstFrame + f, frame);
        const std::uint8_t* src = frame.data();
        for (int p = 0; p < 3; ++p) {
            const int w = p ? s.width / 2 : s.width;
            const int h = p ? s.height / 2 : s.height;
            for (int y = 0; y < h; ++y) std::memcpy(pic.img.plane[p] + y * pic.img.i_stride[p], src + y * w, static_cast<std::size_t>(w));
            src += static_cast<std::size_t>(w) * h;
        }
        pic.i_pts = f;
        if (x264_encoder_encode(encoder, &nals, &count, &pic, &picOut) < 0) throw std::runtime_error("x264 encode");
        append();
    }
    while (x264_encoder_delayed_frames(encoder) > 0) {
        if (x264_encoder_encode(encoder, &nals, &count, nullptr, &picOut) < 0) throw std::runtime_error("x264 flush");
        append();
    }
    x264_picture_clean(&pic);
    x264_encoder_close(encoder);
    return out;
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
