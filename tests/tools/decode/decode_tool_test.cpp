// The decoder's command-line front end, run as a child process the way the window runs it.
#include "tests/tools/baseline_decoder/damage.h"
#include "tests/tools/baseline_decoder/slice_group_stream.h"
#include "tests/tools/decode/test_stream.h"
#include "tests/tools/encode/tool_process.h"

#include "tools/quality/frame_loss_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

using namespace kestrune::decode::test;
using kestrune::testing::runTool;
using kestrune::testing::ScratchDirectory;

namespace {

const std::string decoder = KESTRUNE_DECODE_EXE;

void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int lineCount(const std::string& text) { return int(std::count(text.begin(), text.end(), '\n')); }

class DecodeTool : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        const TestStream stream = encodeTestStream(12, 3, 12);
        lossy = new std::vector<std::uint8_t>(dropSlicesAtRandom(stream, 0.2, 11).bytes);
        frameBytes = stream.frameBytes();
    }
    static void TearDownTestSuite() { delete lossy; }
    static std::vector<std::uint8_t>* lossy;
    static std::size_t frameBytes;
};

std::vector<std::uint8_t>* DecodeTool::lossy = nullptr;
std::size_t DecodeTool::frameBytes = 0;

} // namespace

TEST_F(DecodeTool, TheWindowsCommandLinesWriteOneFramePerPictureAndAReport)
{
    ScratchDirectory dir;
    writeFile(dir / "lossy.264", *lossy);
    writeFile(dir / "tmp.yuv", std::vector<std::uint8_t>(10, 1)); // an old result, replaced

    auto none = runTool(decoder, {"-ec", "0", "-error_concealment", "0", "-P_error_concealment", "0", "-i", "lossy.264",
                                  "-y", "tmp.yuv"}, dir.path());
    ASSERT_EQ(none.exitCode, 0) << none.err;
    EXPECT_EQ(std::filesystem::file_size(dir / "tmp.yuv"), 12 * frameBytes);
    EXPECT_NE(none.out.find("pictures decoded: 12, lost and repeated: 0"), std::string::npos) << none.out;
    EXPECT_NE(none.out.find("concealed: 0 (none)"), std::string::npos) << none.out;
    EXPECT_NE(none.out.find("176x144"), std::string::npos);
    EXPECT_NE(none.out.find("frames/s"), std::string::npos);
    const std::string grey = readFile(dir / "tmp.yuv");

    auto bilinear = runTool(decoder, {"-error_concealment", "3", "-i", "lossy.264", "-y", "tmp.yuv"}, dir.path());
    ASSERT_EQ(bilinear.exitCode, 0) << bilinear.err;
    EXPECT_NE(bilinear.out.find("(bilinear interpolation)"), std::string::npos);
    EXPECT_NE(bilinear.out.find("(boundary matching)"), std::string::npos);
    EXPECT_EQ(std::filesystem::file_size(dir / "tmp.yuv"), 12 * frameBytes);
    EXPECT_NE(readFile(dir / "tmp.yuv"), grey);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"lossy.264", "tmp.yuv", "tmp.yuv.mbloss"}))
        << "no temporary file stays behind";
    // The per-frame loss file: one line per frame written, and the lost
    // macroblocks add up to the report's.
    const auto loss = kestrune::quality::parseFrameLoss(readFile(dir / "tmp.yuv.mbloss"));
    ASSERT_TRUE(loss);
    EXPECT_EQ(loss->frames.size(), 12u);
    EXPECT_EQ(loss->width, 176);
    long long lost = 0;
    for (const auto& f : loss->frames) lost += f.lost;
    EXPECT_GT(lost, 0);
}

TEST_F(DecodeTool, BadInputGivesOneLineAndKeepsThePreviousOutput)
{
    ScratchDirectory dir;
    writeFile(dir / "old.yuv", std::vector<std::uint8_t>(7, 9));
    writeFile(dir / "text.264", std::vector<std::uint8_t>{'n', 'o', 't', ' ', 'h', '2', '6', '4', '\n'});
    writeFile(dir / "lossy.264", *lossy);

    struct Case {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"-i", "missing.264", "-y", "old.yuv"}, "missing.264"},
        {{"-i", "text.264", "-y", "old.yuv"}, "no picture could be decoded from text.264"},
        {{"-error_concealment", "7", "-i", "lossy.264", "-y", "old.yuv"}, "-error_concealment must be 0, 1, 2 or 3"},
        {{"-P_error_concealment", "one", "-i", "lossy.264", "-y", "old.yuv"}, "'one' is not an integer"},
        {{"-i", "lossy.264"}, "no output file"},
        {{"-i", "lossy.264", "-y", "no/such/dir/out.yuv"}, "no/such/dir"},
    };
    for (const Case& c : cases) {
        auto run = runTool(decoder, c.args, dir.path());
        EXPECT_NE(run.exitCode, 0) << c.says;
        EXPECT_EQ(lineCount(run.err), 1) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(run.err.rfind("kestrune-decode: ", 0), 0u) << run.err;
        EXPECT_EQ(std::filesystem::file_size(dir / "old.yuv"), 7u) << c.says;
    }
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"lossy.264", "old.yuv", "text.264"}));
}

