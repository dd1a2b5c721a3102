#include "runner/encode_command.h"

#include "runner/command_path.h"
#include "runner/conventions.h"

using namespace Qt::StringLiterals;

namespace kestrune {
namespace {

QString partitionList(const EncodeSettings& s)
{
    if (s.i8x8 && s.i4x4 && s.p8x8 && s.p4x4) return u"all"_s;
    QString list;
    // Each name quoted, back to back without a separator; the encoder splits them.
    if (s.i8x8) list += u"\"i8x8\""_s;
    if (s.i4x4) list += u"\"i4x4\""_s;
    if (s.p8x8) list += u"\"p8x8\""_s;
    if (s.p4x4) list += u"\"p4x4\""_s;
    return list.isEmpty() ? u"none"_s : list;
}

QString motionSearchFragment(int item)
{
    switch (item) {
    case 0: return u" --me \"dia\""_s;
    case 1: return u" --me \"hex\""_s;
    case 2: return u" --me \"umh\""_s;
    default: return {};
    }
}

} // namespace

int rateControlModeOf(const QString& encodingModeText)
{
    if (encodingModeText == u"Average Bitrate (VBR)"_s) return 1;
    if (encodingModeText == u"Constant Quantizer (QP Mode)"_s) return 2;
    if (encodingModeText == u"Constant Rate Factor (CRF)"_s) return 3;
    return 0;
}

EncodeCommand buildEncodeCommand(const EncodeSettings& s,
                                 const std::function<bool(const QString&)>& fileExists)
{
    auto fail = [](const QString& message) { return EncodeCommand{{}, message}; };

    if (!fileExists(u"x264.exe"_s))
        return fail(u"Error: x264.exe not found!"_s);
    if (!fileExists(s.inputPath))
        return fail(u"Encoder Error! Input YUV File ("_s + s.inputPath + u") not found!"_s);
    QString cmd = u"x264"_s;
    if (s.outputPath.isEmpty())
        return fail(u"Encoder Error! Please specify an (H.264) output file!"_s);

    // One fragment per row, in command-line order. A row with a field runs
    // the integer check first; the text then goes in exactly as typed.
    struct Fragment {
        bool applies;
        QString text;
        const QString* field = nullptr;
        QString message = {};
        QString suffix = {};
    };
    const QString quantizer = QString::number(s.quantizer);
    const Fragment fragments[] = {
        {s.rateControlMode == 1, u" --bitrate "_s, &s.bitrate,
         u"Encoder Error! Please specify an average bitrate!"_s},
        {s.rateControlMode == 2, u" --qp "_s + quantizer},
        {s.rateControlMode == 3, u" --crf "_s + quantizer},
        {true, u" --min-keyint "_s, &s.minGopSize, u"Encoder Error: Please enter a correct Min GOP Size!"_s},
        {true, u" --keyint "_s, &s.maxGopSize, u"Encoder Error: Please enter a correct Max GOP Size!"_s},
        {true, u" --scenecut "_s, &s.scenecut, u"Encoder Error: Please enter a correct scenecut threshold!"_s},
        {true, u" --fps "_s, &s.frameRate, u"Encoder Error: Please enter a correct frame rate!"_s},
        {s.frames != u"All"_s, u" --frames "_s, &s.frames,
         u"Encoder Error: Please enter the number of frames to be encoded (default is All)!"_s},
        {!s.computePsnr, u" --no-psnr --no-ssim"_s},
        {s.sliceCountEnabled && !s.useFmo, u" --slices "_s, &s.sliceCount,
         u"Encoder Error: Please enter the number of raster scan slices!"_s},
        {s.maxSliceSizeEnabled && !s.useFmo, u" --max-slicesize "_s, &s.maxSliceSize,
         u"Encoder Error: Please enter the maximum slice size!"_s},
        {s.useFmo, u" --slice-groups "_s, &s.sliceGroups, u"Encoder Error: Please enter the number of slice groups!"_s},
        {true, motionSearchFragment(s.motionSearch)},
        {!s.chromaMotionEstimation, u" --no-chroma-me"_s},
        {true, u" --ref "_s, &s.referenceFrames,
         u"Encoder Error: Please enter the number of reference frames (min=1, max=16)!"_s, u" --mixed-refs"_s},
        {true, u" --merange "_s, &s.searchRange,
         u"Encoder Error: Please enter the maximum motion vector search range (default=16)!"_s},
        {true, u" --partitions "_s + partitionList(s)},
    };
    for (const Fragment& f : fragments) {
        if (!f.applies) continue;
        if (f.field && !IsInteger(*f.field)) return fail(f.message);
        cmd += f.text + (f.field ? *f.field : QString()) + f.suffix;
    }

    cmd += u' ' + commandLinePath(s.inputPath);
    if (!IsInteger(s.width) || !IsInteger(s.height))
        return fail(u"Encoder Error: Input Width/Height is incorrect!"_s);
    cmd += u" -o "_s + commandLinePath(s.outputPath) + u' ' + s.width + u'x' + s.height;
    cmd += u" >xbatch.txt 2>&1"_s;
    return {cmd, {}};
}

} // namespace kestrune
