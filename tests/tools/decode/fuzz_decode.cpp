// libFuzzer target: any bytes as an Annex B stream through the decode tool's
// path with our own Baseline decoder: access units, decoding, loss map,
// concealment and the output frames. Built by scripts/fuzz.sh (KESTRUNE_FUZZ).
#include "tools/bitstream/bitstream.h"
#include "tools/decode/access_unit_reader.h"
#include "tools/decode/decoder.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace {

using namespace kestrune;

// Pictures up to 1280x720 (3,600 macroblocks): larger ones only slow the
// search down, and they take the same code paths.
constexpr int kMaxMacroblocks = 3600;

bool picturesSmallEnough(std::span<const std::uint8_t> stream)
{
    h264::AnnexBReader reader(stream);
    h264::NalUnit unit;
    std::vector<std::uint8_t> rbsp;
    while (reader.next(unit)) {
        h264::NalHeader header;
        if (!h264::parseNalHeader(unit.bytes, header).ok() || header.nal_unit_type != h264::NalSps) continue;
        h264::removeEmulationPrevention(std::span(unit.bytes).subspan(static_cast<std::size_t>(header.headerBytes)), rbsp);
        h264::Sps sps;
        if (h264::parseSps(rbsp, sps).ok() && sps.widthInMbs() * sps.frameHeightInMbs() > kMaxMacroblocks) return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> stream(data, size);
    if (!picturesSmallEnough(stream)) return -1;  // kept out of the corpus
    // The input's length picks the concealment methods, so every pair is tried
    // without spending input bytes on the choice.
    decode::ConcealmentSettings settings;
    settings.intra = static_cast<decode::IntraMethod>(size % 4);
    settings.inter = static_cast<decode::InterMethod>(size / 4 % 2);
    std::uint64_t frameBytes = 0;
    static volatile std::uint8_t sink = 0;
    decode::ConcealingDecoder decoder(
        settings,
        [&](std::span<const std::uint8_t> frame) {
            // Every byte written is read, so a frame from freed memory shows.
            std::uint8_t sum = 0;
            for (std::uint8_t b : frame) sum = static_cast<std::uint8_t>(sum + b);
            sink = sum;
            frameBytes += frame.size();
        },
        decode::DecoderChoice::Ours);
    decode::AccessUnitReader reader(stream);
    decode::ReceivedPicture unit;
    try {
        while (reader.next(unit)) decoder.decode(unit);
    } catch (const std::runtime_error&) {
        return 0;  // a stream outside Baseline: the tool reports it and stops, as designed
    }
    for (const auto& sps : reader.parameterSets().sps)
        if (sps) decoder.setSizeForGrey(sps->width(), sps->height());
    decoder.finish();
    // The report must describe what was written.
    const decode::DecodeReport& report = decoder.report();
    if (report.framesWritten != static_cast<int>(report.frameLoss.size())) __builtin_trap();
    if (report.framesWritten > 0 && frameBytes == 0) __builtin_trap();
    return 0;
}
