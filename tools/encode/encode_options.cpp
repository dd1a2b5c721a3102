#include "tools/encode/encode_options.h"

#include "tools/common/integer_syntax.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cstdint>

extern "C" {
#include <x264.h>
}

namespace kestrune {
namespace {

struct IntegerOption {
    std::string_view name;
    int EncodeOptions::*field;
    int min;
    int max;
};

constexpr std::array kIntegerOptions{
    IntegerOption{"--bitrate", &EncodeOptions::bitrate, 1, 1000000},
    IntegerOption{"--qp", &EncodeOptions::qp, 0, 51},
    IntegerOption{"--crf", &EncodeOptions::crf, 0, 51},
    IntegerOption{"--min-keyint", &EncodeOptions::minKeyint, 0, INT_MAX},
    IntegerOption{"--keyint", &EncodeOptions::keyint, 1, INT_MAX},
    IntegerOption{"--scenecut", &EncodeOptions::scenecut, 0, INT_MAX},
    IntegerOption{"--fps", &EncodeOptions::fps, 1, 1000},
    IntegerOption{"--frames", &EncodeOptions::frames, 1, INT_MAX},
    IntegerOption{"--slices", &EncodeOptions::slices, 1, 65535},
    IntegerOption{"--max-slicesize", &EncodeOptions::maxSliceSize, 1, INT_MAX},
    IntegerOption{"--ref", &EncodeOptions::references, 1, 16},
    IntegerOption{"--merange", &EncodeOptions::meRange, 4, 1024},
};

struct FlagOption {
    std::string_view name;
    bool EncodeOptions::*field;
    bool value;
};

constexpr std::array kFlagOptions{
    FlagOption{"--psnr", &EncodeOptions::psnr, true},
    FlagOption{"--no-psnr", &EncodeOptions::psnr, false},
    FlagOption{"--ssim", &EncodeOptions::ssim, true},
    FlagOption{"--no-ssim", &EncodeOptions::ssim, false},
    FlagOption{"--chroma-me", &EncodeOptions::chromaMe, true},
    FlagOption{"--no-chroma-me", &EncodeOptions::chromaMe, false},
    FlagOption{"--mixed-refs", &EncodeOptions::mixedRefs, true},
    FlagOption{"--no-mixed-refs", &EncodeOptions::mixedRefs, false},
};

std::string quoted(std::string_view text)
{
    return "'" + std::string(text) + "'";
}

int integerValue(const IntegerOption& option, std::string_view value)
{
    const auto number = parseInteger(value);
    if (!number)
        throw OptionError(std::string(option.name) + " needs an integer, not " + quoted(value));
    if (*number < option.min || *number > option.max) {
        std::string range = option.max == INT_MAX ? "at least " + std::to_string(option.min)
                                                  : std::to_string(option.min) + ".." + std::to_string(option.max);
        throw OptionError(std::string(option.name) + " must be " + range + ", not " + quoted(value));
    }
    return *number;
}

// A quote can stay between names: under the C runtime's rules the window's
// "i8x8""i4x4""p8x8" becomes the one word i8x8"i4x4"p8x8.
bool isSeparator(char c)
{
    return c == ',' || c == ':' || c == '+' || c == ' ' || c == '"';
}

} // namespace

int motionEstimationIndex(std::string_view name)
{
    for (int i = 0; x264_motion_est_names[i]; ++i)
        if (name == x264_motion_est_names[i]) return i;
    return -1;
}

Partitions parsePartitions(std::string_view text)
{
    if (text == "all") return {true, true, true, true};
    if (text == "none") return {false, false, false, false};
    Partitions result{false, false, false, false};
    bool* flags[] = {&result.i8x8, &result.i4x4, &result.p8x8, &result.p4x4, nullptr};
    constexpr std::string_view names[] = {"i8x8", "i4x4", "p8x8", "p4x4", "b8x8"};
    std::size_t at = 0;
    bool any = false;
    while (at < text.size()) {
        if (isSeparator(text[at])) {
            ++at;
            continue;
        }
        std::size_t which = 0;
        while (which < std::size(names) && text.substr(at, names[which].size()) != names[which]) ++which;
        if (which == std::size(names))
            throw OptionError("--partitions: unknown partition type at " + quoted(text.substr(at))
                              + " (use all, none or i8x8, i4x4, p8x8, p4x4)");
        if (flags[which]) *flags[which] = true;
        any = true;
        at += names[which].size();
    }
    if (!any) throw OptionError("--partitions needs all, none or partition names, not " + quoted(text));
    return result;
}

FrameSize parseFrameSize(std::string_view text)
{
    // Where two splits both read (only "0x0xN"), they give the same size.
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] != 'x' && text[at] != 'X') continue;
        const auto width = parseInteger(text.substr(0, at));
        const auto height = parseInteger(text.substr(at + 1));
        if (width && height) return {*width, *height};
    }
    throw OptionError("picture size " + quoted(text) + " is not WIDTHxHEIGHT");
}

