// The rewritten stream against libx264's own: over the option sets the window
// offers, every picture decodes bit-identically with libavcodec, and the
// numbering fields say what they promise.
#include "tools/encode/encoder.h"
#include "tools/encode/picture_numbering.h"
#include "tools/sample/sample_sequence.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

using namespace kestrune;

namespace {

struct Streams {
    std::vector<std::vector<std::uint8_t>> original;   // one entry per picture, as libx264 handed it over
    std::vector<std::vector<std::uint8_t>> rewritten;
};

Streams encode(const EncodeOptions& options, int frames)
{
    x264_param_t param;
    configureEncoder(options, param);
    param.i_log_level = X264_LOG_NONE;
    param.i_threads = 1;
    x264_t* encoder = x264_encoder_open(&param);
    if (!encoder) throw std::runtime_error("libx264 refused the settings");
    const int w = param.i_width, h = param.i_height;
    std::vector<std::uint8_t> frame(yuv420FrameBytes(w, h));
    x264_picture_t in, out;
    x264_picture_init(&in);
    in.img.i_csp = X264_CSP_I420;
    in.img.i_plane = 3;
    in.img.i_stride[0] = w;
    in.img.i_stride[1] = in.img.i_stride[2] = w / 2;
    in.img.plane[0] = frame.data();
    in.img.plane[1] = frame.data() + w * h;
    in.img.plane[2] = frame.data() + w * h * 5 / 4;
    Streams streams;
    PictureNumbering numbering;
    auto collect = [&](x264_nal_t* nals, int count) {
        if (count <= 0) return;
        streams.original.emplace_back();
        streams.rewritten.emplace_back();
        for (int i = 0; i < count; ++i) {
            streams.original.back().insert(streams.original.back().end(), nals[i].p_payload, nals[i].p_payload + nals[i].i_payload);
            numbering.rewrite({nals[i].p_payload, std::size_t(nals[i].i_payload)}, streams.rewritten.back());
        }
    };
    x264_nal_t* nals = nullptr;
    int count = 0;
    for (int n = 0; n < frames; ++n) {
        renderSampleFrame({w, h}, n, frame);
        in.i_pts = n;
        if (x264_encoder_encode(encoder, &nals, &count, &in, &out) < 0) throw std::runtime_error("libx264 failed");
        collect(nals, count);
    }
    while (x264_encoder_delayed_frames(encoder) > 0) {
        if (x264_encoder_encode(encoder, &nals, &count, nullptr, &out) < 0) throw std::runtime_error("libx264 failed");
        collect(nals, count);
    }
    x264_encoder_close(encoder);
    return streams;
}

// Every frame libavcodec outputs, its planes packed.
std::vector<std::vector<std::uint8_t>> decodeAll(const std::vector<std::vector<std::uint8_t>>& pictures)
{
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->thread_count = 1;
    if (avcodec_open2(context, codec, nullptr) < 0) throw std::runtime_error("cannot open the H.264 decoder");
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<std::vector<std::uint8_t>> frames;
    auto receive = [&] {
        while (avcodec_receive_frame(context, frame) == 0) {
            std::vector<std::uint8_t> packed;
            for (int plane = 0; plane < 3; ++plane) {
                const int pw = plane ? frame->width / 2 : frame->width, ph = plane ? frame->height / 2 : frame->height;
                for (int y = 0; y < ph; ++y)
                    packed.insert(packed.end(), frame->data[plane] + y * frame->linesize[plane],
                                  frame->data[plane] + y * frame->linesize[plane] + pw);
            }
            frames.push_back(std::move(packed));
        }
    };
    for (const auto& picture : pictures) {
        av_new_packet(packet, int(picture.size()));
        std::memcpy(packet->data, picture.data(), picture.size());
        EXPECT_GE(avcodec_send_packet(context, packet), 0);
        av_packet_unref(packet);
        receive();
    }
    avcodec_send_packet(context, nullptr);
    receive();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    return frames;
}

std::vector<EncodeOptions> windowOptionSets()
{
    EncodeOptions base;
    base.size = FrameSize{176, 144};
    base.rateControl = RateControl::Bitrate;
    base.bitrate = 500;
    base.minKeyint = 25;
    base.keyint = 250;
    std::vector<EncodeOptions> sets(9, base);
    sets[1].slices = 4;
    sets[2].keyint = 10;
    sets[2].minKeyint = 10;
    sets[3].maxSliceSize = 300;
    sets[4].references = 4;
    sets[4].partitions.p4x4 = true;
    sets[5].rateControl = RateControl::ConstantQp;
    sets[5].qp = 40;
    sets[5].keyint = 0;  // infinite
    sets[6].scenecut = 0;
    sets[6].keyint = 7;
    sets[6].minKeyint = 1;
    sets[6].slices = 3;
    sets[7].motionEstimation = "umh";
    sets[7].mixedRefs = false;
    sets[7].partitions = {false, true, false, false};
    sets[8].rateControl = RateControl::ConstantRateFactor;
    sets[8].crf = 30;
    sets[8].size = FrameSize{352, 288};
    return sets;
}

} // namespace

TEST(PictureNumbering, RewrittenStreamsDecodeBitIdenticallyOverTheWindowsOptionSets)
{
    constexpr int kFrames = 40;
    int setIndex = 0;
    for (const EncodeOptions& options : windowOptionSets()) {
        SCOPED_TRACE(::testing::Message() << "option set " << setIndex++);
        const Streams streams = encode(options, kFrames);
        ASSERT_EQ(streams.rewritten.size(), std::size_t(kFrames));
        const auto original = decodeAll(streams.original);
        const auto rewritten = decodeAll(streams.rewritten);
        ASSERT_EQ(original.size(), std::size_t(kFrames));
        ASSERT_EQ(rewritten.size(), original.size());
        for (std::size_t i = 0; i < original.size(); ++i) EXPECT_TRUE(rewritten[i] == original[i]) << "frame " << i;

        // What the fields say: frame_num counts pictures since the IDR, idr_pic_id is the IDR's place.
        h264::NalParser parser;
        int idrs = 0, lastIdr = -1;
        for (std::size_t p = 0; p < streams.rewritten.size(); ++p) {
            h264::AnnexBReader reader(streams.rewritten[p]);
            h264::NalUnit unit;
            while (reader.next(unit)) {
                const h264::ParsedNal nal = parser.parse(unit.bytes, unit.clipped());
                ASSERT_TRUE(nal.status.ok()) << nal.status.message;
                if (nal.sps) {
                    EXPECT_EQ(nal.sps->maxFrameNumBits(), 16);
                }
                if (!nal.slice) continue;
                if (nal.header.nal_unit_type == h264::NalIdrSlice) {
                    EXPECT_EQ(nal.slice->idr_pic_id, p) << "picture " << p;
                    if (lastIdr != int(p)) ++idrs;
                    lastIdr = int(p);
                }
                EXPECT_EQ(nal.slice->frame_num, p - std::size_t(lastIdr)) << "picture " << p;
            }
        }
        EXPECT_GE(idrs, 1);
        if (options.keyint == 10) {
            EXPECT_EQ(idrs, 4);
        }
    }
}
