// Complete streams from other encoders (the standard's conformance streams
// beside the repository, listed in manifest.txt with libavcodec's frame count
// and md5): both decoders write exactly libavcodec's frames, and neither they
// nor the analyzer count a lost picture. A `_LOST` stream is a complete one
// less one picture: one frame per coded picture, and that one counted lost.
// Reads the manifest, so streams added to the folder are tested too.
#include "tests/tools/encode/tool_process.h"
#include "tools/analyze/analyzer.h"
#include "tools/bitstream/bitstream.h"
#include "tools/decode/run.h"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/md5.h>
}

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace kestrune;
using kestrune::testing::ScratchDirectory;

namespace {

std::filesystem::path conformanceFolder()
{
    if (const char* dir = std::getenv("KESTRUNE_CONFORMANCE_DIR")) return dir;
    return KESTRUNE_CONFORMANCE_DIR;
}

struct Listed {
    std::string file;
    int frames = 0;
    std::string md5;
};

std::vector<Listed> manifest(const std::filesystem::path& folder)
{
    std::ifstream in(folder / "manifest.txt");
    std::vector<Listed> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        Listed entry;
        if (words >> entry.file >> entry.frames >> entry.md5) out.push_back(entry);
    }
    return out;
}

std::string md5Of(const std::vector<std::uint8_t>& bytes)
{
    std::uint8_t digest[16];
    av_md5_sum(digest, bytes.data(), int(bytes.size()));
    std::string hex;
    for (std::uint8_t byte : digest) {
        static constexpr char digits[] = "0123456789abcdef";
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

} // namespace

TEST(ConformanceStreams, BothDecodersWriteLibavcodecsFramesAndNothingCountsALoss)
{
    const std::filesystem::path folder = conformanceFolder();
    const std::vector<Listed> streams = manifest(folder);
    if (streams.empty()) GTEST_SKIP() << "no conformance streams: " << (folder / "manifest.txt") << " is missing or empty";
    av_log_set_level(AV_LOG_QUIET);
    ScratchDirectory dir;
    int decodes = 0;
    for (const Listed& stream : streams) {
        SCOPED_TRACE(stream.file);
        const bool lossy = stream.file.find("_LOST") != std::string::npos;
        const std::string path = (folder / stream.file).string();

        h264::AnnexBReader reader{std::filesystem::path(path)};
        analyze::StreamSummary summary;
        std::string error;
        ASSERT_TRUE(analyze::summarizeStream(reader, summary, [](int, std::uint64_t) {}, error)) << error;
        EXPECT_EQ(summary.lostPictures, lossy ? 1u : 0u) << "coded " << summary.codedPictures;
        EXPECT_EQ(summary.guessedPlaces, 0);

        for (decode::DecoderSelection choice : {decode::DecoderSelection::Libavcodec, decode::DecoderSelection::Ours}) {
            const bool ours = choice == decode::DecoderSelection::Ours;
            SCOPED_TRACE(ours ? "ours" : "libavcodec");
            decode::DecodeOptions options;
            options.input = path;
            options.output = (dir / "out.yuv").string();
            options.decoder = choice;
            decode::RunResult result;
            try {
                result = decode::runDecode(options);
            } catch (const std::exception& e) {
                // Only a refusal of what a decoder does not support is acceptable.
                const std::string what = e.what();
                EXPECT_TRUE(what.find("outside the Baseline profile") != std::string::npos ||
                            what.find("cannot decode slice groups") != std::string::npos) << what;
                continue;
            }
            ++decodes;
            const decode::DecodeReport& r = result.report;
            const std::string notes = decode::placementNotes(r);
            if (lossy) {
                EXPECT_EQ(r.framesWritten, stream.frames + 1) << notes;
                EXPECT_EQ(r.picturesLost, 1) << notes;
                continue;
            }
            EXPECT_EQ(r.framesWritten, stream.frames) << notes;
            EXPECT_EQ(r.picturesLost, 0) << notes;
            EXPECT_EQ(r.guessedPlaces, 0) << notes;
            EXPECT_EQ(md5Of(kestrune::testing::readBytes(dir / "out.yuv")), stream.md5);
        }
    }
    EXPECT_GE(decodes, int(streams.size())) << "at least one decoder per stream";
}
