#include "runner/command_line.h"
#include "runner/command_path.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using kestrune::commandLinePath;

TEST(CommandLinePath, OrdinaryPathsGoInExactlyAsTyped)
{
    for (const QString& path : {u"lossy.264"_s, u"/home/user/out.yuv"_s, u""_s, u"a\\b.264"_s, u"$x(1).264"_s})
        EXPECT_EQ(commandLinePath(path), path) << path.toStdString();
}

TEST(CommandLinePath, BlanksAndInterpreterCharactersAreQuoted)
{
    EXPECT_EQ(commandLinePath(u"my clips/out.264"_s), u"\"my clips/out.264\""_s);
    for (const QString& path : {u"a>b.264"_s, u"a<b"_s, u"a|b"_s, u"a&b"_s, u"tab\there"_s})
        EXPECT_TRUE(commandLinePath(path).startsWith(u'"')) << path.toStdString();
}

TEST(CommandLinePath, QuotedPathSplitsBackToOneWordAndStartsNoRedirection)
{
    const QStringList paths = {u"my clips/out.264"_s, u"x >evil.txt"_s, u"odd\"name.264"_s,
                               u"dir with\\ trailing\\"_s, u"a\\b c"_s, u"& rm x"_s, u"say \"hi\" >x"_s};
    for (const QString& path : paths) {
        const auto parsed = kestrune::parseCommandLine(u"tool.exe "_s + commandLinePath(path) + u" >cap.txt"_s);
        ASSERT_TRUE(parsed.error.isEmpty()) << path.toStdString();
        ASSERT_EQ(parsed.arguments, QStringList{path}) << path.toStdString();
        ASSERT_EQ(parsed.redirections.size(), 1u) << path.toStdString();
        EXPECT_EQ(parsed.redirections[0].file, u"cap.txt"_s);
    }
}
