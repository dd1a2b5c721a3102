#include "tests/tools/decode/test_stream.h"

#include "tools/sample/sample_sequence.h"

extern "C" {
#include <x264.h>
}

#include <cmath>
#include <random>
#include <stdexcept>

namespace kestrune::decode::test {

namespace {

void renderSmoothFrame(int width, int height, int index, std::uint8_t* frame)
{
    auto wave = [index](double x, double y, double scale) {
        return 128 + scale * std::sin((x + 1.5 * index) / 13.0) * std::cos((y + 0.75 * index) / 17.0);
    };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) frame[y * width + x] = std::uint8_t(std::lround(wave(x, y, 90)));
    std::uint8_t* chroma = frame + width * height;
    for (int plane = 0; plane < 2; ++plane)
        for (int y = 0; y < height / 2; ++y)
            for (int x = 0; x < width / 2; ++x)
                *chroma++ = std::uint8_t(std::lround(wave(2 * x + 40 * plane, 2 * y, 30)));
}

} // namespace

TestStream encodeTestStream(int frames, int slices, int keyint, Content content, int width, int height, bool baseline)
{
    TestStream stream;
    stream.width = width;
    stream.height = height;
    x264_param_t param;
    x264_param_default_preset(&param, "veryfast", nullptr);
    param.i_width = stream.width;
    param.i_height = stream.height;
    param.i_csp = X264_CSP_I420;
    param.i_threads = 1;
    param.i_bframe = 0;
    param.i_frame_reference = 1;
    param.b_repeat_headers = 1;
    param.b_annexb = 1;
    param.i_slice_count = slices;
    param.i_keyint_max = keyint;
    param.i_keyint_min = keyint;
    param.i_scenecut_threshold = 0;
    param.rc.i_rc_method = X264_RC_CQP;
    param.rc.i_qp_constant = 28;
    param.analyse.i_weighted_pred = X264_WEIGHTP_NONE; // as the workbench's encoder
    param.i_log_level = X264_LOG_NONE;
    if (baseline && x264_param_apply_profile(&param, "baseline") < 0) throw std::runtime_error("libx264 baseline");
    x264_t* encoder = x264_encoder_open(&param);
    if (!encoder) throw std::runtime_error("libx264 refused the test settings");

    x264_picture_t input, output;
    x264_picture_alloc(&input, X264_CSP_I420, stream.width, stream.height);
    const std::size_t frameBytes = stream.frameBytes();
    stream.yuv.resize(frameBytes * std::size_t(frames));
    auto collect = [&](x264_nal_t* nals, int count) {
        if (count <= 0) return;
        TestPicture picture;
        for (int i = 0; i < count; ++i) {
            TestNal nal;
            nal.bytes.assign(nals[i].p_payload, nals[i].p_payload + nals[i].i_payload);
            nal.type = nals[i].i_type;
            nal.firstMb = nals[i].i_first_mb;
            nal.lastMb = nals[i].i_last_mb;
            picture.idr |= nal.type == 5;
            picture.nals.push_back(std::move(nal));
        }
        stream.pictures.push_back(std::move(picture));
    };
    x264_nal_t* nals = nullptr;
    int count = 0;
    for (int n = 0; n < frames; ++n) {
        std::uint8_t* frame = stream.yuv.data() + frameBytes * std::size_t(n);
        if (content == Content::Smooth) renderSmoothFrame(stream.width, stream.height, n, frame);
        else renderSampleFrame({stream.width, stream.height}, n, {frame, frameBytes});
        const std::size_t luma = std::size_t(stream.width * stream.height);
        std::copy(frame, frame + luma, input.img.plane[0]);
        std::copy(frame + luma, frame + luma * 5 / 4, input.img.plane[1]);
        std::copy(frame + luma * 5 / 4, frame + luma * 3 / 2, input.img.plane[2]);
        input.i_pts = n;
        if (x264_encoder_encode(encoder, &nals, &count, &input, &output) < 0) throw std::runtime_error("libx264 failed");
        collect(nals, count);
    }
    while (x264_encoder_delayed_frames(encoder) > 0) {
        if (x264_encoder_encode(encoder, &nals, &count, nullptr, &output) < 0) throw std::runtime_error("libx264 failed");
        collect(nals, count);
    }
    x264_picture_clean(&input);
    x264_encoder_close(encoder);
    return stream;
}

DamagedStream damage(const TestStream& stream, const std::function<bool(int, const TestNal&)>& drop)
{
    DamagedStream damaged;
    for (std::size_t p = 0; p < stream.pictures.size(); ++p) {
        std::vector<bool> lost(std::size_t(stream.mbCount()), false);
        bool anySlice = false;
        for (const TestNal& nal : stream.pictures[p].nals) {
            if (drop(int(p), nal)) {
                if (nal.isSlice())
                    for (int mb = nal.firstMb; mb <= nal.lastMb; ++mb) lost[std::size_t(mb)] = true;
                continue;
            }
            anySlice |= nal.isSlice();
            damaged.bytes.insert(damaged.bytes.end(), nal.bytes.begin(), nal.bytes.end());
        }
        damaged.lostMbs.push_back(std::move(lost));
        damaged.pictureGone.push_back(!anySlice);
    }
    return damaged;
}

DamagedStream dropSlicesAtRandom(const TestStream& stream, double rate, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> draw(0.0, 1.0);
    return damage(stream, [&](int, const TestNal& nal) { return nal.isSlice() && draw(random) < rate; });
}

} // namespace kestrune::decode::test