TEST_F(DecodeTool, HelpExplainsEveryOption)
{
    auto run = runTool(decoder, {"--help"}, std::filesystem::temp_directory_path());
    EXPECT_EQ(run.exitCode, 0);
    for (const char* word : {"-ec", "-error_concealment", "-P_error_concealment", "-i INPUT", "-y OUTPUT", "bilinear",
                             "average DC", "average macroblock", "boundary matching", "default 3", "default 1"})
        EXPECT_NE(run.out.find(word), std::string::npos) << word;
}

// A stream with slice groups goes to our decoder: one frame per picture
// under loss; libavcodec forced on it, or something outside Baseline in it,
// is one line on standard error, a non-zero exit and no output file.
TEST(DecodeToolSliceGroups, OurDecoderTakesSliceGroupStreamsAndRefusesWhatItCannot)
{
    using kestrune::codec::testing::makeSliceGroupStream;
    using kestrune::codec::testing::SliceGroupStreamSettings;
    ScratchDirectory dir;
    SliceGroupStreamSettings s;
    s.groups = 4;
    s.frames = 8;
    const auto stream = makeSliceGroupStream(s);
    // Lose one slice group of picture 3 and all of picture 5.
    std::vector<std::uint8_t> lossy;
    for (std::size_t p = 0; p < stream.accessUnits.size(); ++p) {
        if (p == 5) continue;
        auto nals = kestrune::codec::testing::splitNalUnits(stream.accessUnits[p]);
        if (p == 3) nals.erase(nals.begin() + 1);
        const auto bytes = kestrune::codec::testing::joinNalUnits(nals);
        lossy.insert(lossy.end(), bytes.begin(), bytes.end());
    }
    writeFile(dir / "groups.264", lossy);
    const std::size_t frame = 176 * 144 * 3 / 2;

    auto ours = runTool(decoder, {"-i", "groups.264", "-y", "out.yuv"}, dir.path());
    ASSERT_EQ(ours.exitCode, 0) << ours.err;
    EXPECT_EQ(std::filesystem::file_size(dir / "out.yuv"), 8 * frame);
    EXPECT_NE(ours.out.find("decoder: ours (slice groups"), std::string::npos) << ours.out;
    EXPECT_NE(ours.out.find("pictures decoded: 7, lost and repeated: 1"), std::string::npos) << ours.out;
    // The loss file: the dispersed map of every picture, and in picture 3 the
    // concealed macroblocks are exactly those of one slice group.
    const auto loss = kestrune::quality::parseFrameLoss(readFile(dir / "out.yuv.mbloss"));
    ASSERT_TRUE(loss);
    ASSERT_EQ(loss->frames.size(), 8u);
    std::string dispersed;
    for (int i = 0; i < 99; ++i) dispersed += char('0' + (i % 11 + (i / 11) * 4 / 2) % 4);
    EXPECT_EQ(loss->frames[5].macroblocks, std::string(99, 'R'));
    for (int p : {0, 3, 7}) EXPECT_EQ(loss->frames[std::size_t(p)].sliceGroups, dispersed) << p;
    const std::string& codes = loss->frames[3].macroblocks;
    const std::size_t first = codes.find_first_not_of(".p");
    ASSERT_NE(first, std::string::npos);
    for (std::size_t mb = 0; mb < 99; ++mb)
        EXPECT_EQ(codes[mb] == 'V', dispersed[mb] == dispersed[first]) << mb << ' ' << codes;

    auto refused = runTool(decoder, {"-decoder", "libavcodec", "-i", "groups.264", "-y", "refused.yuv"}, dir.path());
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_EQ(lineCount(refused.err), 1) << refused.err;
    EXPECT_NE(refused.err.find("slice groups"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "refused.yuv"));

    s.cabacFlag = true;
    writeFile(dir / "cabac.264", makeSliceGroupStream(s).bytes);
    auto outside = runTool(decoder, {"-i", "cabac.264", "-y", "cabac.yuv"}, dir.path());
    EXPECT_NE(outside.exitCode, 0);
    EXPECT_EQ(lineCount(outside.err), 1) << outside.err;
    EXPECT_NE(outside.err.find("CABAC"), std::string::npos) << outside.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "cabac.yuv"));
}