std::optional<FrameSize> frameSizeFromFileName(std::string_view path)
{
    const std::size_t slash = path.find_last_of("/\\");
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    std::optional<FrameSize> last;
    auto digit = [&](std::size_t i) { return i < name.size() && std::isdigit(static_cast<unsigned char>(name[i])); };
    for (std::size_t at = 0; at < name.size(); ++at) {
        if (!digit(at) || (at > 0 && digit(at - 1))) continue;
        std::size_t end = at;
        while (digit(end)) ++end;
        if (end >= name.size() || name[end] != 'x' || !digit(end + 1)) continue;
        std::size_t heightEnd = end + 1;
        while (digit(heightEnd)) ++heightEnd;
        const auto width = parseInteger(name.substr(at, end - at));
        const auto height = parseInteger(name.substr(end + 1, heightEnd - end - 1));
        if (width && height) last = FrameSize{*width, *height};
    }
    return last;
}

std::string sizeText(FrameSize size)
{
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

std::string frameSizeError(FrameSize size)
{
    const std::string text = sizeText(size);
    if (size.width <= 0 || size.height <= 0) return "picture size " + text + ": width and height must be positive";
    if (size.width % 2 || size.height % 2) return "picture size " + text + ": width and height must be even for 4:2:0";
    if (size.width < 16 || size.height < 16) return "picture size " + text + ": width and height must be at least 16";
    if (size.width > 16384 || size.height > 16384) return "picture size " + text + ": width and height must be at most 16384";
    return {};
}

EncodeOptions parseEncodeCommandLine(const std::vector<std::string>& args)
{
    EncodeOptions options;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        std::optional<std::string_view> attached;  // --name=value
        if (arg.starts_with("--")) {
            if (const auto eq = arg.find('='); eq != std::string_view::npos) {
                attached = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
            }
        }
        auto value = [&]() -> std::string_view {
            if (attached) return *attached;
            if (i + 1 >= args.size()) throw OptionError("option " + std::string(arg) + " needs a value");
            return args[++i];
        };

        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        if (arg == "-o" || arg == "--output") {
            options.output = value();
            if (options.output.empty()) throw OptionError("-o needs an output file name");
            continue;
        }
        if (arg == "--slice-groups") {
            const std::string_view text = value();
            const auto number = parseInteger(text);
            // Silently coding fewer groups than asked would mislead the experiment.
            if (!number || (*number != 1 && (*number < 2 || *number > 8)))
                throw OptionError("--slice-groups must be 2..8 (or 1 for no slice groups), not " + quoted(text));
            options.sliceGroups = *number;
            continue;
        }
        if (arg == "--slice-group-map-type") {
            const std::string_view text = value();
            const auto number = parseInteger(text);
            if (!number || *number < 0 || *number > 6)
                throw OptionError("--slice-group-map-type must be 0..6, not " + quoted(text));
            options.sliceGroupMapType = *number;
            continue;
        }
        if (arg == "--me") {
            const std::string_view method = value();
            if (motionEstimationIndex(method) < 0)
                throw OptionError("--me must be dia, hex, umh, esa or tesa, not " + quoted(method));
            options.motionEstimation = method;
            continue;
        }
        if (arg == "--partitions" || arg == "-A") {
            options.partitions = parsePartitions(value());
            continue;
        }
        const auto integer = std::find_if(kIntegerOptions.begin(), kIntegerOptions.end(),
                                          [&](const IntegerOption& o) { return o.name == arg; });
        if (integer != kIntegerOptions.end()) {
            const std::string_view text = value();
            options.*(integer->field) = arg == "--keyint" && text == "infinite" ? 0 : integerValue(*integer, text);
            if (arg == "--bitrate") options.rateControl = RateControl::Bitrate;
            if (arg == "--qp") options.rateControl = RateControl::ConstantQp;
            if (arg == "--crf") options.rateControl = RateControl::ConstantRateFactor;
            continue;
        }
        const auto flag = std::find_if(kFlagOptions.begin(), kFlagOptions.end(),
                                       [&](const FlagOption& o) { return o.name == arg; });
        if (flag != kFlagOptions.end()) {
            if (attached) throw OptionError("option " + std::string(arg) + " takes no value");
            options.*(flag->field) = flag->value;
            continue;
        }
        if (arg.size() > 1 && arg.starts_with('-'))
            throw OptionError("unknown option " + quoted(arg) + " (see --help)");
        positional.emplace_back(arg);
    }
    if (options.help) return options;

    if (positional.empty()) throw OptionError("no input file given (see --help)");
    if (positional.size() > 2) {
        std::string list;
        for (const auto& word : positional) list += (list.empty() ? "" : " ") + quoted(word);
        throw OptionError("too many file names: " + list + " (put a path with blanks in double quotes)");
    }
    options.input = positional[0];
    if (positional.size() == 2) options.size = parseFrameSize(positional[1]);
    else options.size = frameSizeFromFileName(options.input);
    if (!options.size)
        throw OptionError("no picture size given: write WIDTHxHEIGHT after the input file name");
    if (const std::string error = frameSizeError(*options.size); !error.empty()) throw OptionError(error);
    if (options.output.empty()) throw OptionError("no output file given (-o FILE)");
    if (options.sliceGroups > 1 && (options.slices > 0 || options.maxSliceSize > 0))
        throw OptionError("--slices and --max-slicesize cannot be combined with --slice-groups 2..8 (one slice per "
                          "slice group); with --slice-groups 1 they are our encoder's slices");
    if (options.sliceGroups > 0 && options.motionEstimation != "dia" && options.motionEstimation != "hex"
        && options.motionEstimation != "umh")
        throw OptionError("--me must be dia, hex or umh with --slice-groups, not " + quoted(options.motionEstimation));
    return options;
}

