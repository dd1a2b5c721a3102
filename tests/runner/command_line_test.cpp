#include "runner/command_line.h"
#include "qt_print.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace kestrune;

namespace {

Redirection to(int fd, const QString& file, Redirection::Kind kind = Redirection::Write)
{
    Redirection r;
    r.kind = kind;
    r.fd = fd;
    r.file = file;
    return r;
}

Redirection duplicate(int fd, int sourceFd)
{
    Redirection r;
    r.kind = Redirection::Duplicate;
    r.fd = fd;
    r.sourceFd = sourceFd;
    return r;
}

} // namespace

TEST(SplitArguments, BlanksSeparateAndQuotesGroup)
{
    EXPECT_EQ(splitArguments(u"a  b\tc "_s), (QStringList{u"a"_s, u"b"_s, u"c"_s}));
    EXPECT_EQ(splitArguments(u"\"a b\" c"_s), (QStringList{u"a b"_s, u"c"_s}));
    EXPECT_EQ(splitArguments(u"a\"b c\"d"_s), (QStringList{u"ab cd"_s}));
    EXPECT_EQ(splitArguments(u"\"\" x"_s), (QStringList{QString(), u"x"_s}));
    EXPECT_EQ(splitArguments(u"\"open ended"_s), (QStringList{u"open ended"_s}));
    EXPECT_EQ(splitArguments(u"   "_s), QStringList());
}

TEST(SplitArguments, BackslashesEscapeOnlyQuotes)
{
    EXPECT_EQ(splitArguments(uR"(C:\dir\file.264)"_s), (QStringList{uR"(C:\dir\file.264)"_s}));
    EXPECT_EQ(splitArguments(uR"(\"a)"_s), (QStringList{u"\"a"_s}));          // odd: literal quote
    EXPECT_EQ(splitArguments(uR"(\\"a b")"_s), (QStringList{uR"(\a b)"_s}));  // even: quote groups
    EXPECT_EQ(splitArguments(uR"(\\\"a)"_s), (QStringList{uR"(\"a)"_s}));
    EXPECT_EQ(splitArguments(uR"("C:\my dir\\" next)"_s), (QStringList{uR"(C:\my dir\)"_s, u"next"_s}));
    EXPECT_EQ(splitArguments(u"\"a\"\"b\""_s), (QStringList{u"a\"b"_s}));    // "" inside quotes
}

TEST(ParseCommandLine, TheEncodeLineAsTheWindowWritesIt)
{
    auto c = parseCommandLine(u"x264.exe --crf 26 -o out.264 in.yuv >xbatch.txt 2>&1\r\n"_s);
    EXPECT_TRUE(c.error.isEmpty());
    EXPECT_EQ(c.program, u"x264.exe"_s);
    EXPECT_EQ(c.arguments, (QStringList{u"--crf"_s, u"26"_s, u"-o"_s, u"out.264"_s, u"in.yuv"_s}));
    EXPECT_EQ(c.redirections, (std::vector{to(1, u"xbatch.txt"_s), duplicate(2, 1)}));
}

TEST(ParseCommandLine, RedirectionsAnywhereWithOrWithoutBlankInOrder)
{
    auto c = parseCommandLine(u">first.txt prog a 2> err.txt b <in.txt 1>>log.txt c>> more.txt 0<x d 1>o"_s);
    EXPECT_TRUE(c.error.isEmpty());
    EXPECT_EQ(c.program, u"prog"_s);
    EXPECT_EQ(c.arguments, (QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s}));
    EXPECT_EQ(c.redirections, (std::vector{to(1, u"first.txt"_s), to(2, u"err.txt"_s), to(0, u"in.txt"_s, Redirection::Read),
                                           to(1, u"log.txt"_s, Redirection::Append), to(1, u"more.txt"_s, Redirection::Append),
                                           to(0, u"x"_s, Redirection::Read), to(1, u"o"_s)}));

    auto order = parseCommandLine(u"prog 2>&1 >f"_s);
    EXPECT_EQ(order.redirections, (std::vector{duplicate(2, 1), to(1, u"f"_s)}));
}

TEST(ParseCommandLine, RedirectionInsideAWordOrQuotes)
{
    auto glued = parseCommandLine(u"prog a>f.txt b"_s);
    EXPECT_EQ(glued.arguments, (QStringList{u"a"_s, u"b"_s}));
    EXPECT_EQ(glued.redirections, (std::vector{to(1, u"f.txt"_s)}));

    // A digit inside a word is part of the word, not a stream number.
    auto digit = parseCommandLine(u"prog a2>f"_s);
    EXPECT_EQ(digit.arguments, (QStringList{u"a2"_s}));
    EXPECT_EQ(digit.redirections, (std::vector{to(1, u"f"_s)}));

    auto quoted = parseCommandLine(u"prog \"a>b\" \"2>&1\" >\"my capture.txt\""_s);
    EXPECT_EQ(quoted.arguments, (QStringList{u"a>b"_s, u"2>&1"_s}));
    EXPECT_EQ(quoted.redirections, (std::vector{to(1, u"my capture.txt"_s)}));
}

TEST(ParseCommandLine, EscapedQuotesDoNotHideARedirection)
{
    auto c = parseCommandLine(uR"(prog "a\"b c" \\"d e" x\" >cap.txt 2>&1)"_s);
    EXPECT_EQ(c.arguments, (QStringList{u"a\"b c"_s, uR"(\d e)"_s, u"x\""_s}));
    EXPECT_EQ(c.redirections, (std::vector{to(1, u"cap.txt"_s), duplicate(2, 1)}));
}

TEST(ParseCommandLine, QuotedProgramAndShellCharactersStayLiteral)
{
    auto c = parseCommandLine(u"\"my tools/Gilbert.exe\" 1 & rm -rf x | y ; $(z) `w`"_s);
    EXPECT_EQ(c.program, u"my tools/Gilbert.exe"_s);
    EXPECT_EQ(c.arguments, (QStringList{u"1"_s, u"&"_s, u"rm"_s, u"-rf"_s, u"x"_s, u"|"_s, u"y"_s, u";"_s,
                                        u"$(z)"_s, u"`w`"_s}));
    EXPECT_TRUE(c.redirections.empty());
}

TEST(ParseCommandLine, EmptyLineAndMissingTarget)
{
    auto empty = parseCommandLine(u"  \r\n"_s);
    EXPECT_TRUE(empty.program.isEmpty());
    EXPECT_TRUE(empty.error.isEmpty());

    EXPECT_FALSE(parseCommandLine(u"prog >"_s).error.isEmpty());
    EXPECT_FALSE(parseCommandLine(u"prog 2>   "_s).error.isEmpty());
}

TEST(NotRecognizedMessage, IsTheCommandInterpretersTwoLines)
{
    EXPECT_EQ(notRecognizedMessage(u"x264.exe"_s),
              u"'x264.exe' is not recognized as an internal or external command,\r\noperable program or batch file.\r\n"_s);
}
