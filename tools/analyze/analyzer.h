#pragma once
// The NAL unit analyzer and editor behind h264_analyze.exe:
//   STREAM 0                        summary general.txt + report
//   STREAM 1 PATTERN COUNT OUTPUT   write OUTPUT without the NAL units that
//                                   PATTERN marks 0 (numbers below COUNT only)
//   STREAM 2 NUMBER                 describe one NAL unit into debug.txt
//   STREAM 3 NUMBER                 remove one NAL unit from STREAM in place
// general.txt and debug.txt go to the working directory given.
#include "tools/bitstream/annexb_reader.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace kestrune::analyze {

// Runs one command line (arguments after the program name); returns the exit
// code. errorsAlsoToOut repeats error lines on out: the window captures only
// standard output of the analysis run, and the user should read why it failed.
int runAnalyzer(const std::vector<std::string>& args, const std::filesystem::path& workDir, std::ostream& out,
                std::ostream& err, const std::string& programName = "h264_analyze", bool errorsAlsoToOut = false);

std::string usage(const std::string& programName);

// The counts of a whole stream (mode 0).
struct StreamSummary {
    std::uint64_t total = 0;
    std::uint64_t sei = 0, sps = 0, pps = 0;
    std::uint64_t iSlices = 0, pSlices = 0, bSlices = 0;
    std::array<std::uint64_t, 32> countByType{};
    std::array<std::uint64_t, 32> bytesByType{};
    std::uint64_t streamBytes = 0;
    std::uint64_t pictures = 0;       // received (access units with slices)
    // Where the stream's numbering places them (h264::PicturePlacer): the
    // coded pictures up to the last received one, and those among them lost.
    std::uint64_t codedPictures = 0;
    std::uint64_t lostPictures = 0;
    std::uint32_t wrapHidesLoss = 0;  // MaxFrameNum when a run that long would leave no trace
    bool untracedLossPossible = false;  // pictures nothing refers to arrived, and nothing numbers them
    std::int64_t guessedPlaces = 0;
    std::uint64_t minSlicesPerPicture = 0, maxSlicesPerPicture = 0, slicesInPictures = 0;
    std::string profile, level, entropyCoder;
    int width = 0, height = 0, codedWidth = 0, codedHeight = 0;
    double frameRate = 0;
    bool interlaced = false;
    std::vector<std::string> warnings;  // the first few, in stream order
    std::uint64_t warningCount = 0;
};

// Which summary list a NAL unit's number goes to (general.txt order), or -1.
enum SummaryList { ListSei, ListSps, ListPps, ListI, ListP, ListB, kListCount };

// Reads the stream once; listSink(list, number) receives each numbered NAL
// unit. Returns false with error set when the stream cannot be read.
bool summarizeStream(h264::AnnexBReader& reader, StreamSummary& summary,
                     const std::function<void(int list, std::uint64_t number)>& listSink, std::string& error);

// The console report of mode 0.
std::string formatReport(const std::string& streamName, const StreamSummary& summary);

// Copies the input to output leaving out the stretches (start code included)
// of the NAL units for which drop(number, unit) is true. Returns the number of
// NAL units in the input, or -1 with error set; output is committed only on
// success and when commitWhen(total) agrees.
std::int64_t copyWithout(const std::filesystem::path& input, const std::filesystem::path& output,
                         const std::function<bool(std::uint64_t number, const h264::NalUnit& unit)>& drop,
                         const std::function<bool(std::uint64_t total)>& commitWhen, std::string& error);

} // namespace kestrune::analyze
