#include "tools/encode/baseline_run.h"

#include "tools/baseline_encoder/baseline_encoder.h"
#include "tools/baseline_encoder/parameter_sets.h"
#include "tools/common/atomic_output.h"
#include "tools/encode/encode_report.h"
#include "tools/encode/frame_prefetch.h"
#include "tools/encode/yuv_input.h"
#include "tools/quality/quality.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <span>
#include <stdexcept>

namespace kestrune {
namespace {

void logLine(const Console& console, const char* level, const std::string& text)
{
    std::fprintf(stderr, "%s [%s]: %s\n", console.name.c_str(), level, text.c_str());
}

template <typename... Args>
std::string format(const char* pattern, Args... args)
{
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, pattern, args...);
    return buffer;
}

double psnrOf(double sse, double samples)
{
    if (sse <= 0) return quality::kIdenticalPsnr;
    return 10.0 * std::log10(255.0 * 255.0 * samples / sse);
}

// Sums per picture type for the report lines.
struct TypeTotals {
    std::int64_t count = 0;
    std::int64_t bytes = 0;
    double qp = 0;
    double psnr[3] = {0, 0, 0};  // sums of per-picture PSNR
    double psnrAvg = 0;
    double sse[3] = {0, 0, 0};
};

} // namespace

codec::EncoderSettings baselineSettings(const EncodeOptions& o, std::vector<std::string>& warnings)
{
    codec::EncoderSettings s;
    const FrameSize size = o.size.value_or(FrameSize{});
    s.width = size.width;
    s.height = size.height;
    s.fps = o.fps;
    s.sliceGroups = o.sliceGroups;
    s.mapType = o.sliceGroupMapType;
    switch (o.rateControl) {
    case RateControl::Bitrate:
        s.rateMode = codec::RateMode::Bitrate;
        s.bitrateKbps = o.bitrate;
        break;
    case RateControl::ConstantQp:
        s.rateMode = codec::RateMode::ConstantQp;
        s.qp = o.qp;
        break;
    case RateControl::ConstantRateFactor:
        s.rateMode = codec::RateMode::ConstantQuality;
        s.quality = o.crf;
        break;
    }
    s.minKeyint = o.minKeyint;
    s.keyint = o.keyint;
    s.scenecut = o.scenecut;
    s.search = o.motionEstimation == "dia"   ? codec::SearchPattern::Diamond
               : o.motionEstimation == "umh" ? codec::SearchPattern::UnevenMultiHexagon
                                             : codec::SearchPattern::Hexagon;
    s.meRange = o.meRange;
    s.chromaMe = o.chromaMe;
    s.references = o.references;
    s.mixedRefs = o.mixedRefs;
    s.intra4x4 = o.partitions.i4x4;
    s.p8x8 = o.partitions.p8x8;
    s.p4x4 = o.partitions.p4x4;
    s.slices = std::max(o.slices, 1);
    s.maxSliceBytes = o.maxSliceSize;
    // i8x8 is not warned about: the window's default partitions name it, and
    // Baseline has no 8x8 transform to use it with (--help says so).
    if (s.meRange > 256) {
        warnings.push_back("--merange " + std::to_string(s.meRange) + " is more than this encoder searches; using 256");
        s.meRange = 256;
    }
    return s;
}

