// Alignment under random loss: streams from the window's option sets (1 and
// 4 slices, GOP 10 and 250) go through Gilbert channels (5-40 % loss, burst
// 1-16, many seeds) into the decoder; every run must give one frame per coded
// picture up to the last one received, and every received IDR picture whose
// parameter sets arrived must come out bit-identical to the undamaged
// decode's frame at the same index. With `sent` the decoder is given the sent
// stream (-sent): every run must then give one frame per coded picture, lost
// ones at the end included, with no guess.
// Usage: loss_alignment_harness RUNS WORK_DIR [sent]   (prints one line per option set and a total)
#include "tests/tools/encode/tool_process.h"
#include "tools/bitstream/bitstream.h"
#include "tools/decode/run.h"
#include "tools/encode/encoder.h"
#include "tools/gilbert/gilbert_model.h"
#include "tools/sample/sample_sequence.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

using namespace kestrune;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr int kFrames = 300;
constexpr std::size_t kFrameBytes = 176 * 144 * 3 / 2;

struct Nal {
    Bytes bytes;
    int type = 0;
};

Bytes decodeFile(const std::filesystem::path& dir, const Bytes& stream, decode::DecodeReport* report = nullptr,
                 const std::string& sent = {})
{
    kestrune::testing::writeBytes(dir / "lossy.264", stream);
    decode::DecodeOptions options;
    options.input = (dir / "lossy.264").string();
    options.output = (dir / "out.yuv").string();
    options.sent = sent;
    try {
        const decode::RunResult result = decode::runDecode(options);
        if (report) *report = result.report;
    } catch (const std::exception&) {
        return {};  // nothing decodable (every parameter set lost)
    }
    return kestrune::testing::readBytes(dir / "out.yuv");
}

bool sameFrame(const Bytes& a, const Bytes& b, int index)
{
    const auto at = std::size_t(index) * kFrameBytes;
    return a.size() >= at + kFrameBytes && b.size() >= at + kFrameBytes
        && std::equal(a.begin() + std::ptrdiff_t(at), a.begin() + std::ptrdiff_t(at + kFrameBytes), b.begin() + std::ptrdiff_t(at));
}