std::string encodeUsage()
{
    return R"(Usage: kestrune-encode [options] INPUT.yuv -o OUTPUT.264 [WIDTHxHEIGHT]
Encodes planar YUV 4:2:0 into an H.264 Annex B stream with I and P slices only
(no B frames, no weighted prediction; SPS and PPS before every IDR picture).
Without WIDTHxHEIGHT the size is taken from the input's file name (foo_176x144.yuv).

Rate control (the last one given applies; default --crf 23):
  --bitrate N          average bitrate in kbit/s
  --qp N               constant quantizer 0..51 (0 is lossless)
  --crf N              constant rate factor 0..51 (with --slice-groups: P
                       pictures at QP N, one step up for each doubling of the
                       picture's motion-compensated difference against the
                       running average (at most +3), one down for each halving
                       (at most -2); I pictures at N-3)
Frames:
  --min-keyint N       minimum GOP length (0: automatic) [auto]
  --keyint N           maximum GOP length, or "infinite" [250]
  --scenecut N         scene-cut threshold, 0 disables [40]
  --fps N              frame rate written into the stream [25]
  --frames N           encode only the first N frames [all]
Slices:
  --slices N           N slices per picture
  --max-slicesize N    at most N bytes per slice NAL unit
  --slice-groups N     FMO: N = 2..8 slice groups, one slice (one NAL unit)
                       each per picture, coded by our own Baseline encoder;
                       1 = that encoder without slice groups, where --slices
                       and --max-slicesize also apply (raster slices of equal
                       macroblock counts, slices cut before the macroblock
                       that would exceed the size), so slices and slice
                       groups compare on one encoder
  --slice-group-map-type T    with --slice-groups: 0 interleaved runs of one
                       macroblock row, 1 dispersed (default), 2 nested boxes
                       around the centre, 3 box-out, 4 raster, 5 wipe (3-5:
                       2 groups, group 0 grows by one row's worth of
                       macroblocks per picture), 6 explicit 2x2-macroblock squares
Analysis:
  --me dia|hex|umh|esa|tesa   integer motion search method [hex]
                       (dia, hex and umh with --slice-groups)
  --merange N          motion search range 4..1024 [16]
  --no-chroma-me       no chroma in motion estimation
  --ref N              reference frames 1..16 [3]
  --mixed-refs, --no-mixed-refs   one reference per partition or per macroblock [on]
  --partitions all|none|NAMES     i8x8, i4x4, p8x8, p4x4, written back to back
                       or separated by commas [i8x8,i4x4,p8x8]; with
                       --slice-groups i8x8 is ignored (not in Baseline)
Report:
  --no-psnr, --no-ssim do not compute PSNR / SSIM
  -o, --output FILE    output stream (written under a temporary name, then renamed)
  -h, --help           this text
Integers may be decimal or hexadecimal after $, x or 0x.
)";
}

} // namespace kestrune