EncodeResult runBaselineEncode(const EncodeOptions& options, const Console& console)
{
    const FrameSize size = options.size.value_or(FrameSize{});
    std::vector<std::string> warnings;
    const codec::EncoderSettings settings = baselineSettings(options, warnings);
    if (const std::string error = codec::sliceGroupError(settings); !error.empty()) throw EncodeError(error);

    YuvFrameReader input(options.input, size.width, size.height);
    for (const std::string& warning : inputWarnings(options, input.frameCount(), input.leftoverBytes()))
        warnings.push_back(warning);
    const std::int64_t total = framesToEncode(options, input);

    refuseOutputPath(options);
    AtomicOutput output(options.output);
    auto outputError = [&] { return EncodeError("cannot write output " + options.output + " (" + output.error() + ")"); };
    if (!output.ok()) throw outputError();
    for (const std::string& warning : warnings) logLine(console, "warning", warning);
    // The summary's slice count means slices per picture of libx264; here each group is one slice.
    std::string summary = settingsSummary(options, total);
    if (const std::size_t at = summary.find(", slices 1,"); at != std::string::npos)
        summary.replace(at, 11, ", slice groups " + std::to_string(settings.sliceGroups) + ",");
    logLine(console, "info", summary);

    codec::BaselineEncoder encoder(settings);
    logLine(console, "info", "our Baseline encoder: profile " + h264::profileName(encoder.sps()) + ", level "
                                 + h264::levelName(encoder.sps()) + ", 4:2:0, 8-bit");
    logLine(console, "info", codec::sliceGroupLayoutText(encoder.pps(), encoder.sps()));

    const quality::FrameLayout layout{size.width, size.height};
    const double planeSamples[3] = {static_cast<double>(layout.lumaSize()), static_cast<double>(layout.chromaSize()),
                                    static_cast<double>(layout.chromaSize())};
    TypeTotals totals[2];  // [0] I, [1] P
    double ssimSum = 0;
    EncodeResult result;
    const auto start = std::chrono::steady_clock::now();
    auto lastProgress = start;
    std::vector<std::uint8_t> frame;
    FramePrefetcher frames(input, total);
    while (frames.next(frame)) {
        if (console.interrupted && *console.interrupted) throw EncodeError("interrupted; no output written");
        const codec::EncodedPicture picture = encoder.encode(frame);
        if (!output.write(picture.bytes.data(), picture.bytes.size())) throw outputError();
        result.bytes += static_cast<std::int64_t>(picture.bytes.size());
        ++result.frames;
        TypeTotals& t = totals[picture.type == codec::PictureType::Predicted ? 1 : 0];
        ++t.count;
        t.bytes += static_cast<std::int64_t>(picture.bytes.size());
        t.qp += picture.qp;
        if (options.psnr || options.ssim) {
            const std::vector<std::uint8_t> reconstructed = encoder.reconstructedFrame();
            std::size_t offset = 0;
            double frameSse = 0;
            for (int p = 0; p < 3; ++p) {
                const auto n = static_cast<std::size_t>(planeSamples[p]);
                double sse = 0;
                for (std::size_t i = offset; i < offset + n; ++i) {
                    const double d = static_cast<double>(frame[i]) - reconstructed[i];
                    sse += d * d;
                }
                t.sse[p] += sse;
                t.psnr[p] += psnrOf(sse, planeSamples[p]);
                frameSse += sse;
                offset += n;
            }
            t.psnrAvg += psnrOf(frameSse, planeSamples[0] + planeSamples[1] + planeSamples[2]);
            if (options.ssim)
                ssimSum += quality::ssim(std::span(frame).first(layout.lumaSize()),
                                         std::span(reconstructed).first(layout.lumaSize()), size.width, size.height);
        }
        if (console.progress) {
            const auto now = std::chrono::steady_clock::now();
            if (now - lastProgress > std::chrono::milliseconds(250)) {
                lastProgress = now;
                const double seconds = std::chrono::duration<double>(now - start).count();
                std::fprintf(stderr, "%s   \r", progressLine(result.frames, total, seconds, result.bytes, options.fps).c_str());
            }
        }
    }
    if (console.progress) std::fprintf(stderr, "%80s\r", "");
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // The report in the libx264 run's shape.
    for (int type = 0; type < 2; ++type) {
        const TypeTotals& t = totals[type];
        if (t.count == 0) continue;
        const double n = static_cast<double>(t.count);
        std::string line = format("frame %c:%-5lld Avg QP:%5.2f  size:%6.0f", type == 0 ? 'I' : 'P',
                                  static_cast<long long>(t.count), t.qp / n, static_cast<double>(t.bytes) / n);
        if (options.psnr) {
            const double globalSamples = n * (planeSamples[0] + planeSamples[1] + planeSamples[2]);
            line += format("  PSNR Mean Y:%5.2f U:%5.2f V:%5.2f Avg:%5.2f Global:%5.2f", t.psnr[0] / n, t.psnr[1] / n,
                           t.psnr[2] / n, t.psnrAvg / n, psnrOf(t.sse[0] + t.sse[1] + t.sse[2], globalSamples));
        }
        logLine(console, "info", line);
    }
    const codec::MacroblockStatistics& intra = encoder.intraStatistics();
    const codec::MacroblockStatistics& inter = encoder.interStatistics();
    auto percent = [](std::int64_t part, std::int64_t whole) { return whole > 0 ? 100.0 * part / whole : 0.0; };
    const std::int64_t intraMbs = intra.intra16x16 + intra.intra4x4;
    if (intraMbs > 0)
        logLine(console, "info", format("mb I  I16..4: %4.1f%%  %4.1f%%", percent(intra.intra16x16, intraMbs),
                                        percent(intra.intra4x4, intraMbs)));
    const std::int64_t interMbs = inter.intra16x16 + inter.intra4x4 + inter.inter + inter.skip;
    if (interMbs > 0)
        logLine(console, "info", format("mb P  I16..4: %4.1f%%  %4.1f%%  P: %4.1f%% (with sub-8x8 parts %4.1f%%)  skip: %4.1f%%",
                                        percent(inter.intra16x16, interMbs), percent(inter.intra4x4, interMbs),
                                        percent(inter.inter, interMbs), percent(inter.subPartitions, interMbs),
                                        percent(inter.skip, interMbs)));
    if (options.scenecut > 0) logLine(console, "info", format("scene changes detected: %d", encoder.scenesDetected()));
    const double frameCount = static_cast<double>(std::max<std::int64_t>(1, result.frames));
    if (options.ssim) {
        const double mean = ssimSum / frameCount;
        logLine(console, "info", format("SSIM Mean Y:%.7f (%6.3fdb)", mean, mean < 1 ? -10.0 * std::log10(1 - mean) : 100.0));
    }
    if (options.psnr) {
        double sse[3] = {0, 0, 0}, psnr[3] = {0, 0, 0}, avg = 0;
        for (const TypeTotals& t : totals)
            for (int p = 0; p < 3; ++p) {
                sse[p] += t.sse[p];
                psnr[p] += t.psnr[p];
            }
        for (const TypeTotals& t : totals) avg += t.psnrAvg;
        const double globalSamples = frameCount * (planeSamples[0] + planeSamples[1] + planeSamples[2]);
        logLine(console, "info", format("PSNR Mean Y:%.3f U:%.3f V:%.3f Avg:%.3f Global:%.3f kb/s:%.2f", psnr[0] / frameCount,
                                        psnr[1] / frameCount, psnr[2] / frameCount, avg / frameCount,
                                        psnrOf(sse[0] + sse[1] + sse[2], globalSamples),
                                        kilobitsPerSecond(result.bytes, result.frames, options.fps)));
    }
    if (!output.commit()) throw outputError();
    return result;
}

} // namespace kestrune
