#pragma once
// The encoder's command line: the options the window writes (and a few of
// their natural counterparts), parsed into a plain value. Pure: no I/O.
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

// A bad command line; what() is the one line shown to the user.
class OptionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class RateControl { Bitrate, ConstantQp, ConstantRateFactor };

// Partition types to analyse; p4x4 here means the sub-8x8 P partitions.
struct Partitions {
    bool i8x8 = true;
    bool i4x4 = true;
    bool p8x8 = true;
    bool p4x4 = false;
    bool operator==(const Partitions&) const = default;
};

struct FrameSize {
    int width = 0;
    int height = 0;
    bool operator==(const FrameSize&) const = default;
};

struct EncodeOptions {
    bool help = false;
    RateControl rateControl = RateControl::ConstantRateFactor;
    int bitrate = 0;  // kbit/s
    int qp = 23;
    int crf = 23;
    int minKeyint = 0;  // 0: automatic
    int keyint = 250;   // 0: no periodic IDR
    int scenecut = 40;
    int fps = 25;
    int frames = 0;  // 0: all frames of the input
    bool psnr = true;
    bool ssim = true;
    int slices = 0;        // 0: one slice per picture
    int maxSliceSize = 0;  // bytes, 0: no limit
    std::string motionEstimation = "hex";
    bool chromaMe = true;
    int references = 3;
    bool mixedRefs = true;
    int meRange = 16;
    Partitions partitions;
    // Our own Baseline encoder instead of libx264: 0 = not asked for,
    // 1 = plain Baseline, 2..8 = that many slice groups (FMO).
    int sliceGroups = 0;
    int sliceGroupMapType = 1;  // slice_group_map_type 0..6
    std::string input;
    std::string output;
    std::optional<FrameSize> size;  // absent: taken from the input's file name
};

// Parses the arguments after the program name; throws OptionError.
EncodeOptions parseEncodeCommandLine(const std::vector<std::string>& args);

// "all", "none", or the names i8x8, i4x4, p8x8, p4x4 in any order, back to
// back or separated by commas or double quotes (b8x8 is accepted and has no
// effect without B frames); throws OptionError.
Partitions parsePartitions(std::string_view text);

// libx264's number of a motion search method ("dia" is 0), -1 for none.
int motionEstimationIndex(std::string_view name);

// "WxH" where W and H use the shared integer syntax (so "0xB0x144" is
// 176x144); throws OptionError when no split reads as two integers.
FrameSize parseFrameSize(std::string_view text);

// The last "WxH" in a file name such as "sample_352x288.yuv", if any.
std::optional<FrameSize> frameSizeFromFileName(std::string_view path);

// "176x144"
std::string sizeText(FrameSize size);

// Empty when width and height suit 4:2:0 encoding, otherwise the reason.
std::string frameSizeError(FrameSize size);

// The --help text.
std::string encodeUsage();

} // namespace kestrune
