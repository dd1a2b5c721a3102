#include "tools/encode/encode_report.h"

#include <cstdio>

namespace kestrune {
namespace {

template <typename... Args>
std::string format(const char* pattern, Args... args)
{
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, pattern, args...);
    return buffer;
}

std::string partitionList(const Partitions& p)
{
    std::string list;
    auto add = [&](bool on, const char* name) {
        if (on) list += (list.empty() ? "" : ",") + std::string(name);
    };
    add(p.i8x8, "i8x8");
    add(p.i4x4, "i4x4");
    add(p.p8x8, "p8x8");
    add(p.p4x4, "p4x4");
    return list.empty() ? "none" : list;
}

} // namespace

double kilobitsPerSecond(std::int64_t bytes, std::int64_t frames, int fps)
{
    if (frames <= 0 || fps <= 0) return 0.0;
    return static_cast<double>(bytes) * 8.0 / 1000.0 * fps / static_cast<double>(frames);
}

std::string settingsSummary(const EncodeOptions& o, std::int64_t framesToEncode)
{
    std::string rate;
    switch (o.rateControl) {
    case RateControl::Bitrate: rate = format("bitrate %d kbit/s", o.bitrate); break;
    case RateControl::ConstantQp: rate = format("qp %d", o.qp); break;
    case RateControl::ConstantRateFactor: rate = format("crf %d", o.crf); break;
    }
    const std::string keyint = o.keyint == 0 ? std::string("infinite") : std::to_string(o.keyint);
    const std::string minKeyint = o.minKeyint == 0 ? std::string("auto") : std::to_string(o.minKeyint);
    std::string slices = o.maxSliceSize > 0 ? format("max %d bytes", o.maxSliceSize)
                                            : std::to_string(o.slices > 0 ? o.slices : 1);
    if (o.maxSliceSize > 0 && o.slices > 0) slices += format(", at least %d", o.slices);
    const FrameSize size = o.size.value_or(FrameSize{});
    return format("%dx%d, %d fps, %lld frames, %s, keyint %s..%s, scenecut %d, slices %s, "
                  "me %s, merange %d, ref %d%s, chroma me %s, partitions %s, psnr %s, ssim %s",
                  size.width, size.height, o.fps, static_cast<long long>(framesToEncode), rate.c_str(),
                  minKeyint.c_str(), keyint.c_str(), o.scenecut, slices.c_str(), o.motionEstimation.c_str(),
                  o.meRange, o.references, o.mixedRefs ? " mixed" : "", o.chromaMe ? "on" : "off",
                  partitionList(o.partitions).c_str(), o.psnr ? "on" : "off", o.ssim ? "on" : "off");
}

std::string progressLine(std::int64_t done, std::int64_t total, double seconds, std::int64_t bytes, int fps)
{
    const double rate = seconds > 0 ? done / seconds : 0.0;
    const double percent = total > 0 ? 100.0 * done / total : 0.0;
    const long long eta = rate > 0 ? static_cast<long long>((total - done) / rate + 0.5) : 0;
    return format("[%5.1f%%] %lld/%lld frames, %.2f fps, %.2f kb/s, eta %lld:%02lld:%02lld", percent,
                  static_cast<long long>(done), static_cast<long long>(total), rate,
                  kilobitsPerSecond(bytes, done, fps), eta / 3600, eta / 60 % 60, eta % 60);
}

std::string finalLine(std::int64_t frames, double seconds, std::int64_t bytes, int fps)
{
    return format("encoded %lld frames, %.2f fps, %.2f kb/s", static_cast<long long>(frames),
                  seconds > 0 ? frames / seconds : 0.0, kilobitsPerSecond(bytes, frames, fps));
}

} // namespace kestrune
