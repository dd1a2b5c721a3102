#include "tools/analyze/analyzer.h"

#include "tools/analyze/pattern_reader.h"
#include "tools/bitstream/bitstream.h"
#include "tools/common/atomic_output.h"
#include "tools/common/integer_syntax.h"
#include "tools/common/tool_front_end.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <memory>
#include <ostream>
#include <sstream>

namespace kestrune::analyze {
namespace {

using namespace kestrune::h264;

constexpr std::size_t kMaxWarningsListed = 20;
// Mode 0 only needs headers; a cap keeps huge NAL units out of memory.
constexpr std::size_t kSummaryKeepBytes = 64 * 1024;
constexpr std::size_t kSliceKeepBytes = 256;  // more than any slice header needs
constexpr std::size_t kDescribeKeepBytes = 1 << 20;
constexpr std::size_t kHexDumpCap = 256;
constexpr const char* kCrLf = "\r\n";

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string unitPlace(std::uint64_t number, const NalUnit& unit, int type)
{
    return "NAL unit " + std::to_string(number) + " (" + std::string(nalUnitTypeTag(type)) + " at byte "
        + std::to_string(unit.offset) + ")";
}

int summaryListOfSlice(const ParsedNal& p)
{
    if (p.header.nal_unit_type == NalIdrSlice) return ListI;
    if (!p.slice || !p.slice->typeParsed) return -1;
    switch (p.slice->kind()) {
    case SliceKind::I: case SliceKind::SI: return ListI;
    case SliceKind::P: case SliceKind::SP: return ListP;
    case SliceKind::B: return ListB;
    }
    return -1;
}

std::string formatRate(double fps)
{
    std::ostringstream s;
    s << std::setprecision(6) << fps;
    return s.str();
}

std::string hexLines(std::span<const std::uint8_t> bytes, const std::string& indent)
{
    static const char* const kHex = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i % 16 == 0) text += (i ? kCrLf : "") + indent;
        else text += ' ';
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 15];
    }
    if (!bytes.empty()) text += kCrLf;
    return text;
}

bool writeText(const std::filesystem::path& path, const std::string& text, std::string& error)
{
    AtomicOutput out(path);
    if (!out.ok() || !out.write(text.data(), text.size()) || !out.commit()) {
        error = out.error();
        return false;
    }
    return true;
}

// --- mode 0 -------------------------------------------------------------

int runSummary(const std::string& stream, const std::filesystem::path& workDir, std::ostream& out, std::ostream& err,
               const std::string& program)
{
    const auto generalPath = workDir / "general.txt";
    auto fail = [&](const std::string& message) {
        // An old summary of another stream must not be mistaken for this one's.
        std::error_code ignored;
        std::filesystem::remove(generalPath, ignored);
        err << program << ": " << message << "\n";
        return 1;
    };
    AnnexBReader reader(std::filesystem::path(stream), kSummaryKeepBytes, kSliceKeepBytes);
    if (!reader.isOpen()) return fail("cannot read " + reader.error());

    // The number lists go to temporary files so memory stays constant.
    std::array<FilePtr, kListCount> lists;
    for (auto& list : lists) {
        list.reset(std::tmpfile());
        if (!list) return fail(std::string("cannot create a temporary file: ") + std::strerror(errno));
    }
    StreamSummary summary;
    std::string error;
    std::array<std::string, kListCount> pending;
    std::array<bool, kListCount> listed{};
    auto flush = [&](std::size_t i) {
        std::fwrite(pending[i].data(), 1, pending[i].size(), lists[i].get());
        pending[i].clear();
    };
    const bool ok = summarizeStream(reader, summary, [&](int list, std::uint64_t number) {
        const auto i = static_cast<std::size_t>(list);
        char text[24];
        if (listed[i]) pending[i] += ' ';
        listed[i] = true;
        pending[i].append(text, std::to_chars(text, text + sizeof text, number).ptr);
        if (pending[i].size() >= 1 << 16) flush(i);
    }, error);
    for (std::size_t i = 0; i < kListCount; ++i) flush(i);
    if (!ok) return fail("cannot read " + stream + ": " + error);

    AtomicOutput general(generalPath);
    if (!general.ok()) return fail(general.error());
    std::string head;
    for (std::uint64_t v : {summary.total, summary.sei, summary.sps, summary.pps, summary.iSlices, summary.pSlices, summary.bSlices})
        head += std::to_string(v) + kCrLf;
    bool written = general.write(head.data(), head.size());
    std::vector<char> buffer(1 << 16);
    for (auto& list : lists) {
        std::rewind(list.get());
        std::size_t got;
        while (written && (got = std::fread(buffer.data(), 1, buffer.size(), list.get())) > 0)
            written = general.write(buffer.data(), got);
        written = written && !std::ferror(list.get()) && general.write(kCrLf, 2);
    }
    if (!written || !general.commit()) return fail("cannot write general.txt: " + general.error());
    out << formatReport(stream, summary);
    return 0;
}

