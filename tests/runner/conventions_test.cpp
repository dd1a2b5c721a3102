#include "runner/conventions.h"
#include "runner/user_error.h"
#include "qt_print.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace kestrune;

TEST(IsInteger, AcceptsDecimalWithinThe32BitRange)
{
    for (const QString& text : {u"0"_s, u"7"_s, u"-1"_s, u"+12"_s, u"   42"_s, u"2147483647"_s, u"-2147483648"_s,
                                u"0000000000000000000123"_s})
        EXPECT_TRUE(IsInteger(text)) << text.toStdString();
}

TEST(IsInteger, AcceptsHexFormsWithUpTo8SignificantDigits)
{
    for (const QString& text : {u"$1F"_s, u"x1f"_s, u"X1F"_s, u"0x1F"_s, u"0XfF"_s, u"-$10"_s, u"+0x7FFFFFFF"_s,
                                u"$FFFFFFFF"_s, u"$000000000001"_s, u"  $80000000"_s})
        EXPECT_TRUE(IsInteger(text)) << text.toStdString();
}

TEST(IsInteger, RejectsEverythingElse)
{
    for (const QString& text : {u""_s, u" "_s, u"+"_s, u"-"_s, u"$"_s, u"0x"_s, u"1 "_s, u"1.0"_s, u"1,000"_s,
                                u"2147483648"_s, u"-2147483649"_s, u"$100000000"_s, u"\t1"_s, u"1a"_s,
                                u"--1"_s, u"+-1"_s, u"- 1"_s, u"0x-1"_s, u"$G"_s, u"１"_s, u"1\u00a0"_s})
        EXPECT_FALSE(IsInteger(text)) << text.toStdString();
}

TEST(StrToInt, ConvertsOrThrowsWithTheText)
{
    EXPECT_EQ(StrToInt(u" -$10"_s), -16);
    EXPECT_EQ(StrToInt(u"$FFFFFFFF"_s), -1);
    EXPECT_EQ(StrToInt(u"-2147483648"_s), -2147483647 - 1);
    try {
        StrToInt(u"12a"_s);
        FAIL() << "no exception";
    } catch (const UserError& e) {
        EXPECT_EQ(e.text(), u"'12a' is not a valid integer value"_s);
    }
}

TEST(ErrorBoxText, AddsAFullStopOnlyAfterCharactersSortingAfterTheDot)
{
    EXPECT_EQ(errorBoxText(u"File not found"_s), u"File not found."_s);
    EXPECT_EQ(errorBoxText(u"I/O error 32"_s), u"I/O error 32."_s);
    EXPECT_EQ(errorBoxText(u"Error in Encoding: xbatch.txt not found!"_s), u"Error in Encoding: xbatch.txt not found!"_s);
    EXPECT_EQ(errorBoxText(u"index (3)"_s), u"index (3)"_s);
    EXPECT_EQ(errorBoxText(u"Done."_s), u"Done."_s);
    EXPECT_EQ(errorBoxText(u"a-"_s), u"a-"_s);   // '-' sorts before '.'
    EXPECT_EQ(errorBoxText(u"a/"_s), u"a/."_s);  // '/' sorts after '.'
    EXPECT_EQ(errorBoxText(QString()), QString());
}

TEST(ApplicationTitle, FileNameCutAtFirstDotFirstCharacterKept)
{
    EXPECT_EQ(applicationTitle(u"/opt/bench/kestrune"_s), u"kestrune"_s);
    EXPECT_EQ(applicationTitle(u"/opt/bench/KESTRUNE.EXE"_s), u"Kestrune"_s);
    EXPECT_EQ(applicationTitle(u"BENCH2.v2.exe"_s), u"Bench2"_s);
    EXPECT_EQ(applicationTitle(u"/x.y/aBC"_s), u"abc"_s);
    EXPECT_EQ(applicationTitle(u"/x/.hidden"_s), QString());
}