namespace {

// Damage to the slice NAL units of a stream that leaves readable the
// parameter sets and the numbers that place each picture (frame_num and
// idr_pic_id, within the first 8 bytes of these streams' slice headers): bit
// flips and truncation behind them, dropped slices. The tool places pictures
// by those numbers, so a rewritten number, or a duplicated picture whose
// frame_num repeats (read as the first picture after a lost IDR picture),
// changes how many frames it writes.
std::string damageSlices(std::vector<std::vector<std::uint8_t>>& nals, std::mt19937& rng)
{
    constexpr std::size_t kNumbersEnd = 8;
    std::string what;
    for (int k = 0; k < 1 + int(rng() % 3); ++k) {
        std::vector<std::size_t> slices;
        for (std::size_t i = 0; i < nals.size(); ++i)
            if (const int type = nals[i][0] & 0x1F; type == 1 || type == 5) slices.push_back(i);
        if (slices.empty()) break;
        const std::size_t i = slices[rng() % slices.size()];
        auto& nal = nals[i];
        switch (rng() % 3) {
            case 0:
                for (int f = 0; f < 1 + int(rng() % 8) && nal.size() > kNumbersEnd; ++f)
                    nal[kNumbersEnd + rng() % (nal.size() - kNumbersEnd)] ^= std::uint8_t(1u << (rng() % 8));
                what += "flip ";
                break;
            case 1:
                if (nal.size() > kNumbersEnd) nal.resize(kNumbersEnd + rng() % (nal.size() - kNumbersEnd));
                what += "truncate ";
                break;
            default:
                nals.erase(nals.begin() + std::ptrdiff_t(i));
                what += "drop ";
                break;
        }
    }
    return what;
}

} // namespace

// Damaged slice-group streams of every map type through the tool itself
// (our decoder, the concealment, the output file), which the sanitizer build
// runs instrumented: each run writes one frame per coded picture and nothing
// on standard error.
TEST(DecodeToolSliceGroups, DamagedStreamsDecodeCleanly)
{
    using namespace kestrune::codec::testing;
    ScratchDirectory dir;
    std::mt19937 rng(23);
    const std::size_t frame = 176 * 144 * 3 / 2;
    const int frames = 4;
    std::vector<std::vector<std::uint8_t>> sources;
    for (int type = 0; type <= 6; ++type) {
        SliceGroupStreamSettings s;
        s.mapType = type;
        s.groups = type >= 3 && type <= 5 ? 2 : 2 + type % 3;
        s.frames = frames;
        s.refs = 2;
        s.seed = unsigned(type + 1);
        sources.push_back(makeSliceGroupStream(s).bytes);
    }
    int brokenSlices = 0;
    for (int n = 0; n < 42; ++n) {
        auto nals = splitNalUnits(sources[std::size_t(n) % sources.size()]);
        const std::string damage = damageSlices(nals, rng);
        writeFile(dir / "damaged.264", joinNalUnits(nals));
        const std::string label = "stream " + std::to_string(n) + " (" + damage + ")";
        auto run = runTool(decoder, {"-error_concealment", std::to_string(n % 4), "-P_error_concealment",
                                     std::to_string(n / 4 % 2), "-i", "damaged.264", "-y", "out.yuv"}, dir.path());
        ASSERT_EQ(run.exitCode, 0) << label << ": " << run.err;
        EXPECT_EQ(run.err, "") << label;
        const auto output = run.out.find("(176x144, planar YUV 4:2:0, ");
        const auto slices = run.out.find("slices broken and concealed as lost: ");
        ASSERT_TRUE(output != std::string::npos && slices != std::string::npos) << label << ": " << run.out;
        const int written = std::stoi(run.out.substr(output + 28));
        brokenSlices += std::stoi(run.out.substr(slices + 37));
        EXPECT_EQ(std::filesystem::file_size(dir / "out.yuv"), std::size_t(written) * frame) << label;
        EXPECT_EQ(written, frames) << label << ": " << run.out;
    }
    EXPECT_GT(brokenSlices, 0) << "the damage reached the slice data";
}