// --- mode 1 -------------------------------------------------------------

int runApplyLoss(const std::string& stream, const std::string& patternPath, const std::string& countText,
                 const std::string& output, std::ostream& out, std::ostream& err, const std::string& program)
{
    auto fail = [&](const std::string& message) {
        err << program << ": " << message << "\n";
        return 1;
    };
    const auto count = parseInteger(countText);
    if (!count) {
        fail("NAL unit count \"" + countText + "\" is not an integer");
        return kExitBadArguments;
    }
    PatternReader pattern(patternPath);
    if (!pattern.isOpen()) return fail("cannot read the loss pattern " + pattern.error());

    std::vector<std::uint64_t> dropped;  // reported, so kept; small next to the stream
    std::uint64_t droppedBytes = 0;
    std::string patternError;
    std::string error;
    const std::int64_t total = copyWithout(stream, output, [&](std::uint64_t number, const NalUnit& unit) {
        // NAL units numbered at or above the count are never dropped, so the
        // window's list of dropped numbers names exactly what is missing.
        if (!patternError.empty() || static_cast<std::int64_t>(number) >= *count) return false;
        const auto value = pattern.next();
        if (!value) {
            patternError = pattern.error();
            return false;
        }
        if (*value != 0) return false;
        dropped.push_back(number);
        droppedBytes += unit.size;
        return true;
    }, [&](std::uint64_t) { return patternError.empty(); }, error);
    if (total < 0) return fail(error);
    if (!patternError.empty()) return fail("loss pattern " + patternPath + ": " + patternError + "; nothing written");

    out << "Applied loss pattern " << patternPath << " to " << stream << " (" << total << " NAL units)\n";
    out << "NAL units numbered " << *count << " and above are never dropped\n";
    out << "Dropped " << dropped.size() << " NAL units (" << droppedBytes << " bytes):";
    for (std::size_t i = 0; i < dropped.size(); ++i) out << (i ? "," : " ") << dropped[i];
    out << "\nWrote " << output << " with " << (static_cast<std::uint64_t>(total) - dropped.size()) << " NAL units\n";
    return 0;
}

// --- mode 2 -------------------------------------------------------------

std::string describeUnit(const std::string& stream, std::uint64_t number, const NalUnit& unit, const ParsedNal& p,
                         const Trace& trace)
{
    std::ostringstream s;
    const int type = p.header.nal_unit_type;
    s << "NAL unit " << number << " of " << stream << kCrLf;
    s << "byte offset: " << unit.offset << " (with its start code from byte " << unit.spanOffset << ")" << kCrLf;
    s << "size: " << unit.size << " bytes" << kCrLf;
    s << "nal_ref_idc: " << p.header.nal_ref_idc << kCrLf;
    s << "type: " << type << ", " << nalUnitTypeName(type) << " (" << nalUnitTypeTag(type) << ")" << kCrLf;
    s << "status: " << resultName(p.status.result);
    if (!p.status.ok()) s << ": " << p.status.message;
    s << kCrLf;
    if (p.slice && p.slice->typeParsed)
        s << "slice kind: " << sliceKindName(p.slice->kind()) << kCrLf;
    if (p.sps && p.status.ok())
        s << "picture: " << p.sps->width() << "x" << p.sps->height() << ", " << profileName(*p.sps) << " profile, level "
          << levelName(*p.sps) << kCrLf;
    s << "syntax elements:" << kCrLf;
    for (const auto& e : trace) s << "  " << e.name << " = " << e.value << kCrLf;
    for (std::size_t i = 0; i < p.sei.size(); ++i) {
        const SeiMessage& m = p.sei[i];
        s << "  sei_message[" << i << "].payloadType = " << m.payloadType << " (" << seiPayloadTypeName(m.payloadType) << ")" << kCrLf;
        s << "  sei_message[" << i << "].payloadSize = " << m.payloadSize << kCrLf;
        if (m.payloadType == 5) {
            s << "  sei_message[" << i << "]: " << describeUserDataUnregistered(m.payload) << kCrLf;
        } else {
            s << hexLines(m.payload.first(std::min(m.payload.size(), kHexDumpCap)), "    ");
        }
    }
    const bool parsedType = type == NalSps || type == NalPps || type == NalSei || isPrimarySliceNalType(type);
    if (p.slice && p.slice->complete) s << "slice header length: " << p.slice->headerBits << " bits" << kCrLf;
    if (!parsedType) {
        const auto payload = std::span<const std::uint8_t>(unit.bytes).subspan(
            std::min<std::size_t>(unit.bytes.size(), static_cast<std::size_t>(p.header.headerBytes)));
        const std::size_t shown = std::min(payload.size(), kHexDumpCap);
        s << "payload: " << (unit.size - static_cast<std::uint64_t>(p.header.headerBytes)) << " bytes";
        if (shown < unit.size - static_cast<std::uint64_t>(p.header.headerBytes)) s << ", the first " << shown << " shown";
        s << kCrLf << hexLines(payload.first(shown), "  ");
    }
    return s.str();
}

