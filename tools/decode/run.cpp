#include "tools/decode/run.h"

#include "tools/common/atomic_output.h"
#include "tools/decode/access_unit_reader.h"
#include "tools/quality/frame_loss_file.h"
#include "tools/decode/baseline_path.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>

namespace kestrune::decode {
namespace {

// The per-frame loss file is an extra for quality reports: failing to write
// it never fails the decode.
void writeFrameLoss(const std::string& path, const DecodeReport& report)
{
    quality::FrameLossFile file{report.width, report.height, {}};
    for (const FrameLoss& f : report.frameLoss)
        file.frames.push_back({f.lost, f.concealed, f.type, f.macroblocks, f.sliceGroups});
    const std::string text = quality::formatFrameLoss(file);
    AtomicOutput out{std::filesystem::path(path)};
    if (!out.ok() || !out.write(text.data(), text.size()) || !out.commit())
        std::fprintf(stderr, "warning: %s\n", out.error().c_str());
}

} // namespace

RunResult runDecode(const DecodeOptions& options, const std::function<void(std::uint64_t, std::uint64_t)>& progress)
{
    const auto start = std::chrono::steady_clock::now();
    std::error_code sizeError;
    if (std::filesystem::is_directory(options.input)) throw std::runtime_error(options.input + " is a directory");
    const std::uint64_t total = std::filesystem::file_size(options.input, sizeError);
    AccessUnitReader reader{std::filesystem::path(options.input)};
    if (!reader.isOpen()) throw std::runtime_error(reader.error().empty() ? "cannot open " + options.input : reader.error());

    // The decoder, chosen before any output exists: a refusal leaves nothing behind.
    const int sliceGroups = sliceGroupsInStream(options.input);
    if (sliceGroups > 1 && options.decoder == DecoderSelection::Libavcodec)
        throw std::runtime_error("libavcodec cannot decode slice groups (FMO), and " + options.input +
                                 " has a picture parameter set with " + std::to_string(sliceGroups) +
                                 " of them: use -decoder ours");
    const bool ours = options.decoder == DecoderSelection::Ours ||
                      (options.decoder == DecoderSelection::PerStream && sliceGroups > 1);

    // A loss file left by an earlier run must never describe this run's output.
    const std::string lossPath = quality::frameLossPath(options.output);
    std::filesystem::remove(lossPath, sizeError);

    AtomicOutput output{std::filesystem::path(options.output)};
    if (!output.ok()) throw std::runtime_error(output.error());
    bool writeFailed = false;
    ConcealingDecoder decoder({options.intra, options.inter},
                              [&](std::span<const std::uint8_t> frame) {
                                  if (!writeFailed && !output.write(frame.data(), frame.size())) writeFailed = true;
                              },
                              ours ? DecoderChoice::Ours : DecoderChoice::Libavcodec);
    std::optional<SentStream> sent;
    if (!options.sent.empty()) {
        sent.emplace(std::filesystem::path(options.sent));
        reader.useSentStream(&*sent);
        decoder.setSentPictures(sent->pictures());
    }
    ReceivedPicture unit;
    int units = 0;
    while (reader.next(unit)) {
        decoder.decode(unit);
        if (writeFailed) throw std::runtime_error(output.error());
        if (progress && ++units % 64 == 0) progress(reader.bytesRead(), total);
    }
    if (!reader.error().empty()) throw std::runtime_error(reader.error());
    // Every SPS may have been lost on the way; the sent stream still has one.
    if (sent && sent->width() > 0) decoder.setSizeForGrey(sent->width(), sent->height());
    for (const auto& sps : reader.parameterSets().sps)
        if (sps) decoder.setSizeForGrey(sps->width(), sps->height());
    decoder.finish();
    if (writeFailed) throw std::runtime_error(output.error());

    RunResult result;
    result.report = decoder.report();
    result.report.repeatedSlices = reader.repeatedSlices();
    if (sent) result.report.sentTwinPlaces = sent->ambiguousPictures();
    result.inputBytes = reader.bytesRead();
    if (result.report.framesWritten == 0)
        throw std::runtime_error("no picture could be decoded from " + options.input
                                 + (result.report.accessUnits == 0
                                        ? std::string(" (no H.264 access unit found)")
                                        : " (" + std::to_string(result.report.accessUnits)
                                              + " access units, none decodable: sequence or picture parameter set lost?)"));
    if (!output.commit()) throw std::runtime_error(output.error());
    writeFrameLoss(lossPath, result.report);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (progress) progress(result.inputBytes, total);
    return result;
}

namespace {

// "1 picture", "2 pictures": the count and the word it needs.
std::string counted(long long count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string countsLine(const char* type, const MacroblockCounts& c, const char* method)
{
    char line[256];
    std::snprintf(line, sizeof line, "%s pictures: %d, macroblocks: %lld, lost: %lld, concealed: %lld (%s)\n", type,
                  c.pictures, c.total, c.lost, c.concealed, method);
    return line;
}

} // namespace

std::string placementNotes(const DecodeReport& r)
{
    std::string text;
    char line[512];
    if (r.untracedLossPossible) {
        std::snprintf(line, sizeof line,
                      "this stream has pictures that no other picture refers to (B pictures, or nal_ref_idc 0): "
                      "such a picture lost leaves no trace without the sent stream, so the %d frames written may be "
                      "fewer than the pictures coded; -sent FILE.264 gives every picture its exact place\n",
                      r.framesWritten);
        text += line;
    }
    if (r.hiddenLossWrap) {
        const char* counted = r.untracedLossPossible ? "reference pictures" : "pictures";
        std::snprintf(line, sizeof line,
                      "frame_num wraps every %u %s in this stream and nothing else numbers them: a run of %u lost "
                      "%s leaves no trace, so the %d frames written are one per picture that could be counted\n",
                      r.hiddenLossWrap, counted, r.hiddenLossWrap, counted, r.framesWritten);
        text += line;
    }
    if (r.placementFromSent) text += "placement: from the sent stream\n";
    if (r.sentTwinPlaces > 0) {
        std::snprintf(line, sizeof line,
                      "%s at a guessed place: %s byte for byte those of another picture of the sent "
                      "stream, with losses between the two; the first place was taken\n",
                      counted(r.sentTwinPlaces, "picture was written", "pictures were written").c_str(),
                      r.sentTwinPlaces == 1 ? "its slices are" : "their slices are");
        text += line;
    }
    if (r.guessedPlaces > 0) {
        std::snprintf(line, sizeof line,
                      "%s at a guessed place: a loss before %s may have taken an IDR picture, and no later IDR "
                      "picture told where %s\n", counted(r.guessedPlaces, "picture was written", "pictures were written").c_str(),
                      r.guessedPlaces == 1 ? "it" : "them", r.guessedPlaces == 1 ? "it stands" : "they stand");
        text += line;
    }
    if (r.repeatedSlices > 0) {
        std::snprintf(line, sizeof line, "%s twice byte for byte: %s left out\n",
                      counted(r.repeatedSlices, "slice arrived", "slices arrived").c_str(),
                      r.repeatedSlices == 1 ? "the repeat was" : "the repeats were");
        text += line;
    }
    if (r.picturesWithoutParameterSets > 0) {
        std::snprintf(line, sizeof line,
                      "%s without %s parameter sets: counted from the access-unit structure and "
                      "written as %s of the last frame (mid-grey before the first)\n",
                      counted(r.picturesWithoutParameterSets, "picture arrived", "pictures arrived").c_str(),
                      r.picturesWithoutParameterSets == 1 ? "its" : "their",
                      r.picturesWithoutParameterSets == 1 ? "a repeat" : "repeats");
        text += line;
    }
    if (r.picturesLost > 0 && r.intra.lost + r.inter.lost + r.bidir.lost == 0) {
        text += "every loss was a whole picture: the concealment methods never acted, so every pair of methods gives the "
                "same output; more slices per picture (or slice groups) let them differ\n";
    }
    return text;
}

std::string formatReport(const RunResult& result, const DecodeOptions& options)
{
    const DecodeReport& r = result.report;
    std::string text;
    char line[256];
    std::snprintf(line, sizeof line, "input: %s (%llu bytes, %d access units)\n", options.input.c_str(),
                  (unsigned long long)result.inputBytes, r.accessUnits);
    text += line;
    std::snprintf(line, sizeof line, "output: %s (%dx%d, planar YUV 4:2:0, %d frames)\n", options.output.c_str(), r.width,
                  r.height, r.framesWritten);
    text += line;
    const bool forced = options.decoder != DecoderSelection::PerStream;
    if (r.ours) {
        std::snprintf(line, sizeof line, "decoder: ours (%s)\n",
                      forced ? "chosen with -decoder" : "slice groups, which libavcodec cannot decode");
        text += line;
        std::snprintf(line, sizeof line,
                      "slices broken and concealed as lost: %d, redundant slices used for lost primary slices: %d, "
                      "frames inferred for frame_num gaps: %d\n",
                      r.slicesBroken, r.redundantSlicesUsed, r.gapFrames);
    } else {
        std::snprintf(line, sizeof line, "decoder: libavcodec%s\n", forced ? " (chosen with -decoder)" : "");
    }
    text += line;
    std::snprintf(line, sizeof line, "pictures decoded: %d, lost and repeated: %d%s\n", r.picturesDecoded, r.picturesLost,
                  r.hiddenLossWrap || r.untracedLossPossible ? " counted (more can hide, see below)" : "");
    text += line;
    text += placementNotes(r);
    text += countsLine("I", r.intra, methodName(options.intra));
    text += countsLine("P", r.inter, methodName(options.inter));
    if (r.bidir.pictures > 0) text += countsLine("B", r.bidir, methodName(options.inter));
    const double rate = result.seconds > 0 ? r.framesWritten / result.seconds : 0;
    std::snprintf(line, sizeof line, "speed: %.1f frames/s (%.3f s)\n", rate, result.seconds);
    text += line;
    return text;
}

} // namespace kestrune::decode