// Whole GOPs lost after the last IDR picture received, with the picture after
// the loss numbered one on from the picture before it: every picture is a
// reference picture, so frame_num is the distance from the GOP's IDR picture.
bool hiddenLossAtEnd(const std::vector<int>& idrs, const std::vector<int>& received)
{
    auto frameNum = [&](int picture) {
        int idr = 0;
        for (int i : idrs)
            if (i <= picture) idr = i;
        return picture - idr;
    };
    for (std::size_t k = received.size(); k-- > 1;) {
        const int a = received[k - 1], b = received[k];
        if (frameNum(b) == 0) return false;  // an IDR picture received: places after it are known
        if (b > a + 1 && frameNum(b) == frameNum(a) + 1) return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    const bool withSent = argc == 4 && std::string(argv[3]) == "sent";
    if (argc != 3 && !withSent) {
        std::fprintf(stderr, "usage: %s RUNS WORK_DIR [sent]\n", argv[0]);
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    const std::filesystem::path dir = argv[2];
    Bytes yuv(kFrameBytes * kFrames);
    for (int i = 0; i < kFrames; ++i) renderSampleFrame({176, 144}, i, {yuv.data() + kFrameBytes * std::size_t(i), kFrameBytes});
    kestrune::testing::writeBytes(dir / "sample_176x144.yuv", yuv);
    std::freopen("/dev/null", "w", stderr);  // the encoder's statistics

    std::mt19937 random(20261208);
    // ONLY_RUN=N repeats run N alone (the others' draws are still made, so its channel is the same).
    const int only = std::getenv("ONLY_RUN") ? std::atoi(std::getenv("ONLY_RUN")) : -1;
    int total = 0, exact = 0, guessedRuns = 0, hiddenRuns = 0, tailLost = 0, undecodable = 0, idrChecked = 0, idrMismatch = 0, countMismatch = 0;
    long long guessed = 0, cleanChecked = 0, cleanMismatch = 0;
    const int sets[4][2] = {{1, 10}, {1, 250}, {4, 10}, {4, 250}};
    for (int s = 0; s < 4; ++s) {
        const int slices = sets[s][0], gop = sets[s][1];
        EncodeOptions options;
        options.rateControl = RateControl::Bitrate;
        options.bitrate = 500;
        options.minKeyint = gop < 25 ? gop : 25;
        options.keyint = gop;
        options.slices = slices;
        options.references = 1;
        options.input = (dir / "sample_176x144.yuv").string();
        options.output = (dir / "enc.264").string();
        options.size = FrameSize{176, 144};
        runEncode(options, Console{"x264"});
        const Bytes stream = kestrune::testing::readBytes(dir / "enc.264");
        std::vector<Nal> nals;
        h264::AnnexBReader reader(stream);
        h264::NalUnit unit;
        while (reader.next(unit)) {
            Nal nal{{0, 0, 0, 1}, unit.bytes[0] & 0x1f};
            nal.bytes.insert(nal.bytes.end(), unit.bytes.begin(), unit.bytes.end());
            nals.push_back(std::move(nal));
        }
        const Bytes reference = decodeFile(dir, stream);
        int setRuns = 0, setExact = 0, setIdrMismatch = 0, setCountMismatch = 0;
        const int perSet = runs / 4 + (s < runs % 4);
        for (int run = 0; run < perSet; ++run, ++total, ++setRuns) {
            std::string error;
            const int percent = 5 + int(random() % 36), burst = 1 + int(random() % 16);
            const std::uint32_t seed = std::uint32_t(random());
            if (only >= 0 && total != only) continue;
            gilbert::GilbertChannel channel(*gilbert::makeModel(percent, burst, error), seed);
            Bytes lossy;
            std::vector<int> idrPlaces;       // received IDR pictures, every slice and a parameter set of each kind
            std::vector<bool> idrWhole;
            int picture = -1, lastReceived = -1;
            std::vector<int> idrAll, receivedPictures;  // every IDR picture; pictures with a slice received
            // Pictures whose every slice arrived, as did everything they are
            // predicted from back to a whole IDR picture (one reference
            // picture: the one before): they must decode as without loss.
            std::vector<bool> clean;
            bool sps = false, pps = false;
            for (const Nal& nal : nals) {
                const bool slice = nal.type == 1 || nal.type == 5;
                // A slice with first_mb_in_slice 0 (ue 0: the first payload bit is 1) begins a picture.
                const bool first = slice && (nal.bytes[5] & 0x80) != 0;
                if (first) ++picture;
                if (first) clean.push_back(nal.type == 5 ? sps && pps : picture > 0 && clean[std::size_t(picture - 1)]);
                if (first && nal.type == 5) idrAll.push_back(picture);
                const bool arrived = channel.nextDelivered();
                if (nal.type == 5) {
                    if (first) {
                        idrPlaces.push_back(picture);
                        idrWhole.push_back(sps && pps);  // parameter sets must have arrived before it
                    }
                    if (!arrived) idrWhole.back() = false;
                }
                if (!arrived && slice) clean.back() = false;
                if (!arrived) continue;
                lossy.insert(lossy.end(), nal.bytes.begin(), nal.bytes.end());
                sps |= nal.type == 7;
                pps |= nal.type == 8 && sps;  // libavcodec drops a PPS whose SPS it has not seen
                if (slice && lastReceived != picture) receivedPictures.push_back(picture);
                if (slice) lastReceived = picture;
            }
            // KEEP_WRONG=DIR keeps the damaged and the sent stream of a run that fails.
            const auto keep = [&](const char* what) {
                if (const char* keepDir = std::getenv("KEEP_WRONG")) {
                    const std::filesystem::path to(keepDir);
                    kestrune::testing::writeBytes(to / (what + std::to_string(total) + ".264"), lossy);
                    kestrune::testing::writeBytes(to / ("enc" + std::to_string(total) + ".264"), stream);
                }
            };
            decode::DecodeReport report;
            const Bytes out = decodeFile(dir, lossy, &report, withSent ? (dir / "enc.264").string() : std::string());
            if (out.empty()) {
                ++undecodable;
                if (std::getenv("KEEP_WRONG")) std::printf("  run %d (seed %u): no decodable picture\n", total, seed);
                continue;
            }
            guessed += report.guessedPlaces;
            const int frames = int(out.size() / kFrameBytes);
            if (lastReceived < kFrames - 1) ++tailLost;
            if (withSent) {
                // Every place is known: all pictures, and never a guess.
                if (frames == kFrames && report.guessedPlaces == 0 && report.placementFromSent) {
                    ++exact, ++setExact;
                } else {
                    ++countMismatch, ++setCountMismatch;
                    std::printf("  run %d (seed %u), with the sent stream, count wrong: %d %% loss, burst %d: %d frames for "
                                "%d pictures, %lld guessed\n", total, seed, percent, burst, frames, kFrames,
                                report.guessedPlaces);
                    keep("sent");
                }
            } else if (frames == lastReceived + 1) {
                ++exact, ++setExact;
            } else if (report.guessedPlaces > 0) {
                ++guessedRuns;  // said so in the report: a lost IDR with no later IDR to place what followed
            } else if (hiddenLossAtEnd(idrAll, receivedPictures)) {
                ++hiddenRuns;
            } else {
                ++countMismatch, ++setCountMismatch;
                std::printf("  run %d (seed %u), count wrong: %d %% loss, burst %d: %d frames for %d pictures\n", total, seed,
                            percent, burst, frames, lastReceived + 1);
                keep("wrong");
            }
            for (int i = 0; i < int(clean.size()); ++i) {
                if (!clean[std::size_t(i)]) continue;
                ++cleanChecked;
                if (!sameFrame(out, reference, i)) {
                    ++cleanMismatch;
                    std::printf("  run %d (seed %u), picture %d, received whole with all it depends on, differs: %d %% loss, "
                                "burst %d\n", total, seed, i, percent, burst);
                    keep("clean");
                }
            }
            for (std::size_t k = 0; k < idrPlaces.size(); ++k) {
                if (!idrWhole[k]) continue;
                ++idrChecked;
                if (!sameFrame(out, reference, idrPlaces[k])) {
                    ++idrMismatch, ++setIdrMismatch;
                    std::printf("  run %d (seed %u), IDR picture %d differs: %d %% loss, burst %d\n", total, seed, idrPlaces[k],
                                percent, burst);
                    keep("idr");
                }
            }
        }
        std::printf("slices %d, GOP %3d: %d runs, frame count exact in %d, IDR frames differing %d\n", slices, gop,
                    setRuns, setExact, setIdrMismatch);
    }
    if (withSent)
        std::printf("total: %d runs; every coded picture written at its place from the sent stream, no guess: %d; "
                    "no decodable picture: %d; count wrong: %d; received whole IDR pictures checked: %d, not "
                    "bit-identical: %d\n", total, exact, undecodable, countMismatch, idrChecked, idrMismatch);
    else std::printf("total: %d runs; one frame per coded picture up to the last received one: %d (%d runs lost the end of "
                "the stream, whose length no stream tells); %d runs had no decodable picture; %d runs ended holding "
                "pictures after a possibly lost IDR with no later IDR (reported as a guess, count off); %d runs lost whole "
                "GOPs after the last IDR received with frame_num going on by one (no trace in any stream); count wrong "
                "otherwise: %d; received whole IDR pictures checked: %d, not bit-identical: %d; pictures at a guessed "
                "place: %lld\n",
                total, exact, tailLost, undecodable, guessedRuns, hiddenRuns, countMismatch, idrChecked, idrMismatch, guessed);
    std::printf("pictures received whole with all they depend on: %lld, not bit-identical at their place: %lld\n",
                cleanChecked, cleanMismatch);
    return countMismatch == 0 && idrMismatch == 0 && cleanMismatch == 0 ? 0 : 1;
}
