#include "tools/encode/encoder.h"

#include "tools/common/atomic_output.h"
#include "tools/encode/encode_report.h"
#include "tools/encode/frame_prefetch.h"
#include "tools/encode/picture_numbering.h"
#include "tools/encode/yuv_input.h"

#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

namespace kestrune {
namespace {

const char* logLevelName(int level)
{
    switch (level) {
    case X264_LOG_ERROR: return "error";
    case X264_LOG_WARNING: return "warning";
    case X264_LOG_INFO: return "info";
    default: return "debug";
    }
}

void logLine(const Console& console, int level, const std::string& text)
{
    std::fprintf(stderr, "%s [%s]: %s\n", console.name.c_str(), logLevelName(level), text.c_str());
}

struct LibraryLog {
    const Console* console;
    bool quiet = false;  // after a failure only our one error line is wanted
};

// libx264's messages get our prefix; they already end in a newline. Its
// advice to use tuning options this tool does not have is left out.
void forwardLibraryLog(void* context, int level, const char* format, va_list args)
{
    const auto* log = static_cast<const LibraryLog*>(context);
    const std::string_view text = format;
    if ((log->quiet && level > X264_LOG_ERROR) || text.starts_with("--%s used with psy on")
        || text.starts_with("--tune %s should be used"))
        return;
    std::fprintf(stderr, "%s [%s]: ", log->console->name.c_str(), logLevelName(level));
    std::vfprintf(stderr, format, args);
}

struct EncoderCloser {
    void operator()(x264_t* encoder) const { x264_encoder_close(encoder); }
};

using Clock = std::chrono::steady_clock;

} // namespace

void configureEncoder(const EncodeOptions& o, x264_param_t& p)
{
    x264_param_default(&p);
    const FrameSize size = o.size.value_or(FrameSize{});
    p.i_width = size.width;
    p.i_height = size.height;
    p.i_csp = X264_CSP_I420;
    p.i_fps_num = static_cast<std::uint32_t>(o.fps);
    p.i_fps_den = 1;
    p.i_timebase_num = 1;
    p.i_timebase_den = static_cast<std::uint32_t>(o.fps);
    p.b_vfr_input = 0;
    if (o.frames > 0) p.i_frame_total = o.frames;

    // Fixed for the workbench: its map and concealment know only I and P slices.
    p.i_bframe = 0;
    p.analyse.i_weighted_pred = X264_WEIGHTP_NONE;
    p.b_repeat_headers = 1;
    p.b_annexb = 1;

    switch (o.rateControl) {
    case RateControl::Bitrate:
        p.rc.i_rc_method = X264_RC_ABR;
        p.rc.i_bitrate = o.bitrate;
        break;
    case RateControl::ConstantQp:
        p.rc.i_rc_method = X264_RC_CQP;
        p.rc.i_qp_constant = o.qp;
        break;
    case RateControl::ConstantRateFactor:
        p.rc.i_rc_method = X264_RC_CRF;
        p.rc.f_rf_constant = static_cast<float>(o.crf);
        break;
    }
    p.i_keyint_max = o.keyint == 0 ? X264_KEYINT_MAX_INFINITE : o.keyint;
    p.i_keyint_min = o.minKeyint;  // 0 lets libx264 choose
    p.i_scenecut_threshold = o.scenecut;

    p.analyse.b_psnr = o.psnr;
    p.analyse.b_ssim = o.ssim;

    p.i_slice_count = o.slices;
    p.i_slice_max_size = o.maxSliceSize;

    p.analyse.i_me_method = motionEstimationIndex(o.motionEstimation);
    p.analyse.i_me_range = o.meRange;
    p.analyse.b_chroma_me = o.chromaMe;
    p.i_frame_reference = o.references;
    p.analyse.b_mixed_references = o.mixedRefs;

    // The intra choices apply to I pictures as well as to intra macroblocks in P pictures.
    unsigned intra = 0;
    if (o.partitions.i4x4) intra |= X264_ANALYSE_I4x4;
    if (o.partitions.i8x8) intra |= X264_ANALYSE_I8x8;
    unsigned inter = intra;
    if (o.partitions.p8x8) inter |= X264_ANALYSE_PSUB16x16;
    if (o.partitions.p4x4) inter |= X264_ANALYSE_PSUB8x8;
    p.analyse.intra = intra;
    p.analyse.inter = inter;
}

std::vector<std::string> adjustedSettings(const x264_param_t& requested, const x264_param_t& effective)
{
    struct Setting {
        const char* option;
        int requested;
        int effective;
        const char* why;
    };
    const Setting settings[] = {
        {"--slices", requested.i_slice_count, effective.i_slice_count, "at most one slice per macroblock row"},
        {"--min-keyint", requested.i_keyint_min, effective.i_keyint_min, "at most half of --keyint plus one"},
        {"--merange", requested.analyse.i_me_range, effective.analyse.i_me_range, "at most 16 with --me dia or hex"},
    };
    std::vector<std::string> warnings;
    for (const Setting& s : settings) {
        // 0 asks libx264 to choose, so any value it picks is what was asked for.
        if (s.requested == 0 || s.requested == s.effective) continue;
        warnings.push_back(std::string(s.option) + " " + std::to_string(s.requested) + " is not possible here ("
                           + s.why + "); using " + std::to_string(s.effective));
    }
    return warnings;
}

std::vector<std::string> inputWarnings(const EncodeOptions& options, std::int64_t frameCount, std::int64_t leftoverBytes)
{
    const FrameSize size = options.size.value_or(FrameSize{});
    std::vector<std::string> warnings;
    // A size in the file name that disagrees usually means a mistyped size.
    if (const auto named = frameSizeFromFileName(options.input); named && *named != size)
        warnings.push_back("the input's name suggests " + sizeText(*named) + " but the size given is " + sizeText(size));
    if (leftoverBytes != 0)
        warnings.push_back("input size is not a whole number of " + sizeText(size) + " frames; the last "
                           + std::to_string(leftoverBytes) + " bytes are ignored");
    if (options.frames > frameCount)
        warnings.push_back("--frames " + std::to_string(options.frames) + " but the input holds only "
                           + std::to_string(frameCount) + " frames; encoding those");
    return warnings;
}

std::int64_t framesToEncode(const EncodeOptions& options, const YuvFrameReader& input)
{
    if (input.frameCount() == 0)
        throw EncodeError("input " + options.input + " holds no complete " + sizeText(options.size.value_or(FrameSize{}))
                          + " frame (" + std::to_string(input.frameBytes()) + " bytes each)");
    return options.frames > 0 ? std::min<std::int64_t>(options.frames, input.frameCount()) : input.frameCount();
}

void refuseOutputPath(const EncodeOptions& options)
{
    std::error_code ec;
    if (std::filesystem::is_directory(options.output, ec))
        throw EncodeError("cannot write output " + options.output + ": it is a directory");
    if (std::filesystem::equivalent(options.input, options.output, ec))
        throw EncodeError("output " + options.output + " is the input file; it would be replaced by the stream");
}

EncodeResult runEncode(const EncodeOptions& options, const Console& console)
{
    const FrameSize size = options.size.value_or(FrameSize{});
    YuvFrameReader input(options.input, size.width, size.height);
    for (const std::string& warning : inputWarnings(options, input.frameCount(), input.leftoverBytes()))
        logLine(console, X264_LOG_WARNING, warning);
    const std::int64_t total = framesToEncode(options, input);

    x264_param_t param;
    configureEncoder(options, param);
    param.i_frame_total = static_cast<int>(std::min<std::int64_t>(total, INT_MAX));
    // PSNR and SSIM are computed only at log level info or above.
    param.i_log_level = X264_LOG_INFO;
    LibraryLog libraryLog{&console};
    param.pf_log = forwardLibraryLog;
    param.p_log_private = &libraryLog;

    refuseOutputPath(options);
    AtomicOutput output(options.output);
    // The temporary file's own error names a hidden file; lead with the output the user named.
    auto outputError = [&] { return EncodeError("cannot write output " + options.output + " (" + output.error() + ")"); };
    if (!output.ok()) throw outputError();
    logLine(console, X264_LOG_INFO, settingsSummary(options, total));

    std::unique_ptr<x264_t, EncoderCloser> encoder(x264_encoder_open(&param));
    if (!encoder) throw EncodeError("libx264 refused these settings");
    x264_param_t effective;
    x264_encoder_parameters(encoder.get(), &effective);
    for (const std::string& warning : adjustedSettings(param, effective)) logLine(console, X264_LOG_WARNING, warning);

    std::vector<std::uint8_t> frame;
    x264_picture_t picture;
    x264_picture_init(&picture);
    picture.img.i_csp = X264_CSP_I420;
    picture.img.i_plane = 3;
    const int w = size.width, h = size.height;
    picture.img.i_stride[0] = w;
    picture.img.i_stride[1] = picture.img.i_stride[2] = w / 2;

    EncodeResult result;
    PictureNumbering numbering;
    std::vector<std::uint8_t> packet;  // one picture's NAL units as written
    const auto start = Clock::now();
    auto lastProgress = start;
    auto encodeOne = [&](x264_picture_t* in) {
        if (console.interrupted && *console.interrupted) throw EncodeError("interrupted; no output written");
        x264_nal_t* nals = nullptr;
        int nalCount = 0;
        x264_picture_t out;
        const int bytes = x264_encoder_encode(encoder.get(), &nals, &nalCount, in, &out);
        if (bytes < 0) throw EncodeError("libx264 failed to encode a frame");
        if (bytes > 0) {
            packet.clear();
            for (int i = 0; i < nalCount; ++i) {
                const std::size_t at = packet.size();
                numbering.rewrite({nals[i].p_payload, static_cast<std::size_t>(nals[i].i_payload)}, packet);
                if (nals[i].i_type != NAL_SLICE && nals[i].i_type != NAL_SLICE_IDR) continue;
                const auto size = packet.size() - at - (nals[i].b_long_startcode ? 4 : 3);
                result.largestSlice = std::max(result.largestSlice, size);
                if (options.maxSliceSize > 0 && size > static_cast<std::size_t>(options.maxSliceSize))
                    ++result.oversizedSlices;
            }
            if (!output.write(packet.data(), packet.size())) throw outputError();
            result.bytes += static_cast<std::int64_t>(packet.size());
            ++result.frames;
        }
        if (console.progress) {
            const auto now = Clock::now();
            if (now - lastProgress > std::chrono::milliseconds(250)) {
                lastProgress = now;
                const double seconds = std::chrono::duration<double>(now - start).count();
                std::fprintf(stderr, "%s   \r", progressLine(result.frames, total, seconds, result.bytes, options.fps).c_str());
            }
        }
    };

    try {
        FramePrefetcher frames(input, total);
        for (std::int64_t n = 0; frames.next(frame); ++n) {
            // libx264 copies the picture before returning, so the buffer can be reused.
            picture.img.plane[0] = frame.data();
            picture.img.plane[1] = frame.data() + static_cast<std::size_t>(w) * h;
            picture.img.plane[2] = picture.img.plane[1] + static_cast<std::size_t>(w / 2) * (h / 2);
            picture.i_pts = n;
            encodeOne(&picture);
        }
        while (x264_encoder_delayed_frames(encoder.get()) > 0) encodeOne(nullptr);
    } catch (...) {
        libraryLog.quiet = true;  // no statistics of a stream that is thrown away
        throw;
    }
    if (console.progress) std::fprintf(stderr, "%80s\r", "");

    encoder.reset();  // prints libx264's statistics
    // libx264 cannot split a macroblock, so a tiny limit cannot always be kept.
    if (result.oversizedSlices > 0)
        logLine(console, X264_LOG_WARNING,
                std::to_string(result.oversizedSlices) + " slice NAL units exceed --max-slicesize "
                    + std::to_string(options.maxSliceSize) + " (largest " + std::to_string(result.largestSlice)
                    + " bytes): a single macroblock did not fit");
    if (numbering.bytesIn() > 0) {
        const double percent = 100.0 * double(numbering.bytesOut() - numbering.bytesIn()) / double(numbering.bytesIn());
        char line[160];
        std::snprintf(line, sizeof line, "picture numbering for loss recovery: %+lld bytes (%+.2f %%)",
                      static_cast<long long>(numbering.bytesOut() - numbering.bytesIn()), percent);
        logLine(console, X264_LOG_INFO, line);
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!output.commit()) throw outputError();
    return result;
}

} // namespace kestrune