int runDescribe(const std::string& stream, const std::string& numberText, const std::filesystem::path& workDir,
                std::ostream& out, std::ostream& err, const std::string& program)
{
    const auto debugPath = workDir / "debug.txt";
    // The window shows debug.txt, so a failure is written there as well.
    auto fail = [&](const std::string& message) {
        std::string ignored;
        writeText(debugPath, message + kCrLf, ignored);
        err << program << ": " << message << "\n";
        return 1;
    };
    const auto number = parseInteger(numberText);
    if (!number) {
        fail("NAL unit number \"" + numberText + "\" is not an integer");
        return kExitBadArguments;
    }
    AnnexBReader reader(std::filesystem::path(stream), kDescribeKeepBytes);
    if (!reader.isOpen()) return fail("cannot read " + reader.error());
    NalParser parser;
    NalUnit unit;
    std::uint64_t count = 0;
    while (reader.next(unit)) {
        ++count;
        if (static_cast<std::int64_t>(count) == *number) {
            Trace trace;
            const ParsedNal p = parser.parse(unit.bytes, unit.clipped(), &trace);
            std::string error;
            if (!writeText(debugPath, describeUnit(stream, count, unit, p, trace), error))
                return fail("cannot write debug.txt: " + error);
            out << "Described NAL unit " << count << " of " << stream << " in debug.txt\n";
            return 0;
        }
        const int type = unit.bytes[0] & 31;
        if (type == NalSps || type == NalPps) parser.parse(unit.bytes, unit.clipped());
    }
    if (!reader.error().empty()) return fail("cannot read " + stream + ": " + reader.error());
    return fail("NAL unit " + numberText + " does not exist: " + stream + " has " + std::to_string(count)
                + " NAL units (numbered from 1)");
}

// --- mode 3 -------------------------------------------------------------

int runRemove(const std::string& stream, const std::string& numberText, std::ostream& out, std::ostream& err,
              const std::string& program)
{
    auto fail = [&](const std::string& message) {
        err << program << ": " << message << "\n";
        return 1;
    };
    const auto number = parseInteger(numberText);
    if (!number) {
        fail("NAL unit number \"" + numberText + "\" is not an integer");
        return kExitBadArguments;
    }
    std::string removed;
    std::string error;
    const std::int64_t total = copyWithout(stream, stream, [&](std::uint64_t n, const NalUnit& unit) {
        if (static_cast<std::int64_t>(n) != *number) return false;
        const int type = unit.bytes[0] & 31;
        removed = "NAL unit " + std::to_string(n) + " (" + std::string(nalUnitTypeName(type)) + ", nal_unit_type "
            + std::to_string(type) + ", " + std::to_string(unit.size) + " bytes at byte " + std::to_string(unit.offset) + ")";
        return true;
    }, [&](std::uint64_t) { return !removed.empty(); }, error);
    if (total < 0) return fail(error);
    if (removed.empty())
        return fail("NAL unit " + numberText + " does not exist: " + stream + " has " + std::to_string(total)
                    + " NAL units (numbered from 1); the stream is unchanged");
    out << "Removed " << removed << " from " << stream << "; " << (total - 1) << " NAL units remain\n";
    return 0;
}

} // namespace

