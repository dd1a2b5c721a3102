// Complete streams from other encoders (the standard's conformance streams
// beside the repository, listed in manifest.txt with libavcodec's frame count
// and md5): both decoders write exactly libavcodec's frames, and neither they
// nor the analyzer count a lost picture. A `_LOST` stream is a complete one
// less one picture: one frame per coded picture, and that one counted lost.
// Reads the manifest, so streams added to the folder are tested too.
#include "tests/support/openh264_stream.h"
#include "tests/tools/baseline_decoder/slice_group_stream.h"
#include "tests/tools/baseline_encoder/oracle_decoders.h"
#include "tests/tools/encode/tool_process.h"
#include "tools/analyze/analyzer.h"
#include "tools/baseline_decoder/picture_order_count.h"
#include "tools/bitstream/bitstream.h"
#include "tools/decode/run.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/md5.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
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

// ffmpeg.exe's run on a file. Nothing when the decoder refuses the stream:
// for what it does not support (error empty; the only refusal acceptable)
// or otherwise (error says why).
std::optional<decode::RunResult> runDecoder(const std::string& input, const std::filesystem::path& output,
                                            decode::DecoderSelection choice, std::string& error)
{
    decode::DecodeOptions options;
    options.input = input;
    options.output = output.string();
    options.decoder = choice;
    error.clear();
    try {
        return decode::runDecode(options);
    } catch (const std::exception& e) {
        const std::string what = e.what();
        if (what.find("outside the Baseline profile") == std::string::npos
            && what.find("cannot decode slice groups") == std::string::npos)
            error = what;
        return std::nullopt;
    }
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
            std::string error;
            const std::optional<decode::RunResult> result = runDecoder(path, dir / "out.yuv", choice, error);
            EXPECT_EQ(error, "");
            if (!result) continue;
            ++decodes;
            const decode::DecodeReport& r = result->report;
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

// Complete streams from two other encoders in many settings, and the
// conformance streams rewritten into other complete, valid streams (slices of
// each picture in reverse order, which Baseline allows; parameter sets, access
// unit delimiters, SEI, filler and end of sequence NAL units added). Oracle:
// libavcodec's own decode of the stream before any rewriting, through its
// own parser; both decoders must write exactly those frames, and no tool may
// infer a loss.
namespace {

using Bytes = std::vector<std::uint8_t>;
using Nal = Bytes;                         // without start code
using AccessUnit = std::vector<Nal>;

Bytes annexB(const std::vector<AccessUnit>& units)
{
    Bytes out;
    for (const AccessUnit& unit : units)
        for (const Nal& nal : unit) {
            out.insert(out.end(), {0, 0, 0, 1});
            out.insert(out.end(), nal.begin(), nal.end());
        }
    return out;
}

// libavcodec alone: its parser splits the stream, its decoder decodes it.
struct OracleDecode {
    int frames = 0;
    Bytes yuv;
};

OracleDecode decodeWithLibavcodecParser(const Bytes& stream)
{
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->thread_count = 1;
    avcodec_open2(context, codec, nullptr);
    AVCodecParserContext* parser = av_parser_init(AV_CODEC_ID_H264);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    OracleDecode out;
    auto drain = [&] {
        while (avcodec_receive_frame(context, frame) == 0) {
            const int w = frame->width, h = frame->height;
            for (int plane = 0; plane < 3; ++plane) {
                const int pw = plane ? (w + 1) / 2 : w, ph = plane ? (h + 1) / 2 : h;
                for (int y = 0; y < ph; ++y) {
                    const std::uint8_t* row = frame->data[plane] + std::ptrdiff_t(y) * frame->linesize[plane];
                    out.yuv.insert(out.yuv.end(), row, row + pw);
                }
            }
            ++out.frames;
        }
    };
    Bytes padded(stream);
    padded.resize(stream.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    const std::uint8_t* data = padded.data();
    int left = int(stream.size());
    for (bool flushing = false;;) {
        std::uint8_t* chunk = nullptr;
        int chunkSize = 0;
        const int used = av_parser_parse2(parser, context, &chunk, &chunkSize, flushing ? nullptr : data,
                                          flushing ? 0 : left, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        data += used;
        left -= used;
        if (chunkSize > 0) {
            packet->data = chunk;
            packet->size = chunkSize;
            avcodec_send_packet(context, packet);
            drain();
        }
        if (flushing && chunkSize == 0) break;
        if (left == 0) flushing = true;
    }
    avcodec_send_packet(context, nullptr);
    drain();
    av_frame_free(&frame);
    av_packet_free(&packet);
    av_parser_close(parser);
    avcodec_free_context(&context);
    return out;
}

// The access units of a complete stream that arrives in slice order: our
// reader's grouping, which the stream's unrewritten decode proves.
std::vector<AccessUnit> accessUnits(const Bytes& stream)
{
    h264::AnnexBReader reader{std::span<const std::uint8_t>(stream)};
    h264::NalParser parser;
    h264::AccessUnitDetector detector;
    std::vector<AccessUnit> units;
    h264::NalUnit nal;
    while (reader.next(nal)) {
        const h264::ParsedNal parsed = parser.parse(nal.bytes);
        if (detector.startsAccessUnit(parsed.header, parsed.slice ? &*parsed.slice : nullptr, parser.parameterSets())
            || units.empty())
            units.emplace_back();
        units.back().emplace_back(nal.bytes.begin(), nal.bytes.end());
    }
    return units;
}

int nalType(const Nal& nal) { return nal.empty() ? 0 : nal[0] & 0x1f; }
bool isSlice(const Nal& nal) { return nalType(nal) == 1 || nalType(nal) == 5; }

// Arbitrary slice order: each picture's primary slices in reverse order (the
// redundant ones, which follow them, stay behind them). Empty when no picture
// has two primary slices or the stream is not Baseline (the only profile that
// allows it).
Bytes slicesReversed(const Bytes& stream)
{
    std::vector<AccessUnit> units = accessUnits(stream);
    h264::NalParser parser;
    bool changed = false;
    for (AccessUnit& unit : units) {
        std::vector<std::size_t> primary;
        for (std::size_t i = 0; i < unit.size(); ++i) {
            const h264::ParsedNal parsed = parser.parse(unit[i]);
            if (parsed.sps && parsed.sps->profile_idc != 66) return {};
            if (isSlice(unit[i]) && parsed.slice && parsed.slice->complete && parsed.slice->redundant_pic_cnt == 0)
                primary.push_back(i);
        }
        for (std::size_t a = 0, b = primary.size(); a + 1 < b; ++a, --b) std::swap(unit[primary[a]], unit[primary[b - 1]]);
        changed |= primary.size() > 1;
    }
    return changed ? annexB(units) : Bytes{};
}

// The same pictures with what a muxer, a camera or a repeater adds: an
// access unit delimiter, every parameter set seen so far and an SEI message
// before each picture, filler data and a NAL unit of an unspecified type
// after its first slice, an end of sequence before each IDR picture after
// the first, and an end of stream.
Bytes withAddedNalUnits(const Bytes& stream)
{
    const Nal delimiter{0x09, 0xf0};
    const Nal userData{0x06, 0x05, 0x14, 0x6b, 0x65, 0x73, 0x74, 0x72, 0x75, 0x6e, 0x65, 0x11, 0x22, 0x33,
                       0x44, 0x55, 0x66, 0x77, 0x88, 0x74, 0x65, 0x73, 0x74, 0x80};
    const Nal filler{0x0c, 0xff, 0xff, 0xff, 0x80};
    const Nal unspecified{0x1e, 0x42, 0x80};
    const Nal endOfSequence{0x0a};
    std::map<int, Nal> sps, pps;  // the latest of each id, by nal bytes' order of arrival
    h264::NalParser parser;
    std::vector<AccessUnit> out;
    bool anyPicture = false;
    for (const AccessUnit& unit : accessUnits(stream)) {
        AccessUnit added{delimiter};
        for (const auto& [id, nal] : sps) added.push_back(nal);
        for (const auto& [id, nal] : pps) added.push_back(nal);
        bool sliceSeen = false, idr = false;
        for (const Nal& nal : unit) {
            const h264::ParsedNal parsed = parser.parse(nal);
            if (nalType(nal) == 9) continue;
            if (parsed.sps) sps[int(parsed.sps->seq_parameter_set_id)] = nal;
            if (parsed.pps) pps[int(parsed.pps->pic_parameter_set_id)] = nal;
            if (isSlice(nal) && !sliceSeen) added.push_back(userData);
            added.push_back(nal);
            if (isSlice(nal) && !sliceSeen) added.insert(added.end(), {filler, unspecified});
            idr |= nalType(nal) == 5;
            sliceSeen |= isSlice(nal);
        }
        if (idr && anyPicture) out.back().push_back(endOfSequence);
        anyPicture |= sliceSeen;
        out.push_back(std::move(added));
    }
    if (!out.empty()) out.back().push_back({0x0b});
    return annexB(out);
}

// Parameter sets and slice headers changed, slice data as it was. `slice`
// gets each slice's header as read and the new parameter sets, and changes
// the header; `first` marks a picture's first slice.
struct HeaderRewrite {
    std::function<void(h264::Sps&)> sps = [](h264::Sps&) {};
    std::function<void(h264::Pps&)> pps = [](h264::Pps&) {};
    std::function<void(const h264::ParsedNal& read, const h264::Sps& readSps, const h264::Sps& sps, bool first,
                       h264::SliceHeader& header)> slice;
    bool redundantCopies = false;  // each picture's slices again after it, as its redundant picture
};

Bytes rewriteHeaders(const Bytes& stream, const HeaderRewrite& rewrite)
{
    h264::NalParser parser;
    std::map<std::uint32_t, h264::Sps> spsById;
    std::map<std::uint32_t, h264::Pps> ppsById;
    std::vector<AccessUnit> out;
    for (const AccessUnit& unit : accessUnits(stream)) {
        AccessUnit written, redundant;
        bool first = true;
        for (const Nal& nal : unit) {
            const h264::ParsedNal parsed = parser.parse(nal);
            if (parsed.sps) {
                h264::Sps sps = *parsed.sps;
                rewrite.sps(sps);
                spsById[sps.seq_parameter_set_id] = sps;
                written.push_back(h264::spsNalUnit(sps, parsed.header.nal_ref_idc));
            } else if (parsed.pps) {
                h264::Pps pps = *parsed.pps;
                rewrite.pps(pps);
                ppsById[pps.pic_parameter_set_id] = pps;
                written.push_back(h264::ppsNalUnit(pps, &spsById.at(pps.seq_parameter_set_id), parsed.header.nal_ref_idc));
            } else if (isSlice(nal) && parsed.slice && parsed.slice->complete) {
                const h264::Pps& pps = ppsById.at(parsed.slice->pic_parameter_set_id);
                const h264::Sps& sps = spsById.at(pps.seq_parameter_set_id);
                const h264::Sps& readSps = *parser.parameterSets().findSps(
                    parser.parameterSets().findPps(parsed.slice->pic_parameter_set_id)->seq_parameter_set_id);
                h264::SliceHeader header = *parsed.slice;
                rewrite.slice(parsed, readSps, sps, first, header);
                first = false;
                written.push_back(h264::rewriteSliceHeader(nal, *parsed.slice, header, sps, pps));
                if (!rewrite.redundantCopies) continue;
                header.redundant_pic_cnt = 1;
                redundant.push_back(h264::rewriteSliceHeader(nal, *parsed.slice, header, sps, pps));
            } else {
                written.push_back(nal);
            }
        }
        written.insert(written.end(), redundant.begin(), redundant.end());
        out.push_back(std::move(written));
    }
    return annexB(out);
}

bool hasMemoryReset(const h264::SliceHeader& header)
{
    return std::any_of(header.mmcos.begin(), header.mmcos.end(),
                       [](const h264::MemoryManagementOperation& op) { return op.memory_management_control_operation == 5; });
}

// The same pictures in the same order with picture order count type 1, the
// smallest MaxFrameNum the references allow (frame_num wraps every 16 or 32
// pictures) and frame_num gaps allowed.
Bytes pocType1SmallFrameNum(const Bytes& stream)
{
    codec::PictureOrderCount read, written;
    std::int32_t delta = 0;
    HeaderRewrite rewrite;
    rewrite.sps = [](h264::Sps& sps) {
        sps.log2_max_frame_num_minus4 = sps.max_num_ref_frames > 7 ? 1 : 0;
        sps.gaps_in_frame_num_value_allowed_flag = true;
        sps.pic_order_cnt_type = 1;
        sps.delta_pic_order_always_zero_flag = false;
        sps.offset_for_non_ref_pic = 0;
        sps.offset_for_top_to_bottom_field = 0;
        sps.num_ref_frames_in_pic_order_cnt_cycle = 1;
        sps.offset_for_ref_frame = {2};
    };
    rewrite.slice = [&](const h264::ParsedNal& parsed, const h264::Sps& readSps, const h264::Sps& sps, bool first,
                        h264::SliceHeader& header) {
        header.frame_num %= 1u << sps.maxFrameNumBits();
        header.delta_pic_order_cnt[0] = header.delta_pic_order_cnt[1] = 0;
        if (first) {
            // delta_pic_order_cnt[0] carries what the new expected count lacks.
            const bool idr = parsed.header.nal_unit_type == 5, reference = parsed.header.nal_ref_idc != 0;
            const int count = read.next(readSps, *parsed.slice, parsed.header.nal_ref_idc, idr).value_or(0);
            const int expected = written.next(sps, header, parsed.header.nal_ref_idc, idr).value_or(0);
            read.pictureDone(reference, hasMemoryReset(*parsed.slice));
            written.pictureDone(reference, hasMemoryReset(*parsed.slice));
            delta = count - expected;
        }
        header.delta_pic_order_cnt[0] = delta;
    };
    return rewriteHeaders(stream, rewrite);
}

// The same pictures with MaxFrameNum 65,536 (frame_num counted on where it
// wrapped before) and idr_pic_id idOf(k) for the k-th IDR picture: numbers
// our own streams' convention (idr_pic_id the picture's place) must not be
// mistaken for.
Bytes wideFrameNumWithIdrIds(const Bytes& stream, std::uint32_t (*idOf)(std::uint32_t))
{
    std::int64_t offset = 0, previous = 0;
    std::uint32_t idrPictures = 0, current = 0;
    HeaderRewrite rewrite;
    rewrite.sps = [](h264::Sps& sps) { sps.log2_max_frame_num_minus4 = 12; };
    rewrite.slice = [&](const h264::ParsedNal& parsed, const h264::Sps& readSps, const h264::Sps&, bool first,
                        h264::SliceHeader& header) {
        const bool idr = parsed.header.nal_unit_type == 5;
        if (first) {
            if (idr) offset = 0, current = idOf(idrPictures++) % 65536;
            else if (previous > std::int64_t(header.frame_num)) offset += std::int64_t{1} << readSps.maxFrameNumBits();
            previous = hasMemoryReset(header) ? 0 : header.frame_num;
            if (hasMemoryReset(header)) offset = 0;
        }
        header.frame_num = std::uint32_t((offset + header.frame_num) % 65536);
        header.idr_pic_id = current;
    };
    return rewriteHeaders(stream, rewrite);
}

// Picture order count type 0 with a hole after every fourth frame, as a
// variable frame rate leaves (an encoder skipping source pictures): the same
// pictures in the same order. Empty for other types.
Bytes pocWithHoles(const Bytes& stream)
{
    codec::PictureOrderCount read;
    std::int64_t count = 0;
    bool type0 = true;
    HeaderRewrite rewrite;
    rewrite.sps = [&](h264::Sps& sps) {
        type0 &= sps.pic_order_cnt_type == 0;
        sps.log2_max_pic_order_cnt_lsb_minus4 = 12;
    };
    rewrite.slice = [&](const h264::ParsedNal& parsed, const h264::Sps& readSps, const h264::Sps&, bool first,
                        h264::SliceHeader& header) {
        if (first) {
            const bool idr = parsed.header.nal_unit_type == 5;
            count = read.next(readSps, *parsed.slice, parsed.header.nal_ref_idc, idr).value_or(0);
            read.pictureDone(parsed.header.nal_ref_idc != 0, hasMemoryReset(*parsed.slice));
        }
        header.pic_order_cnt_lsb = std::uint32_t((count + 2 * (count / 8)) % 65536);
    };
    Bytes out = rewriteHeaders(stream, rewrite);
    return type0 ? out : Bytes{};
}

// Every picture followed by a redundant picture: its own slices again with
// redundant_pic_cnt 1, which decoders use only when a primary slice is lost.
Bytes withRedundantPictures(const Bytes& stream)
{
    HeaderRewrite rewrite;
    rewrite.pps = [](h264::Pps& pps) { pps.redundant_pic_cnt_present_flag = true; };
    rewrite.slice = [](const h264::ParsedNal&, const h264::Sps&, const h264::Sps&, bool, h264::SliceHeader&) {};
    rewrite.redundantCopies = true;
    return rewriteHeaders(stream, rewrite);
}

// The base temporal layer of a stream with three layers: the IDR pictures and
// the reference pictures of even frame_num. What a receiver of the base layer
// alone gets: frame_num gaps, which the SPS of such a stream allows.
Bytes baseTemporalLayer(const Bytes& stream)
{
    h264::NalParser parser;
    std::vector<AccessUnit> kept;
    for (const AccessUnit& unit : accessUnits(stream)) {
        bool keep = true;
        for (const Nal& nal : unit) {
            const h264::ParsedNal parsed = parser.parse(nal);
            if (isSlice(nal) && parsed.slice)
                keep = nalType(nal) == 5 || (parsed.header.nal_ref_idc != 0 && parsed.slice->frame_num % 2 == 0);
        }
        if (keep) kept.push_back(unit);
    }
    return annexB(kept);
}

// Where two decodes part: the first frame that differs, and which of the
// oracle's frames it is instead (a frame written out of order), if any.
std::string firstDifference(const Bytes& written, const OracleDecode& oracle)
{
    const std::size_t size = oracle.yuv.size() / std::size_t(std::max(oracle.frames, 1));
    const auto frame = [&](const Bytes& yuv, std::size_t i) {
        return Bytes(yuv.begin() + std::ptrdiff_t(i * size), yuv.begin() + std::ptrdiff_t((i + 1) * size));
    };
    for (std::size_t i = 0; size > 0 && (i + 1) * size <= std::min(written.size(), oracle.yuv.size()); ++i) {
        const Bytes ours = frame(written, i);
        if (ours == frame(oracle.yuv, i)) continue;
        for (std::size_t j = 0; j < std::size_t(oracle.frames); ++j)
            if (ours == frame(oracle.yuv, j)) return std::to_string(i) + " (libavcodec's frame " + std::to_string(j) + ")";
        return std::to_string(i);
    }
    return "? (sizes " + std::to_string(written.size()) + ", " + std::to_string(oracle.yuv.size()) + ")";
}

struct Candidate {
    std::string name;
    Bytes stream;
    Bytes original;  // what the oracle decodes: the stream before rewriting
    std::optional<OracleDecode> expected;  // instead of libavcodec's decode (slice groups); yuv empty: the count only
};

void addWithRewrites(std::vector<Candidate>& candidates, const std::string& name, const Bytes& stream)
{
    candidates.push_back({name, stream, stream});
    if (Bytes reversed = slicesReversed(stream); !reversed.empty())
        candidates.push_back({name + " slices reversed", std::move(reversed), stream});
    candidates.push_back({name + " NAL units added", withAddedNalUnits(stream), stream});
    candidates.push_back({name + " redundant pictures", withRedundantPictures(stream), stream});
    // Kept only where libavcodec decodes them as the original: the rewrite
    // holds for the stream's references.
    const Bytes frames = decodeWithLibavcodecParser(stream).yuv;
    const auto alternating = [](std::uint32_t k) { return k % 2; };
    const auto scattered = [](std::uint32_t k) { return k * 12345u + 7u; };
    for (auto [rewritten, what] : {std::pair{pocType1SmallFrameNum(stream), " POC type 1 small MaxFrameNum"},
                                   std::pair{wideFrameNumWithIdrIds(stream, alternating), " wide frame_num idr_pic_id 0 1"},
                                   std::pair{wideFrameNumWithIdrIds(stream, scattered), " wide frame_num idr_pic_id scattered"},
                                   std::pair{pocWithHoles(stream), " POC with holes"}}) {
        if (rewritten.empty()) continue;
        const bool holds = decodeWithLibavcodecParser(rewritten).yuv == frames;
        candidates.push_back({name + what, holds ? rewritten : Bytes{}, stream});  // left out, and said so
    }
}

Bytes x264(const kestrune::testing::X264StreamOptions& o) { return kestrune::testing::encodeX264Stream(o).bytes(); }

} // namespace

TEST(ForeignStreams, EveryCompleteStreamDecodesToLibavcodecsFramesWithNoLossInferred)
{
    av_log_set_level(AV_LOG_QUIET);
    std::vector<Candidate> candidates;
    addWithRewrites(candidates, "x264 baseline 4 refs 3 slices keyint 8",
                    x264({.frames = 30, .profile = "baseline", .slices = 3, .keyint = 8, .keyintMin = 8, .refs = 4}));
    addWithRewrites(candidates, "x264 baseline scene cuts", x264({.frames = 40, .picture = kestrune::testing::renderSample,
                                                                  .profile = "baseline", .keyintMin = 2, .scenecut = 40}));
    addWithRewrites(candidates, "x264 baseline every picture IDR",
                    x264({.frames = 12, .profile = "baseline", .slices = 2, .keyint = 1}));
    addWithRewrites(candidates, "x264 baseline intra refresh AUD HRD",
                    x264({.frames = 40, .profile = "baseline", .keyint = 10, .aud = true, .hrd = true, .intraRefresh = true}));
    addWithRewrites(candidates, "x264 main 3 B pyramid 4 refs",
                    x264({.frames = 40, .profile = "main", .bframes = 3, .keyint = 16, .refs = 4, .weightedPrediction = false, .bPyramid = 2}));
    addWithRewrites(candidates, "x264 main 2 B non-reference", x264({.frames = 30, .picture = kestrune::testing::renderSample,
                                                                      .profile = "main", .bframes = 2, .slices = 2,
                                                                      .keyintMin = 4, .scenecut = 40, .weightedBipred = false,
                                                                      .bPyramid = 0}));
    addWithRewrites(candidates, "x264 main interlaced", x264({.frames = 16, .profile = "main", .bframes = 1, .interlaced = true}));
    addWithRewrites(candidates, "x264 main cropped 172x138 B pictures",
                    x264({.width = 172, .height = 138, .frames = 20, .profile = "main", .bframes = 2, .keyint = 10}));
    addWithRewrites(candidates, "x264 high open GOP weighted prediction",
                    x264({.frames = 40, .picture = kestrune::testing::renderSample, .profile = "high", .bframes = 3,
                          .keyint = 12, .scenecut = 40, .refs = 3, .weightedPrediction = true, .openGop = true}));
    addWithRewrites(candidates, "OpenH264 3 temporal layers 4 slices",
                    kestrune::testing::encodeOpenH264Stream({.frames = 30, .slices = 4, .temporalLayers = 3, .intraPeriod = 16}));
    addWithRewrites(candidates, "OpenH264 4 temporal layers 4 refs",
                    kestrune::testing::encodeOpenH264Stream({.frames = 40, .temporalLayers = 4, .referenceFrames = 4}));
    addWithRewrites(candidates, "OpenH264 long-term references",
                    kestrune::testing::encodeOpenH264Stream({.frames = 40, .slices = 2, .temporalLayers = 2, .referenceFrames = 4,
                                                   .intraPeriod = 12, .longTermReferences = true}));
    addWithRewrites(candidates, "OpenH264 parameter set ids increasing",
                    kestrune::testing::encodeOpenH264Stream({.frames = 30, .slices = 3, .intraPeriod = 5, .parameterSetIds = 1}));
    addWithRewrites(candidates, "OpenH264 parameter set listing", kestrune::testing::encodeOpenH264Stream(
        {.frames = 30, .picture = kestrune::testing::renderSample, .temporalLayers = 2, .intraPeriod = 4, .parameterSetIds = 3}));
    addWithRewrites(candidates, "OpenH264 every picture IDR",
                    kestrune::testing::encodeOpenH264Stream({.frames = 10, .slices = 2, .intraPeriod = 1}));
    addWithRewrites(candidates, "OpenH264 two spatial layers (SVC)",
                    kestrune::testing::encodeOpenH264Stream({.frames = 20, .slices = 2, .temporalLayers = 2, .twoSpatialLayers = true}));
    addWithRewrites(candidates, "OpenH264 prefix NAL units",
                    kestrune::testing::encodeOpenH264Stream({.frames = 24, .slices = 3, .temporalLayers = 3, .prefixNal = true}));
    {
        // Its pictures decode as in the whole stream (checked below), and
        // libavcodec writes one frame for each.
        const Bytes layered = kestrune::testing::encodeOpenH264Stream({.frames = 32, .temporalLayers = 3, .intraPeriod = 16});
        const Bytes base = baseTemporalLayer(layered);
        const OracleDecode whole = decodeWithLibavcodecParser(layered), reduced = decodeWithLibavcodecParser(base);
        const std::size_t frameBytes = whole.yuv.size() / std::size_t(std::max(whole.frames, 1));
        Bytes everyFourth;
        for (int i = 0; i < whole.frames; i += 4)
            everyFourth.insert(everyFourth.end(), whole.yuv.begin() + std::ptrdiff_t(i * frameBytes),
                               whole.yuv.begin() + std::ptrdiff_t((i + 1) * frameBytes));
        EXPECT_EQ(reduced.frames, whole.frames / 4);
        EXPECT_TRUE(reduced.yuv == everyFourth) << "the base layer decodes to the whole stream's frames";
        addWithRewrites(candidates, "OpenH264 base temporal layer (frame_num gaps)", base);
    }
    for (int mapType = 0; mapType <= 6; ++mapType) {
        // Slice groups of every map type, in reverse order, each slice with a
        // redundant copy, reordered reference lists and memory management.
        // Only OpenH264 decodes map types 0 and 1 independently (deblocking
        // off); of the others the frame count is known.
        kestrune::codec::testing::SliceGroupStreamSettings settings{
            .frames = 9, .groups = 3, .mapType = mapType, .disableDeblocking = 1, .reverseSliceOrder = true,
            .redundantSlices = true, .refs = 3, .reorder = true, .memoryManagement = true, .seed = unsigned(mapType)};
        const auto stream = kestrune::codec::testing::makeSliceGroupStream(settings);
        // OpenH264 withholds pictures that carry redundant slices: it decodes the same stream without them.
        settings.redundantSlices = false;
        OracleDecode expected{9, {}};
        if (mapType <= 1)
            for (const auto& frame : kestrune::testing::decodeWithOpenH264(
                     kestrune::codec::testing::makeSliceGroupStream(settings).accessUnits, 176, 144))
                expected.yuv.insert(expected.yuv.end(), frame.begin(), frame.end());
        EXPECT_EQ(expected.yuv.size(), mapType <= 1 ? 9u * 176 * 144 * 3 / 2 : 0u) << "OpenH264 decodes map type " << mapType;
        const std::string name = "slice groups map type " + std::to_string(mapType);
        candidates.push_back({name, stream.bytes, {}, expected});
        candidates.push_back({name + " NAL units added", withAddedNalUnits(stream.bytes), {}, expected});
    }
    {
        // Recordings spliced back to back: each part begins with its own parameter sets and IDR picture.
        Bytes spliced = x264({.frames = 13, .profile = "baseline", .slices = 2, .keyint = 6});
        const Bytes other = kestrune::testing::encodeOpenH264Stream({.frames = 17, .temporalLayers = 2, .intraPeriod = 8});
        spliced.insert(spliced.end(), other.begin(), other.end());
        addWithRewrites(candidates, "x264 and OpenH264 spliced", spliced);
        const Bytes larger = x264({.width = 352, .height = 280, .frames = 7, .profile = "main", .bframes = 2, .keyint = 4});
        spliced.insert(spliced.end(), larger.begin(), larger.end());
        addWithRewrites(candidates, "spliced with a larger cropped picture size and B pictures", spliced);
    }
    const std::filesystem::path folder = conformanceFolder();
    for (const Listed& listed : manifest(folder))
        if (listed.file.find("_LOST") == std::string::npos)
            addWithRewrites(candidates, listed.file, kestrune::testing::readBytes(folder / listed.file));

    ScratchDirectory dir;
    std::vector<std::string> wrong;
    std::string leftOut;
    int decodes = 0, tried = 0;
    for (const Candidate& c : candidates) {
        if (c.stream.empty()) {
            leftOut += " [" + c.name + "]";
            continue;
        }
        ++tried;
        const OracleDecode oracle = c.expected ? *c.expected : decodeWithLibavcodecParser(c.original);
        const bool countOnly = c.expected && c.expected->yuv.empty();
        kestrune::testing::writeBytes(dir / "in.264", c.stream);
        h264::AnnexBReader reader{c.stream};
        analyze::StreamSummary summary;
        std::string error;
        if (!analyze::summarizeStream(reader, summary, [](int, std::uint64_t) {}, error) || summary.lostPictures != 0
            || summary.guessedPlaces != 0)
            wrong.push_back(c.name + ": analyzer " + std::to_string(summary.codedPictures) + " coded, "
                            + std::to_string(summary.lostPictures) + " lost, "
                            + std::to_string(summary.guessedPlaces) + " guessed " + error);
        for (decode::DecoderSelection choice : {decode::DecoderSelection::Libavcodec, decode::DecoderSelection::Ours}) {
            const std::string who = c.name + (choice == decode::DecoderSelection::Ours ? " -decoder ours" : " -decoder libavcodec");
            std::string error;
            const std::optional<decode::RunResult> result = runDecoder((dir / "in.264").string(), dir / "out.yuv", choice, error);
            if (!error.empty()) wrong.push_back(who + ": " + error);
            if (!result) continue;
            ++decodes;
            const decode::DecodeReport& r = result->report;
            const Bytes written = kestrune::testing::readBytes(dir / "out.yuv");
            if (r.framesWritten != oracle.frames || r.picturesLost != 0 || r.guessedPlaces != 0
                || (!countOnly && written != oracle.yuv))
                wrong.push_back(who + ": " + std::to_string(r.framesWritten) + " frames of "
                                + std::to_string(oracle.frames) + ", " + std::to_string(r.picturesLost) + " lost, "
                                + std::to_string(r.guessedPlaces) + " guessed, "
                                + std::to_string(r.intra.lost + r.inter.lost + r.bidir.lost) + " macroblocks lost, frames "
                                + (written == oracle.yuv ? "equal" : "differ from frame " + firstDifference(written, oracle))
                                + "; " + decode::placementNotes(r));
        }
    }
    std::string list;
    for (const std::string& w : wrong) list += w + "\n";
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " of " << tried << " streams misfired:\n" << list;
    EXPECT_GE(decodes, tried) << "at least one decoder per stream";
    std::cout << tried << " streams tried; rewrites libavcodec itself decodes differently, left out:" << leftOut << "\n";
}

TEST(ForeignStreams, PicturesOtherThan8Bit420AreRefusedNotWrittenAsGarbage)
{
    av_log_set_level(AV_LOG_QUIET);
    ScratchDirectory dir;
    kestrune::testing::writeBytes(dir / "in.264", x264({.frames = 4, .chroma444 = true}));
    std::string error;
    EXPECT_FALSE(runDecoder((dir / "in.264").string(), dir / "out.yuv", decode::DecoderSelection::Libavcodec, error));
    EXPECT_NE(error.find("not 8-bit 4:2:0"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.yuv"));
}
