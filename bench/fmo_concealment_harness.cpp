// Harness of bench/fmo_concealment.sh: concealment with dispersed slice
// groups against raster slices at the same bitrate, under Gilbert burst loss
// of slice NAL units (one NAL unit per packet; parameter sets kept).
//   fmo_concealment_harness ENCODER WIDTH HEIGHT FRAMES SEEDS GROUPS
// ENCODER is the x264.exe tool; the raster stream has as many slices per
// picture as the FMO stream has slice groups.
#include "tools/bitstream/annexb_reader.h"
#include "tools/decode/access_unit_reader.h"
#include "tools/decode/baseline_path.h"
#include "tools/decode/decoder.h"
#include "tools/gilbert/gilbert_model.h"
#include "tools/quality/quality.h"
#include "tools/sample/sample_sequence.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace kestrune;

namespace {

std::vector<std::uint8_t> readAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Slice NAL units lost by the channel; every other NAL unit delivered.
std::vector<std::uint8_t> loseSlices(const std::vector<std::uint8_t>& stream, unsigned seed, int& sent, int& lost)
{
    std::string error;
    const auto model = gilbert::makeModel(10, 2, error);
    gilbert::GilbertChannel channel(*model, seed);
    h264::AnnexBReader reader(stream);
    h264::NalUnit nal;
    std::vector<std::uint8_t> out;
    while (reader.next(nal)) {
        const int type = nal.bytes[0] & 0x1F;
        if (type == 1 || type == 5) {
            ++sent;
            if (!channel.nextDelivered()) {
                ++lost;
                continue;
            }
        }
        out.insert(out.end(), {0, 0, 0, 1});
        out.insert(out.end(), nal.bytes.begin(), nal.bytes.end());
    }
    return out;
}

double meanLumaPsnr(const std::vector<std::uint8_t>& stream, decode::ConcealmentSettings settings,
                    const std::vector<std::uint8_t>& source, int width, int height, bool ours)
{
    const std::size_t frame = yuv420FrameBytes(width, height);
    double sum = 0;
    std::size_t index = 0;
    decode::ConcealingDecoder decoder(
        settings,
        [&](std::span<const std::uint8_t> f) {
            if ((index + 1) * frame <= source.size())
                sum += quality::psnr({source.data() + index * frame, static_cast<std::size_t>(width * height)},
                                     {f.data(), static_cast<std::size_t>(width * height)});
            ++index;
        },
        ours ? decode::DecoderChoice::Ours : decode::DecoderChoice::Libavcodec);
    decode::AccessUnitReader reader{std::span<const std::uint8_t>(stream)};
    decode::ReceivedPicture unit;
    while (reader.next(unit)) decoder.decode(unit);
    decoder.finish();
    return index ? sum / static_cast<double>(index) : 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 7) {
        std::fprintf(stderr, "usage: %s ENCODER WIDTH HEIGHT FRAMES SEEDS GROUPS\n", argv[0]);
        return 2;
    }
    av_log_set_level(AV_LOG_QUIET);
    const std::string encoder = argv[1];
    const int width = std::atoi(argv[2]), height = std::atoi(argv[3]), frames = std::atoi(argv[4]);
    const int seeds = std::atoi(argv[5]), groups = std::atoi(argv[6]);
    const auto dir = std::filesystem::temp_directory_path() / ("fmo_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::vector<std::uint8_t> source(yuv420FrameBytes(width, height) * static_cast<std::size_t>(frames));
    for (int f = 0; f < frames; ++f)
        renderSampleFrame({width, height},
                          f, {source.data() + yuv420FrameBytes(width, height) * f, yuv420FrameBytes(width, height)});
    std::ofstream(dir / "source.yuv", std::ios::binary)
        .write(reinterpret_cast<const char*>(source.data()), static_cast<std::streamsize>(source.size()));
    const int kbps = width * height / 50;
    const std::string common = " --bitrate " + std::to_string(kbps) +
                               " --min-keyint 25 --keyint 250 --scenecut 40 --fps 25 --me hex --ref 1 --merange 16"
                               " --partitions i4x4p8x8 --frames " + std::to_string(frames) + " " +
                               (dir / "source.yuv").string() + " ";
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string fmo = encoder + " --slice-groups " + std::to_string(groups) + common + "-o " +
                            (dir / "fmo.264").string() + " " + size + " >/dev/null 2>&1";
    const std::string raster = encoder + " --slices " + std::to_string(groups) + common + "-o " +
                               (dir / "raster.264").string() + " " + size + " >/dev/null 2>&1";
    if (std::system(fmo.c_str()) != 0 || std::system(raster.c_str()) != 0) {
        std::fprintf(stderr, "encoding failed\n");
        return 1;
    }
    const auto fmoStream = readAll(dir / "fmo.264");
    const auto rasterStream = readAll(dir / "raster.264");
    std::printf("%s, %d frames, target %d kbit/s: FMO (%d dispersed groups) %.0f kbit/s, raster (%d slices) %.0f kbit/s\n",
                size.c_str(), frames, kbps, groups, fmoStream.size() * 8.0 * 25 / frames / 1000, groups,
                rasterStream.size() * 8.0 * 25 / frames / 1000);
    std::printf("%-32s %9s %9s %8s\n", "methods (I/P)", "FMO dB", "raster dB", "gain");
    const decode::ConcealmentSettings defaults;
    const double cleanFmo = meanLumaPsnr(fmoStream, defaults, source, width, height, true);
    const double cleanRaster = meanLumaPsnr(rasterStream, defaults, source, width, height, false);
    std::printf("%-32s %9.2f %9.2f %+8.2f\n", "no loss", cleanFmo, cleanRaster, cleanFmo - cleanRaster);
    static const char* intraNames[] = {"none", "average DC", "average MB", "bilinear"};
    static const char* interNames[] = {"none", "boundary matching"};
    int sent = 0, lost = 0;
    for (int intra = 0; intra <= 3; ++intra) {
        for (int inter = 0; inter <= 1; ++inter) {
            double a = 0, b = 0;
            for (int seed = 1; seed <= seeds; ++seed) {
                const decode::ConcealmentSettings settings{decode::IntraMethod(intra), decode::InterMethod(inter)};
                a += meanLumaPsnr(loseSlices(fmoStream, static_cast<unsigned>(seed), sent, lost), settings, source, width,
                                  height, true);
                b += meanLumaPsnr(loseSlices(rasterStream, static_cast<unsigned>(seed), sent, lost), settings, source,
                                  width, height, false);
            }
            const std::string name = std::string(intraNames[intra]) + " / " + interNames[inter];
            std::printf("%-32s %9.2f %9.2f %+8.2f\n", name.c_str(), a / seeds, b / seeds, (a - b) / seeds);
        }
    }
    std::printf("slice NAL units lost: %d of %d (%.1f %%), Gilbert model 10 %%, mean burst 2\n", lost, sent,
                100.0 * lost / std::max(sent, 1));
    std::filesystem::remove_all(dir);
    return 0;
}