std::string usage(const std::string& program)
{
    return "Usage:\n"
           "  " + program + " STREAM 0                       analyze: general.txt in the current directory, report on standard output\n"
           "  " + program + " STREAM 1 PATTERN COUNT OUTPUT  write OUTPUT without the NAL units that PATTERN marks 0;\n"
           "                                              NAL units numbered COUNT and above are never dropped\n"
           "  " + program + " STREAM 2 NUMBER                describe NAL unit NUMBER (from 1) in debug.txt\n"
           "  " + program + " STREAM 3 NUMBER                remove NAL unit NUMBER from STREAM (rewritten atomically)\n"
           "STREAM is an H.264 Annex B byte stream. general.txt holds, one per line: the numbers of NAL units,\n"
           "SEI, SPS, PPS, I, P and B slices, then the NAL unit numbers of the SEI, SPS, PPS, I, P and B slices.\n"
           + kExitStatusHelp;
}

bool summarizeStream(AnnexBReader& reader, StreamSummary& summary,
                     const std::function<void(int, std::uint64_t)>& listSink, std::string& error)
{
    NalParser parser;
    AccessUnitDetector detector;
    NalUnit unit;
    std::uint64_t number = 0;
    std::uint64_t slicesInCurrent = 0;
    bool haveSps = false;
    bool havePps = false;
    auto warn = [&](std::string text) {
        if (summary.warnings.size() < kMaxWarningsListed) summary.warnings.push_back(std::move(text));
        ++summary.warningCount;
    };
    PicturePlacer placer;
    RepeatedSliceFilter repeats;
    PictureNumbers numbers;            // of the picture being read
    bool setsSinceSlice = false;
    std::int64_t lastPlace = -1;
    auto placed = [&](const std::vector<Placement>& places) {
        for (const Placement& p : places) lastPlace = p.index;
    };
    auto closePicture = [&] {
        if (slicesInCurrent == 0) return;
        placed(placer.add(numbers));
        if (summary.pictures == 0 || slicesInCurrent < summary.minSlicesPerPicture) summary.minSlicesPerPicture = slicesInCurrent;
        if (slicesInCurrent > summary.maxSlicesPerPicture) summary.maxSlicesPerPicture = slicesInCurrent;
        ++summary.pictures;
        summary.slicesInPictures += slicesInCurrent;
        slicesInCurrent = 0;
    };
    while (reader.next(unit)) {
        ++number;
        const ParsedNal p = parser.parse(unit.bytes, unit.clipped());
        const int type = p.header.nal_unit_type;
        ++summary.total;
        ++summary.countByType[static_cast<std::size_t>(type)];
        summary.bytesByType[static_cast<std::size_t>(type)] += unit.size;
        if (!p.status.ok()) warn(unitPlace(number, unit, type) + ": " + std::string(resultName(p.status.result)) + ": " + p.status.message);
        if (isReservedOrUnspecifiedNalType(type))
            warn(unitPlace(number, unit, type) + ": " + std::string(nalUnitTypeName(type)) + " nal_unit_type " + std::to_string(type));
        // A repeat is listed like any NAL unit but is no part of a picture.
        const bool repeat = !unit.clipped() && repeats.repeated(unit.bytes);
        if (repeat) warn(unitPlace(number, unit, type) + ": repeats an earlier slice byte for byte; not counted in a picture");
        else {
            const bool starts = detector.startsAccessUnit(p.header, p.slice ? &*p.slice : nullptr, parser.parameterSets());
            repeats.note(unit.bytes, starts);
            if (starts) closePicture();
        }

        int list = -1;
        switch (type) {
        case NalSei: ++summary.sei; list = ListSei; break;
        case NalSps:
            setsSinceSlice = true;
            ++summary.sps;
            list = ListSps;
            if (p.sps && !haveSps) {
                haveSps = true;
                summary.profile = profileName(*p.sps);
                summary.level = levelName(*p.sps);
                summary.width = p.sps->width();
                summary.height = p.sps->height();
                summary.codedWidth = p.sps->codedWidth();
                summary.codedHeight = p.sps->codedHeight();
                summary.frameRate = p.sps->frameRate();
                summary.interlaced = !p.sps->frame_mbs_only_flag;
            }
            break;
        case NalPps:
            setsSinceSlice = true;
            ++summary.pps;
            list = ListPps;
            if (p.pps && !havePps) {
                havePps = true;
                summary.entropyCoder = p.pps->entropy_coding_mode_flag ? "CABAC" : "CAVLC";
            }
            break;
        case NalSlice: case NalPartitionA: case NalIdrSlice:
            if (repeat) {
                list = summaryListOfSlice(p);
                break;
            }
            if (slicesInCurrent == 0 && p.slice) {
                numbers = pictureNumbersOf(p.header, *p.slice, parser.parameterSets());
                numbers.afterParameterSets = setsSinceSlice;
            }
            setsSinceSlice = false;
            ++slicesInCurrent;
            list = summaryListOfSlice(p);
            if (list == ListI) ++summary.iSlices;
            if (list == ListP) ++summary.pSlices;
            if (list == ListB) ++summary.bSlices;
            break;
        default: break;
        }
        if (list >= 0) listSink(list, number);
    }
    if (!reader.error().empty()) {
        error = reader.error();
        return false;
    }
    closePicture();
    placed(placer.finish());
    summary.codedPictures = static_cast<std::uint64_t>(lastPlace + 1);
    summary.lostPictures = summary.codedPictures - summary.pictures;
    summary.wrapHidesLoss = placer.wrapHidesLoss();
    summary.untracedLossPossible = placer.untracedLossPossible();
    summary.guessedPlaces = placer.guessedPictures();
    summary.streamBytes = reader.bytesRead();
    if (reader.leadingGarbageBytes())
        warn(std::to_string(reader.leadingGarbageBytes()) + " non-zero bytes before the first start code were skipped");
    return true;
}

