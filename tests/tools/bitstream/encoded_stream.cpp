#include "tests/tools/bitstream/encoded_stream.h"

#include <cstring>
#include <stdexcept>

extern "C" {
#include <x264.h>
}

namespace kestrune::h264::testing {
namespace {

void fillPicture(x264_picture_t& pic, int width, int height, int frame)
{
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pic.img.plane[0][y * pic.img.i_stride[0] + x] = static_cast<std::uint8_t>((x * 3 + y * 2 + frame * 5) ^ (x * y / 7));
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < height / 2; ++y)
            for (int x = 0; x < width / 2; ++x)
                pic.img.plane[p][y * pic.img.i_stride[p] + x] = static_cast<std::uint8_t>(128 + ((x + frame * p) % 32) - 16);
}

void append(EncodedStream& out, x264_nal_t* nals, int count)
{
    for (int i = 0; i < count; ++i) {
        out.bytes.insert(out.bytes.end(), nals[i].p_payload, nals[i].p_payload + nals[i].i_payload);
        ++out.nalUnits;
    }
}

} // namespace

EncodedStream encodeTestStream(const EncodeOptions& o)
{
    x264_param_t param;
    if (x264_param_default_preset(&param, "veryfast", nullptr) < 0) throw std::runtime_error("x264 preset");
    param.i_width = o.width;
    param.i_height = o.height;
    param.i_csp = X264_CSP_I420;
    param.i_fps_num = 25;
    param.i_fps_den = 1;
    param.i_threads = 1;
    param.i_log_level = X264_LOG_NONE;
    param.b_annexb = 1;
    param.b_repeat_headers = 1;
    param.b_aud = o.aud;
    param.i_bframe = o.bframes;
    param.i_slice_count = o.slices;
    param.b_cabac = o.cabac;
    param.b_interlaced = o.interlaced;
    param.i_keyint_max = o.keyint;
    param.i_keyint_min = 1;
    param.i_scenecut_threshold = 0;
    if (o.hrd) {
        param.i_nal_hrd = X264_NAL_HRD_VBR;
        param.b_pic_struct = 1;
        param.rc.i_rc_method = X264_RC_ABR;
        param.rc.i_bitrate = 300;
        param.rc.i_vbv_max_bitrate = 300;
        param.rc.i_vbv_buffer_size = 600;
    }
    if (x264_param_apply_profile(&param, o.cabac ? "high" : "baseline") < 0 && o.cabac)
        throw std::runtime_error("x264 profile");
    if (!o.cabac) param.i_bframe = 0;
    x264_t* encoder = x264_encoder_open(&param);
    if (!encoder) throw std::runtime_error("x264 open");
    x264_picture_t pic;
    x264_picture_alloc(&pic, X264_CSP_I420, o.width, o.height);
    EncodedStream out;
    x264_nal_t* nals = nullptr;
    int count = 0;
    x264_picture_t picOut;
    for (int f = 0; f < o.frames; ++f) {
        fillPicture(pic, o.width, o.height, f);
        pic.i_pts = f;
        if (x264_encoder_encode(encoder, &nals, &count, &pic, &picOut) < 0) throw std::runtime_error("x264 encode");
        if (count > 0) ++out.frames;
        append(out, nals, count);
    }
    while (x264_encoder_delayed_frames(encoder) > 0) {
        if (x264_encoder_encode(encoder, &nals, &count, nullptr, &picOut) < 0) throw std::runtime_error("x264 flush");
        if (count > 0) ++out.frames;
        append(out, nals, count);
    }
    x264_picture_clean(&pic);
    x264_encoder_close(encoder);
    return out;
}

} // namespace kestrune::h264::testing
