#include "runner/analyzer_interface.h"

#include "runner/text_file.h"
#include "runner/user_error.h"

#include <gtest/gtest.h>
#include <map>

using namespace Qt::StringLiterals;
using kestrune::NalLabel;

namespace {

TEST(AnalyzerCommands, FollowTheToolModesWithNumbersInDecimal)
{
    EXPECT_EQ(kestrune::analyzeCommand(u"out.264"_s), u"h264_analyze.exe out.264 0 >analyze.txt"_s);
    EXPECT_EQ(kestrune::showNalUnitCommand(u"C:\\v\\out.264"_s, 1), u"h264_analyze.exe C:\\v\\out.264 2 1"_s);
    EXPECT_EQ(kestrune::removeNalUnitCommand(u"out.264"_s, 120),
              u"h264_analyze.exe out.264 3 120 >analyze.txt 2>&1"_s);
}

TEST(AnalyzerCommands, QuotePathsThatWouldSplitOrRedirect)
{
    EXPECT_EQ(kestrune::analyzeCommand(u"my clips/a.264"_s), u"h264_analyze.exe \"my clips/a.264\" 0 >analyze.txt"_s);
    EXPECT_EQ(kestrune::removeNalUnitCommand(u"a>b.264"_s, 2), u"h264_analyze.exe \"a>b.264\" 3 2 >analyze.txt 2>&1"_s);
    // An empty stream name stays empty: the command is what the user typed.
    EXPECT_EQ(kestrune::analyzeCommand(QString()), u"h264_analyze.exe  0 >analyze.txt"_s);
}

TEST(AnalysisModes, NameTheirCaptureFileAndFollowUp)
{
    const auto map = kestrune::analysisModeRule(0);
    ASSERT_TRUE(map);
    EXPECT_EQ(map->captureFile, u"analyze.txt"_s);
    EXPECT_EQ(map->missingCaptureMessage, u"Error: analyze.txt not found!"_s);
    EXPECT_TRUE(map->fillsMap);
    EXPECT_FALSE(map->readsNalUnitCount);

    const auto inspect = kestrune::analysisModeRule(2);
    ASSERT_TRUE(inspect);
    EXPECT_EQ(inspect->captureFile, u"debug.txt"_s);
    EXPECT_EQ(inspect->missingCaptureMessage, u"Error: debug.txt not found!"_s);
    EXPECT_FALSE(inspect->fillsMap || inspect->readsNalUnitCount);

    const auto count = kestrune::analysisModeRule(4);
    ASSERT_TRUE(count);
    EXPECT_EQ(count->captureFile, u"analyze.txt"_s);
    EXPECT_TRUE(count->readsNalUnitCount);
    EXPECT_FALSE(count->fillsMap);

    for (int mode : {-1, 1, 3, 5})
        EXPECT_FALSE(kestrune::analysisModeRule(mode)) << mode;
}

TEST(NalLabels, TextRoundTripsAndMatchesExactly)
{
    for (NalLabel label : {NalLabel::Sei, NalLabel::Sps, NalLabel::Pps, NalLabel::I, NalLabel::P})
        EXPECT_EQ(kestrune::nalLabelFromText(kestrune::nalLabelText(label)), label);
    EXPECT_EQ(kestrune::nalLabelText(NalLabel::None), QString());
    for (const QString& other : {u"sei"_s, u"i"_s, u" P"_s, u"B"_s, QString()})
        EXPECT_EQ(kestrune::nalLabelFromText(other), NalLabel::None) << other.toStdString();
}

// The shared text reader over the given summary text, counting its reads.
struct CountingReader {
    explicit CountingReader(const char* text) : reader(kestrune::TextReader::fromBytes(QByteArray(text))) {}
    bool atEnd() const { return reader.atEnd(); }
    std::int32_t readInteger()
    {
        ++reads;
        return reader.readInteger();
    }
    kestrune::TextReader reader;
    int reads = 0;
};

std::map<int, NalLabel> labelsOf(CountingReader& reader, const kestrune::SummaryCounts& counts)
{
    std::map<int, NalLabel> labels;
    kestrune::readSummaryLabels(reader, counts, [&](int column, NalLabel label) { labels[column] = label; });
    return labels;
}

TEST(SummaryReader, ThreeNalUnitStream)
{
    // T S Q R I P B, then the SPS, PPS and I numbers.
    CountingReader reader("3 0 1 1 1 0 0\r\n\r\n1\r\n2\r\n3\r\n\r\n\r\n");
    const auto counts = kestrune::readSummaryCounts(reader);
    EXPECT_EQ(counts, (kestrune::SummaryCounts{3, 0, 1, 1, 1, 0, 0}));
    const std::map<int, NalLabel> expected{{0, NalLabel::Sps}, {1, NalLabel::Pps}, {2, NalLabel::I}};
    EXPECT_EQ(labelsOf(reader, counts), expected);
}

TEST(SummaryReader, GroupsComeInFileOrderAndLaterLabelsWin)
{
    // SEI at 4, SPS 1, PPS 2, I 3 and 4 (overwrites the SEI), P 5; B numbers unread.
    CountingReader reader("5 1 1 1 2 1 1\r\n4\r\n1\r\n2\r\n3 4\r\n5\r\noops\r\n");
    const auto counts = kestrune::readSummaryCounts(reader);
    const std::map<int, NalLabel> expected{
        {0, NalLabel::Sps}, {1, NalLabel::Pps}, {2, NalLabel::I}, {3, NalLabel::I}, {4, NalLabel::P}};
    EXPECT_EQ(labelsOf(reader, counts), expected);
    EXPECT_FALSE(reader.atEnd());  // the B slices' numbers are never read
}

TEST(SummaryReader, SkipsNumbersOutsideTheStream)
{
    CountingReader reader("2 0 0 0 4 0 0\r\n0 3 -7 2\r\n");
    const auto counts = kestrune::readSummaryCounts(reader);
    const std::map<int, NalLabel> expected{{1, NalLabel::I}};
    EXPECT_EQ(labelsOf(reader, counts), expected);
}

TEST(SummaryReader, MissingValuesReadZeroAndStopTheLabels)
{
    CountingReader shortCounts("7\t2\x1a 5 5");
    EXPECT_EQ(kestrune::readSummaryCounts(shortCounts), (kestrune::SummaryCounts{7, 2, 0, 0, 0, 0, 0}));

    // Counts promise far more numbers than the file holds: reading stops at
    // the end instead of asking for two billion zeros.
    CountingReader truncated("2000000000 2000000000 0 0 2000000000 0 0\r\n5\r\n");
    const auto counts = kestrune::readSummaryCounts(truncated);
    const std::map<int, NalLabel> expected{{4, NalLabel::Sei}};
    EXPECT_EQ(labelsOf(truncated, counts), expected);
    EXPECT_LT(truncated.reads, 20);
}

TEST(SummaryReader, NonNumericValueEndsReadingWithTheReaderError)
{
    CountingReader badCount("3 1e");
    EXPECT_THROW(kestrune::readSummaryCounts(badCount), kestrune::UserError);

    CountingReader badNumber("3 0 2 0 0 0 0 1 2.0");
    const auto counts = kestrune::readSummaryCounts(badNumber);
    std::map<int, NalLabel> labels;
    EXPECT_THROW(
        kestrune::readSummaryLabels(badNumber, counts, [&](int column, NalLabel label) { labels[column] = label; }),
        kestrune::UserError);
    // What was labelled before the bad value stays labelled.
    EXPECT_EQ(labels.size(), 1u);
}

} // namespace
