#include "tests/support/x264_stream.h"

#include "tools/sample/sample_sequence.h"

#include <cmath>
#include <cstring>
#include <span>
#include <stdexcept>

extern "C" {
#include <x264.h>
}

namespace kestrune::testing {

void renderPattern(int width, int height, int index, std::uint8_t* frame)
{
    std::uint8_t* luma = frame;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            *luma++ = static_cast<std::uint8_t>((x * 3 + y * 2 + index * 5) ^ (x * y / 7));
    std::uint8_t* chroma = frame + std::size_t(width) * height;
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < height / 2; ++y)
            for (int x = 0; x < width / 2; ++x) *chroma++ = static_cast<std::uint8_t>(128 + ((x + index * p) % 32) - 16);
}

void renderSample(int width, int height, int index, std::uint8_t* frame)
{
    renderSampleFrame({width, height}, index, {frame, yuv420FrameBytes(width, height)});
}

void renderSmooth(int width, int height, int index, std::uint8_t* frame)
{
    auto wave = [index](double x, double y, double scale) {
        return 128 + scale * std::sin((x + 1.5 * index) / 13.0) * std::cos((y + 0.75 * index) / 17.0);
    };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) frame[y * width + x] = std::uint8_t(std::lround(wave(x, y, 90)));
    std::uint8_t* chroma = frame + std::size_t(width) * height;
    for (int plane = 0; plane < 2; ++plane)
        for (int y = 0; y < height / 2; ++y)
            for (int x = 0; x < width / 2; ++x) *chroma++ = std::uint8_t(std::lround(wave(2 * x + 40 * plane, 2 * y, 30)));
}

std::vector<std::uint8_t> X264Stream::bytes() const
{
    std::vector<std::uint8_t> out;
    for (const X264Picture& picture : pictures)
        for (const X264Nal& nal : picture.nals) out.insert(out.end(), nal.bytes.begin(), nal.bytes.end());
    return out;
}

int X264Stream::nalUnits() const
{
    int count = 0;
    for (const X264Picture& picture : pictures) count += int(picture.nals.size());
    return count;
}

namespace {

x264_param_t parameters(const X264StreamOptions& o)
{
    x264_param_t param;
    if (x264_param_default_preset(&param, o.preset.c_str(), nullptr) < 0) throw std::runtime_error("x264 preset");
    param.i_width = o.width;
    param.i_height = o.height;
    param.i_csp = o.chroma444 ? X264_CSP_I444 : X264_CSP_I420;
    param.i_fps_num = 25;
    param.i_fps_den = 1;
    param.i_threads = 1;
    param.i_log_level = X264_LOG_NONE;
    param.b_annexb = 1;
    param.b_repeat_headers = 1;
    param.b_aud = o.aud;
    if (o.bframes) param.i_bframe = *o.bframes;
    if (o.slices) param.i_slice_count = *o.slices;
    if (o.cabac) param.b_cabac = *o.cabac;
    param.b_interlaced = o.interlaced;
    if (o.refs) param.i_frame_reference = *o.refs;
    param.i_keyint_max = o.keyint;
    param.i_keyint_min = o.keyintMin;
    param.i_scenecut_threshold = o.scenecut;
    if (o.motionSearch) param.analyse.i_me_method = *o.motionSearch;
    if (o.allPartitions)
        param.analyse.inter = *o.allPartitions ? X264_ANALYSE_I4x4 | X264_ANALYSE_PSUB16x16 | X264_ANALYSE_PSUB8x8 : 0;
    if (o.deblock) param.b_deblocking_filter = *o.deblock;
    param.i_deblocking_filter_alphac0 = o.deblockAlpha;
    param.i_deblocking_filter_beta = o.deblockBeta;
    param.b_constrained_intra = o.constrainedIntra;
    if (o.chromaQpOffset) param.analyse.i_chroma_qp_offset = *o.chromaQpOffset;
    if (o.qp) {
        param.rc.i_rc_method = X264_RC_CQP;
        param.rc.i_qp_constant = *o.qp;
    }
    if (!o.weightedPrediction) param.analyse.i_weighted_pred = X264_WEIGHTP_NONE;
    param.analyse.b_weighted_bipred = o.weightedBipred;
    param.b_intra_refresh = o.intraRefresh;
    if (o.bPyramid) param.i_bframe_pyramid = *o.bPyramid;
    param.b_open_gop = o.openGop;
    if (o.hrd) {
        param.i_nal_hrd = X264_NAL_HRD_VBR;
        param.b_pic_struct = 1;
        param.rc.i_rc_method = X264_RC_ABR;
        param.rc.i_bitrate = 300;
        param.rc.i_vbv_max_bitrate = 300;
        param.rc.i_vbv_buffer_size = 600;
    }
    if (!o.profile.empty() && x264_param_apply_profile(&param, o.profile.c_str()) < 0)
        throw std::runtime_error("x264 profile " + o.profile);
    return param;
}

} // namespace

X264Stream encodeX264Stream(const X264StreamOptions& o)
{
    x264_param_t param = parameters(o);
    x264_t* encoder = x264_encoder_open(&param);
    if (!encoder) throw std::runtime_error("libx264 refused the test settings");

    X264Stream stream;
    stream.width = o.width;
    stream.height = o.height;
    x264_picture_t input, output;
    x264_picture_alloc(&input, param.i_csp, o.width, o.height);
    const std::size_t frameBytes = stream.frameBytes();
    stream.yuv.resize(frameBytes * std::size_t(o.frames));
    auto collect = [&](x264_nal_t* nals, int count) {
        if (count <= 0) return;
        X264Picture picture;
        for (int i = 0; i < count; ++i) {
            X264Nal nal;
            nal.bytes.assign(nals[i].p_payload, nals[i].p_payload + nals[i].i_payload);
            nal.type = nals[i].i_type;
            if (nal.isSlice()) {  // libx264 leaves these unset on other NAL units
                nal.firstMb = nals[i].i_first_mb;
                nal.lastMb = nals[i].i_last_mb;
            }
            picture.idr |= nal.type == NAL_SLICE_IDR;
            picture.nals.push_back(std::move(nal));
        }
        stream.pictures.push_back(std::move(picture));
    };
    x264_nal_t* nals = nullptr;
    int count = 0;
    for (int n = 0; n < o.frames; ++n) {
        std::uint8_t* frame = stream.yuv.data() + frameBytes * std::size_t(n);
        o.picture(o.width, o.height, o.firstPicture + n, frame);
        const std::uint8_t* source = frame;
        for (int p = 0; p < 3; ++p) {
            const int w = p ? o.width / 2 : o.width;
            const int h = p ? o.height / 2 : o.height;
            for (int y = 0; y < h; ++y)
                std::memcpy(input.img.plane[p] + y * input.img.i_stride[p], source + std::size_t(y) * w, std::size_t(w));
            if (p && o.chroma444)
                for (int y = o.height - 1; y >= 0; --y)
                    for (int x = o.width - 1; x >= 0; --x)
                        input.img.plane[p][y * input.img.i_stride[p] + x] = input.img.plane[p][(y / 2) * input.img.i_stride[p] + x / 2];
            source += std::size_t(w) * h;
        }
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

} // namespace kestrune::testing