std::string formatReport(const std::string& streamName, const StreamSummary& s)
{
    std::ostringstream r;
    r << "Stream: " << streamName << " (" << s.streamBytes << " bytes)\n";
    if (s.total == 0) {
        r << "No NAL units found: this is not an H.264 Annex B byte stream, or it is empty.\n";
    }
    if (!s.profile.empty()) {
        r << "Profile: " << s.profile << ", level " << s.level << "\n";
        r << "Resolution: " << s.width << "x" << s.height;
        if (s.width != s.codedWidth || s.height != s.codedHeight) r << " (coded " << s.codedWidth << "x" << s.codedHeight << ")";
        r << (s.interlaced ? ", interlaced coding allowed" : "") << "\n";
        r << "Frame rate: " << (s.frameRate > 0 ? formatRate(s.frameRate) + " frames/s (VUI timing)" : "not signalled") << "\n";
    } else if (s.total) {
        r << "No readable sequence parameter set.\n";
    }
    if (!s.entropyCoder.empty()) r << "Entropy coder: " << s.entropyCoder << "\n";
    r << "Pictures: " << s.pictures;
    if (s.lostPictures > 0) r << " received of " << s.codedPictures << " coded (" << s.lostPictures << " lost)";
    r << "\n";
    if (s.untracedLossPossible)
        r << "This stream has pictures that no other picture refers to (B pictures, or nal_ref_idc 0): such a picture "
             "lost leaves no trace in what arrived, so this count may be short; only the sent stream tells\n";
    const char* counted = s.untracedLossPossible ? " reference pictures" : " pictures";
    if (s.wrapHidesLoss)
        r << "frame_num wraps every " << s.wrapHidesLoss << counted << " and nothing else numbers them: a run of "
          << s.wrapHidesLoss << " lost" << counted << " leaves no trace in this count\n";
    if (s.guessedPlaces == 1)
        r << "1 picture is counted at a guessed place: a loss before it may have taken an IDR picture\n";
    else if (s.guessedPlaces > 1)
        r << s.guessedPlaces << " pictures are counted at a guessed place: a loss before them may have taken an IDR picture\n";
    if (s.pictures) {
        r << "Slices per picture: ";
        if (s.minSlicesPerPicture == s.maxSlicesPerPicture) r << s.minSlicesPerPicture << "\n";
        else r << "mean " << formatRate(static_cast<double>(s.slicesInPictures) / static_cast<double>(s.pictures))
               << " (" << s.minSlicesPerPicture << " to " << s.maxSlicesPerPicture << ")\n";
    }
    r << "Slices: I " << s.iSlices << ", P " << s.pSlices << ", B " << s.bSlices << "\n";
    r << "NAL units: " << s.total << "\n";
    if (s.total) {
        r << "  type  tag         count         bytes  name\n";
        for (int t = 0; t < 32; ++t) {
            const auto i = static_cast<std::size_t>(t);
            if (!s.countByType[i]) continue;
            r << std::setw(6) << t << "  " << std::left << std::setw(10) << nalUnitTypeTag(t) << std::right
              << std::setw(7) << s.countByType[i] << std::setw(14) << s.bytesByType[i] << "  " << nalUnitTypeName(t) << "\n";
        }
    }
    if (s.warningCount == 0) {
        r << "Warnings: none\n";
    } else {
        r << "Warnings: " << s.warningCount << "\n";
        for (const auto& w : s.warnings) r << "  " << w << "\n";
        if (s.warningCount > s.warnings.size()) r << "  ... and " << (s.warningCount - s.warnings.size()) << " more\n";
    }
    return r.str();
}

