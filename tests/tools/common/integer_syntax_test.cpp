#include "tools/common/integer_syntax.h"

#include <gtest/gtest.h>

using kestrune::parseInteger;

TEST(IntegerSyntax, DecimalWithSignsLeadingSpacesAndZeros)
{
    EXPECT_EQ(parseInteger("0"), 0);
    EXPECT_EQ(parseInteger("500"), 500);
    EXPECT_EQ(parseInteger("+7"), 7);
    EXPECT_EQ(parseInteger("-12"), -12);
    EXPECT_EQ(parseInteger("   26"), 26);
    EXPECT_EQ(parseInteger("  -0"), 0);
    EXPECT_EQ(parseInteger("00042"), 42);
}

TEST(IntegerSyntax, DecimalRangeIsThirtyTwoBitSigned)
{
    EXPECT_EQ(parseInteger("2147483647"), 2147483647);
    EXPECT_EQ(parseInteger("-2147483648"), INT32_MIN);
    EXPECT_FALSE(parseInteger("2147483648"));
    EXPECT_FALSE(parseInteger("-2147483649"));
    EXPECT_FALSE(parseInteger("99999999999999999999"));
}

TEST(IntegerSyntax, HexadecimalPrefixesAndBitPatterns)
{
    EXPECT_EQ(parseInteger("$1F"), 31);
    EXPECT_EQ(parseInteger("x10"), 16);
    EXPECT_EQ(parseInteger("X10"), 16);
    EXPECT_EQ(parseInteger("0x10"), 16);
    EXPECT_EQ(parseInteger("0XfF"), 255);
    EXPECT_EQ(parseInteger("$FFFFFFFF"), -1);
    EXPECT_EQ(parseInteger("$80000000"), INT32_MIN);
    EXPECT_EQ(parseInteger("-$10"), -16);
    EXPECT_EQ(parseInteger(" +0x7fffffff"), INT32_MAX);
    // Leading zeros are not significant digits.
    EXPECT_EQ(parseInteger("$000000000001"), 1);
    EXPECT_FALSE(parseInteger("$100000000"));
    EXPECT_FALSE(parseInteger("$"));
    EXPECT_FALSE(parseInteger("0x"));
    EXPECT_FALSE(parseInteger("$1G"));
}

TEST(IntegerSyntax, RejectsEverythingElse)
{
    for (const char* text : {"", " ", "-", "+", "5 ", "5.5", "1,000", "1e3", "\t5", "a", "All", "all",
                             "--5", "+-5", "5-", "0x-5", " $ 5", "$$5"})
        EXPECT_FALSE(parseInteger(text)) << '"' << text << '"';
}
