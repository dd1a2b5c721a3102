#include "tools/decode/options.h"

#include "tools/common/integer_syntax.h"

namespace kestrune::decode {

const char* decodeUsage()
{
    return "usage: ffmpeg.exe [-ec N] [-error_concealment N] [-P_error_concealment N]\n"
           "                  [-decoder ours|libavcodec] [-sent SENT] -i INPUT -y OUTPUT\n"
           "\n"
           "Decodes an H.264 Annex B stream (possibly with lost NAL units) into raw planar\n"
           "YUV 4:2:0 of the cropped picture size, one frame per coded picture in output\n"
           "order, and conceals the macroblocks that were lost.\n"
           "\n"
           "  -i INPUT                 the H.264 stream to decode\n"
           "  -y OUTPUT                the YUV file to write (replaced when it exists;\n"
           "                           written under a temporary name and renamed at the end)\n"
           "  -error_concealment N     lost macroblocks of I pictures: 0 none (mid-grey),\n"
           "                           1 average DC, 2 average macroblock,\n"
           "                           3 bilinear interpolation (default 3)\n"
           "  -P_error_concealment N   lost macroblocks of P pictures: 0 none (mid-grey),\n"
           "                           1 boundary matching (default 1)\n"
           "  -ec N                    accepted for compatibility; changes nothing\n"
           "  -decoder ours|libavcodec which decoder decodes the slices (default: ours\n"
           "                           for streams with slice groups, which libavcodec\n"
           "                           cannot decode; libavcodec for all others).\n"
           "                           Concealment and output are the same for both.\n"
           "  -sent SENT               the stream that went into the channel INPUT came\n"
           "                           through: every received NAL unit is matched to it,\n"
           "                           so every picture, lost ones at the end included,\n"
           "                           gets its exact place (no guess)\n"
           "  --help                   this text\n"
           "\n"
           "Integers are decimal with an optional sign, or hexadecimal after $, x or 0x.\n"
           "A picture lost completely is output as a copy of the previous output picture.\n"
           "The report on standard output lists pictures decoded, lost and repeated, and\n"
           "macroblocks lost and concealed per picture type. Beside OUTPUT, OUTPUT.mbloss\n"
           "holds \"WIDTHxHEIGHT FRAMES\" and then per frame \"LOST CONCEALED TYPE CODES [GROUPS]\":\n"
           "macroblocks lost and concealed, the picture type, a code per macroblock and,\n"
           "with slice groups, each macroblock's group (the workbench's README explains them).\n";
}

ParsedOptions parseDecodeOptions(const std::vector<std::string_view>& arguments)
{
    ParsedOptions parsed;
    DecodeOptions& o = parsed.options;
    auto fail = [&](std::string message) {
        parsed.error = std::move(message);
        return parsed;
    };
    bool sawOutputFlag = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view a = arguments[i];
        if (a == "--help" || a == "-h" || a == "-help") {
            o.help = true;
            return parsed;
        }
        const bool takesValue =
            a == "-ec" || a == "-error_concealment" || a == "-P_error_concealment" || a == "-i" || a == "-decoder" || a == "-sent";
        if (takesValue && i + 1 >= arguments.size()) return fail(std::string(a) + " needs a value");
        if (a == "-i") {
            o.input = arguments[++i];
            if (o.input.empty()) return fail("-i needs a file name");
        } else if (a == "-sent") {
            o.sent = arguments[++i];
            if (o.sent.empty()) return fail("-sent needs a file name");
        } else if (a == "-decoder") {
            const std::string_view which = arguments[++i];
            if (which == "ours") o.decoder = DecoderSelection::Ours;
            else if (which == "libavcodec") o.decoder = DecoderSelection::Libavcodec;
            else return fail("-decoder must be ours or libavcodec, not " + std::string(which));
        } else if (takesValue) {
            const std::string_view text = arguments[++i];
            const auto value = parseInteger(text);
            if (!value) return fail(std::string(a) + ": '" + std::string(text) + "' is not an integer");
            if (a == "-error_concealment") {
                if (*value < 0 || *value > 3) return fail("-error_concealment must be 0, 1, 2 or 3, not " + std::string(text));
                o.intra = IntraMethod(*value);
            } else if (a == "-P_error_concealment") {
                if (*value < 0 || *value > 1) return fail("-P_error_concealment must be 0 or 1, not " + std::string(text));
                o.inter = InterMethod(*value);
            }
        } else if (a == "-y") {
            sawOutputFlag = true;
        } else if (a.size() > 1 && a.front() == '-') {
            return fail("unknown option " + std::string(a) + " (see --help)");
        } else {
            if (!o.output.empty()) return fail("more than one output file: " + o.output + " and " + std::string(a));
            if (a.empty()) return fail("empty output file name");
            o.output = a;
        }
    }
    if (o.input.empty()) return fail("no input file (-i INPUT)");
    if (o.output.empty()) return fail(sawOutputFlag ? "-y needs an output file" : "no output file (-y OUTPUT)");
    return parsed;
}

} // namespace kestrune::decode