std::int64_t copyWithout(const std::filesystem::path& input, const std::filesystem::path& output,
                         const std::function<bool(std::uint64_t, const NalUnit&)>& drop,
                         const std::function<bool(std::uint64_t)>& commitWhen, std::string& error)
{
    std::uint64_t number = 0;
    {
        AnnexBReader reader(input, 64);
        if (!reader.isOpen()) {
            error = "cannot read " + reader.error();
            return -1;
        }
        FilePtr in(std::fopen(input.c_str(), "rb"));
        if (!in) {
            error = "cannot read " + input.string() + ": " + std::strerror(errno);
            return -1;
        }
        AtomicOutput out(output);
        if (!out.ok()) {
            error = out.error();
            return -1;
        }
        std::vector<char> buffer(1 << 20);
        auto copyRange = [&](std::uint64_t from, std::uint64_t to) {
            if (from >= to) return true;
            if (fseeko(in.get(), static_cast<off_t>(from), SEEK_SET) != 0) return false;
            while (from < to) {
                const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), to - from));
                const std::size_t got = std::fread(buffer.data(), 1, want, in.get());
                if (got == 0 || !out.write(buffer.data(), got)) return false;
                from += got;
            }
            return true;
        };
        bool pending = false;
        bool pendingDrop = false;
        std::uint64_t pendingStart = 0;
        bool copied = true;
        NalUnit unit;
        while (copied && reader.next(unit)) {
            ++number;
            if (pending && !pendingDrop) copied = copyRange(pendingStart, unit.spanOffset);
            pending = true;
            pendingStart = unit.spanOffset;
            pendingDrop = drop(number, unit);
        }
        if (copied && reader.error().empty()) {
            const std::uint64_t end = reader.bytesRead();
            if (!pending) copied = copyRange(0, end);
            else if (!pendingDrop) copied = copyRange(pendingStart, end);
        }
        if (!reader.error().empty() || !copied) {
            error = "cannot copy " + input.string() + ": " + (reader.error().empty() ? out.error() : reader.error());
            if (error.back() == ' ') error += std::strerror(errno);
            return -1;
        }
        in.reset();
        if (commitWhen(number) && !out.commit()) {
            error = out.error();
            return -1;
        }
    }
    return static_cast<std::int64_t>(number);
}

namespace {

int dispatch(const std::vector<std::string>& args, const std::filesystem::path& workDir, std::ostream& out,
             std::ostream& err, const std::string& program)
{
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        out << usage(program);
        return 0;
    }
    auto fail = [&](const std::string& message) {
        err << program << ": " << message << " (--help shows the command forms)\n";
        return 2;
    };
    if (args.size() < 2) return fail("expected a stream and a mode");
    const std::string& stream = args[0];
    const auto mode = parseInteger(args[1]);
    const std::size_t expected[] = {2, 5, 3, 3};
    if (!mode || *mode < 0 || *mode > 3) return fail("mode \"" + args[1] + "\" is not 0, 1, 2 or 3");
    if (args.size() != expected[*mode])
        return fail("mode " + args[1] + " takes " + std::to_string(expected[*mode] - 2) + " argument(s) after the mode, got "
                    + std::to_string(args.size() - 2));
    switch (*mode) {
    case 0: return runSummary(stream, workDir, out, err, program);
    case 1: return runApplyLoss(stream, args[2], args[3], args[4], out, err, program);
    case 2: return runDescribe(stream, args[2], workDir, out, err, program);
    default: return runRemove(stream, args[2], out, err, program);
    }
}

} // namespace

int runAnalyzer(const std::vector<std::string>& args, const std::filesystem::path& workDir, std::ostream& out,
                std::ostream& err, const std::string& program, bool errorsAlsoToOut)
{
    std::ostringstream errors;
    const int code = dispatch(args, workDir, out, errors, program);
    err << errors.str();
    if (errorsAlsoToOut) out << errors.str();
    return code;
}

} // namespace kestrune::analyze
