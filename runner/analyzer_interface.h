#pragma once
// The window's side of the NAL unit analyzer: the command lines that run it
// (tool modes 0, 2 and 3; mode 1 lives with the channel run), what each
// analysis mode does after the tool ends, and the reader of its summary file
// general.txt.
#include <QString>
#include <cstdint>
#include <optional>
#include <utility>

namespace kestrune {

inline constexpr char16_t kAnalyzerProgram[] = u"h264_analyze.exe";
inline constexpr char16_t kAnalyzerCommandFile[] = u"analyze.bat";
inline constexpr char16_t kAnalyzerCapture[] = u"analyze.txt";
inline constexpr char16_t kAnalyzerDebugFile[] = u"debug.txt";
inline constexpr char16_t kSummaryFile[] = u"general.txt";

// Tool mode 0: report to analyze.txt, summary to general.txt.
QString analyzeCommand(const QString& streamPath);
// Tool mode 2: the description of NAL unit `nalUnitNumber` (1-based) goes to
// debug.txt; the command has no redirection.
QString showNalUnitCommand(const QString& streamPath, int nalUnitNumber);
// Tool mode 3: removes NAL unit `nalUnitNumber` from the stream in place.
QString removeNalUnitCommand(const QString& streamPath, int nalUnitNumber);

// Analysis modes of the workbench state: what AnalyzeRun does after the tool.
// Map fills the NAL unit map, Inspect shows one NAL unit's description and
// ReadTotal reads the NAL unit total from general.txt (the channel run).
enum AnalysisMode : int { kAnalysisMap = 0, kAnalysisInspect = 2, kAnalysisReadTotal = 4 };

struct AnalysisModeRule {
    QString captureFile;            // appended to the log, then deleted
    QString missingCaptureMessage;  // shown when the capture file is missing
    bool fillsMap = false;          // then StreamAnalyze
    bool readsNalUnitCount = false; // then value 1 of general.txt
};
// Nothing for a mode without a capture step (any mode but 0, 2 and 4).
std::optional<AnalysisModeRule> analysisModeRule(int analysisMode);

// Type label of a map column. Values are stored one byte per column.
enum class NalLabel : std::uint8_t { None, Sei, Sps, Pps, I, P };
// "SEI", "SPS", "PPS", "I", "P" or the empty text.
QString nalLabelText(NalLabel label);
// The exact, case-sensitive inverse of nalLabelText (None for anything else).
NalLabel nalLabelFromText(const QString& text);

// The seven counts that open general.txt, in file order.
struct SummaryCounts {
    std::int32_t total = 0;  // T
    std::int32_t sei = 0;    // S
    std::int32_t sps = 0;    // Q
    std::int32_t pps = 0;    // R
    std::int32_t iSlices = 0;
    std::int32_t pSlices = 0;
    std::int32_t bSlices = 0;
    bool operator==(const SummaryCounts&) const = default;
};

// Reads the counts with `reader.readInteger()` (the shared text-file rules:
// 0 past the end, UserError "Invalid numeric input" on a bad value).
template <class Reader>
SummaryCounts readSummaryCounts(Reader& reader)
{
    SummaryCounts c;
    for (std::int32_t* value : {&c.total, &c.sei, &c.sps, &c.pps, &c.iSlices, &c.pSlices, &c.bSlices})
        *value = reader.readInteger();
    return c;
}

// After readSummaryCounts: reads the SEI, SPS, PPS, I and P numbers in that
// order and calls label(column, NalLabel) for each number in 1..total, with
// column = number - 1; other numbers name no column and are skipped. Stops
// early once the reader is at its end, since every further number reads 0.
template <class Reader, class LabelFn>
void readSummaryLabels(Reader& reader, const SummaryCounts& counts, LabelFn&& label)
{
    const std::pair<std::int32_t, NalLabel> groups[] = {{counts.sei, NalLabel::Sei},
                                                        {counts.sps, NalLabel::Sps},
                                                        {counts.pps, NalLabel::Pps},
                                                        {counts.iSlices, NalLabel::I},
                                                        {counts.pSlices, NalLabel::P}};
    for (const auto& [count, type] : groups) {
        for (std::int32_t k = 0; k < count; ++k) {
            if (reader.atEnd()) return;
            const std::int32_t number = reader.readInteger();
            if (number >= 1 && number <= counts.total) label(int(number - 1), type);
        }
    }
}

} // namespace kestrune
