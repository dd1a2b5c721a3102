#include "runner/channel_command.h"
#include "runner/text_file.h"
#include "runner/user_error.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using kestrune::droppedNalUnits;
using kestrune::gilbertCommand;

TEST(GilbertCommand, DefaultsGiveTheDesignedLine)
{
    const auto result = gilbertCommand(300, u"out.264"_s, u"5"_s, u"2"_s);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.command, u"Gilbert.exe 5 2 300 gilbert.txt >gilout.txt 2>&1"_s);
}

TEST(GilbertCommand, ValuesEnterAsTypedIncludingHexAndSign)
{
    EXPECT_EQ(gilbertCommand(7, u"s.264"_s, u"$A"_s, u" +3"_s).command,
              u"Gilbert.exe $A  +3 7 gilbert.txt >gilout.txt 2>&1"_s);
}

TEST(GilbertCommand, ChecksRunInOrderCountThenRateThenBurst)
{
    // A zero count wins over bad fields; the path follows the colon directly.
    auto r = gilbertCommand(0, u"clip.264"_s, u"x"_s, u"y"_s);
    EXPECT_EQ(r.error, u"Error: There is no NAL units in the input file:clip.264"_s);
    EXPECT_TRUE(r.command.isEmpty());

    r = gilbertCommand(10, u"clip.264"_s, u"5.5"_s, u"y"_s);
    EXPECT_EQ(r.error, u"Error: Please enter the Loss rate!"_s);

    for (const QString& bad : {u""_s, u"2 "_s, u"1,5"_s}) {
        r = gilbertCommand(10, u"clip.264"_s, u"5"_s, bad);
        EXPECT_EQ(r.error, u"Error: Please enter the average burst error length!"_s) << bad.toStdString();
    }
}

TEST(ApplyLossCommand, PassesCountMinusOneAndQuotesOnlyPathsThatNeedIt)
{
    EXPECT_EQ(kestrune::applyLossCommand(u"out.264"_s, 300, u"lossy.264"_s),
              u"h264_analyze.exe out.264 1 gilbert.txt 299 lossy.264 >analyze.txt 2>&1"_s);
    EXPECT_EQ(kestrune::applyLossCommand(u"my out.264"_s, 1, u"c&d.264"_s),
              u"h264_analyze.exe \"my out.264\" 1 gilbert.txt 0 \"c&d.264\" >analyze.txt 2>&1"_s);
}

namespace {
QString droppedFrom(const QByteArray& pattern, int count)
{
    auto reader = kestrune::TextReader::fromBytes(pattern);
    return droppedNalUnits(count, [&] { return reader.readInteger(); });
}
} // namespace

TEST(DroppedNalUnits, ListsZerosWithTrailingCommaAndNeverTheLastTwo)
{
    // Losses at 3, 17 and 18 of 20; the zeros at 19 and 20 are never listed.
    QByteArray pattern;
    for (int k = 1; k <= 20; ++k)
        pattern += (k == 3 || k == 17 || k == 18 || k >= 19) ? "0\r\n" : "1\r\n";
    EXPECT_EQ(droppedFrom(pattern, 20), u"3,17,18,"_s);
    EXPECT_EQ(droppedFrom("1 1 1 1 1", 5), QString());
}

TEST(DroppedNalUnits, CountOfTwoOrLessReadsNothing)
{
    int reads = 0;
    for (int count : {-1, 0, 1, 2}) {
        EXPECT_EQ(droppedNalUnits(count, [&] { ++reads; return 0; }), QString());
    }
    EXPECT_EQ(reads, 0);
}

TEST(DroppedNalUnits, ShortPatternListsEveryMissingValueAsDropped)
{
    EXPECT_EQ(droppedFrom("1 0", 6), u"2,3,4,"_s);
    // 0x1A ends the text like the end of the file.
    EXPECT_EQ(droppedFrom("1\x1a" "1 1 1", 5), u"2,3,"_s);
}

TEST(DroppedNalUnits, NonNumericValueIsTheReadError)
{
    try {
        droppedFrom("1 0 lost 1", 6);
        FAIL() << "expected a read error";
    } catch (const kestrune::UserError& e) {
        EXPECT_EQ(e.text(), u"Invalid numeric input"_s);
    }
}
