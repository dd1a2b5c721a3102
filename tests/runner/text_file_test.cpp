#include "runner/command_file.h"
#include "runner/text_file.h"
#include "runner/user_error.h"
#include "qt_print.h"
#include "scratch_dir_test.h"

#include <cerrno>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace kestrune;

namespace {

QString errorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const UserError& e) {
        return e.text();
    }
    return u"<no error>"_s;
}

class TextFileTest : public kestrune::testing::ScratchDirTest {};

} // namespace

TEST(FileErrorText, MapsSystemErrorsToTheUsersTexts)
{
    EXPECT_EQ(fileErrorText(ENOENT), u"File not found"_s);
    EXPECT_EQ(fileErrorText(ENAMETOOLONG), u"Invalid filename"_s);
    EXPECT_EQ(fileErrorText(ENOTDIR), u"Invalid filename"_s);
    EXPECT_EQ(fileErrorText(EMFILE), u"Too many open files"_s);
    EXPECT_EQ(fileErrorText(EACCES), u"File access denied"_s);
    EXPECT_EQ(fileErrorText(EROFS), u"File access denied"_s);
    EXPECT_EQ(fileErrorText(ENOSPC), u"Disk full"_s);
    EXPECT_EQ(fileErrorText(EIO), u"I/O error %1"_s.arg(EIO));
    EXPECT_EQ(fileErrorText(32), u"I/O error 32"_s);
}

TEST(TextReader, IntegersFollowAnyRunOfControlBytesAndZeroPastTheEnd)
{
    auto reader = TextReader::fromBytes(QByteArray(" 12\t-3\r\n\x01\x1f$1F\n  x10 "));
    EXPECT_EQ(reader.readInteger(), 12);
    EXPECT_EQ(reader.readInteger(), -3);
    EXPECT_EQ(reader.readInteger(), 31);
    EXPECT_EQ(reader.readInteger(), 16);
    EXPECT_EQ(reader.readInteger(), 0);
    EXPECT_EQ(reader.readInteger(), 0);
}

TEST(TextReader, ByteOx1AEndsTheText)
{
    auto reader = TextReader::fromBytes(QByteArray("5 7\x1a 9\n", 8));
    EXPECT_EQ(reader.readInteger(), 5);
    EXPECT_EQ(reader.readInteger(), 7);
    EXPECT_EQ(reader.readInteger(), 0);

    auto lines = TextReader::fromBytes(QByteArray("ab\x1a" "cd\r\nef", 9));
    EXPECT_EQ(lines.readLine(), u"ab"_s);
    EXPECT_EQ(lines.readLine(), QString());
}

TEST(TextReader, AnIntegerIsAtMost32Bytes)
{
    // 33 bytes: the first 32 zeros are one number, the last digit the next.
    auto reader = TextReader::fromBytes(QByteArray(32, '0') + "7 8");
    EXPECT_EQ(reader.readInteger(), 0);
    EXPECT_EQ(reader.readInteger(), 7);
    EXPECT_EQ(reader.readInteger(), 8);
}

TEST(TextReader, ANonIntegerRunIsInvalidNumericInput)
{
    for (const char* text : {"12a", "1.5", "--1", "99999999999", "abc"}) {
        auto reader = TextReader::fromBytes(QByteArray(" ") + text);
        EXPECT_EQ(errorOf([&] { reader.readInteger(); }), u"Invalid numeric input"_s) << text;
    }
}

TEST(TextReader, LinesEndAtCrLfOrLfWithoutLengthLimit)
{
    const QByteArray longLine(100000, 'q');
    auto reader = TextReader::fromBytes("one\r\ntwo\nthree\rstill\r\n\n" + longLine);
    EXPECT_EQ(reader.readLine(), u"one"_s);
    EXPECT_EQ(reader.readLine(), u"two"_s);
    EXPECT_EQ(reader.readLine(), u"three\rstill"_s);
    EXPECT_EQ(reader.readLine(), QString());
    EXPECT_EQ(reader.readLine(), QString::fromLatin1(longLine));
    EXPECT_TRUE(reader.atEnd());
    EXPECT_EQ(reader.readLine(), QString());
}

TEST(TextReader, LineAfterIntegerIsTheRestOfThatLine)
{
    auto reader = TextReader::fromBytes("42 C:/players/one.exe\r\nsecond\r\n");
    EXPECT_EQ(reader.readInteger(), 42);
    EXPECT_EQ(reader.readLine(), u" C:/players/one.exe"_s);
    EXPECT_EQ(reader.readLine(), u"second"_s);
}

TEST_F(TextFileTest, ReadsFilesInTheSystemCodePage)
{
    write(u"players.cnf"_s, "/opt/spieler/wiedergabe-\xc3\xa4.bin\r\n3\r\n");
    TextReader reader(u"players.cnf"_s);
    EXPECT_EQ(reader.readLine(), u"/opt/spieler/wiedergabe-\u00e4.bin"_s);
    EXPECT_EQ(reader.readInteger(), 3);
}

TEST_F(TextFileTest, OpenFailuresCarryTheFileErrorText)
{
    EXPECT_EQ(errorOf([] { TextReader reader(u"missing.txt"_s); }), u"File not found"_s);
    EXPECT_EQ(errorOf([] { TextReader reader{QString()}; }), u"File not found"_s);
    ASSERT_TRUE(QDir().mkdir(u"folder"_s));
    EXPECT_EQ(errorOf([] { TextReader reader(u"folder"_s); }), u"File access denied"_s);
    write(u"plain"_s, "x");
    EXPECT_EQ(errorOf([] { TextReader reader(u"plain/below.txt"_s); }), u"Invalid filename"_s);
}

TEST_F(TextFileTest, CommandFileIsOneLineWithCrLfAndReplacesTheOldOne)
{
    writeCommandFile(u"xbatch.bat"_s, u"x264.exe --crf 26 -o out.264 in.yuv >xbatch.txt 2>&1"_s);
    EXPECT_EQ(contents(u"xbatch.bat"_s), "x264.exe --crf 26 -o out.264 in.yuv >xbatch.txt 2>&1\r\n");
    writeCommandFile(u"xbatch.bat"_s, u"short"_s);
    EXPECT_EQ(contents(u"xbatch.bat"_s), "short\r\n");

    writeTextLines(u"two.txt"_s, {u"a"_s, QString(), u"\u00e9"_s});
    EXPECT_EQ(contents(u"two.txt"_s), "a\r\n\r\n\xc3\xa9\r\n");
}

TEST_F(TextFileTest, CommandFileWriteFailuresCarryTheFileErrorText)
{
    ASSERT_TRUE(QDir().mkdir(u"folder"_s));
    EXPECT_EQ(errorOf([] { writeCommandFile(u"folder"_s, u"x"_s); }), u"File access denied"_s);
    EXPECT_EQ(errorOf([] { writeCommandFile(u"nowhere/gil.bat"_s, u"x"_s); }), u"File not found"_s);
    if (::geteuid() != 0) {
        ASSERT_TRUE(QFile::setPermissions(path(u"folder"_s), QFile::ReadOwner | QFile::ExeOwner));
        EXPECT_EQ(errorOf([] { writeCommandFile(u"folder/gil.bat"_s, u"x"_s); }), u"File access denied"_s);
    }
    if (QFile::exists(u"/dev/full"_s)) {
        EXPECT_EQ(errorOf([] { writeCommandFile(u"/dev/full"_s, u"x"_s); }), u"Disk full"_s);
    }
}
