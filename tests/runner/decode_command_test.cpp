#include "runner/decode_command.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using kestrune::DecodedOutputResult;
using kestrune::decodeCommand;
using kestrune::placeDecodedOutput;

TEST(DecodeCommand, DefaultsGiveTheDesignedLine)
{
    EXPECT_EQ(decodeCommand(0, 0, u"lossy.264"_s),
              u"ffmpeg.exe -ec 0 -error_concealment 0 -P_error_concealment 0 -i lossy.264 -y tmp.yuv >fbatch.txt 2>&1"_s);
}

TEST(DecodeCommand, ConcealmentOptionsComeIFrameThenPFrameThenInputThenOutput)
{
    EXPECT_EQ(decodeCommand(1, 0, u"in.264"_s),
              u"ffmpeg.exe -error_concealment 1 -P_error_concealment 0 -i in.264 -y tmp.yuv >fbatch.txt 2>&1"_s);
    EXPECT_EQ(decodeCommand(2, 1, u"in.264"_s),
              u"ffmpeg.exe -error_concealment 2 -i in.264 -y tmp.yuv >fbatch.txt 2>&1"_s);
    EXPECT_EQ(decodeCommand(3, 1, u"my in.264"_s),
              u"ffmpeg.exe -error_concealment 3 -i \"my in.264\" -y tmp.yuv >fbatch.txt 2>&1"_s);
    // No selection adds no option for that frame type.
    EXPECT_EQ(decodeCommand(-1, -1, u"in.264"_s), u"ffmpeg.exe -i in.264 -y tmp.yuv >fbatch.txt 2>&1"_s);
}

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class PlaceDecodedOutput : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString scratch = dir.filePath(u"tmp.yuv"_s);
    QString output = dir.filePath(u"decoded_176x144.yuv"_s);
};

} // namespace

TEST_F(PlaceDecodedOutput, NewFileReplacesThePreviousOutputAndLeavesNoScratch)
{
    writeFile(output, "old");
    writeFile(scratch, "new frames");
    const auto result = placeDecodedOutput(scratch, output);
    EXPECT_EQ(result.kind, DecodedOutputResult::Placed);
    EXPECT_EQ(readFile(output), "new frames");
    EXPECT_FALSE(QFile::exists(scratch));
    EXPECT_TRUE(kestrune::decodedOutputMessage(result, output).isEmpty());
}

TEST_F(PlaceDecodedOutput, MovesIntoAnotherDirectory)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir(u"sub"_s));
    const QString elsewhere = dir.filePath(u"sub/out.yuv"_s);
    writeFile(scratch, "frames");
    EXPECT_EQ(placeDecodedOutput(scratch, elsewhere).kind, DecodedOutputResult::Placed);
    EXPECT_EQ(readFile(elsewhere), "frames");
    EXPECT_FALSE(QFile::exists(scratch));
}

TEST_F(PlaceDecodedOutput, WithoutNewFileThePreviousOutputIsKept)
{
    writeFile(output, "previous");
    const auto result = placeDecodedOutput(scratch, output);
    EXPECT_EQ(result.kind, DecodedOutputResult::NoNewOutput);
    EXPECT_EQ(readFile(output), "previous");
    EXPECT_EQ(kestrune::decodedOutputMessage(result, output),
              u"Decoder Error: The decoder wrote no output; (%1) is unchanged!"_s.arg(output));
}

TEST_F(PlaceDecodedOutput, FailedMoveKeepsBothFilesAndSaysWhereTheDecodedFileIs)
{
    // The destination's directory does not exist, so nothing can be moved there.
    const QString unreachable = dir.filePath(u"no such dir/out.yuv"_s);
    writeFile(scratch, "frames");
    const auto result = placeDecodedOutput(scratch, unreachable);
    ASSERT_EQ(result.kind, DecodedOutputResult::MoveFailed);
    EXPECT_EQ(readFile(scratch), "frames");
    EXPECT_EQ(result.keptAt, QFileInfo(scratch).absoluteFilePath());
    const QString message = kestrune::decodedOutputMessage(result, unreachable);
    EXPECT_TRUE(message.startsWith(u"Decoder Error: The decoded file could not be moved to ("_s + unreachable + u"): "_s));
    EXPECT_TRUE(message.endsWith(u"It is kept as "_s + result.keptAt)) << message.toStdString();
}

TEST_F(PlaceDecodedOutput, OutputNamedLikeTheScratchFileStaysInPlace)
{
    writeFile(scratch, "frames");
    EXPECT_EQ(placeDecodedOutput(scratch, scratch).kind, DecodedOutputResult::Placed);
    EXPECT_EQ(readFile(scratch), "frames");
}

TEST(PlaceDecodedOutputAcrossFileSystems, CopiesThenDeletesTheScratchFile)
{
    QTemporaryDir here;
    QTemporaryDir there(u"/dev/shm/kestrune-XXXXXX"_s);
    if (!there.isValid()) GTEST_SKIP() << "no /dev/shm to move across file systems";
    struct stat a {}, b {};
    ASSERT_EQ(stat(QFile::encodeName(here.path()).constData(), &a), 0);
    ASSERT_EQ(stat(QFile::encodeName(there.path()).constData(), &b), 0);
    if (a.st_dev == b.st_dev) GTEST_SKIP() << "/dev/shm is on the same file system as the temporary folder";

    const QString scratch = here.filePath(u"tmp.yuv"_s);
    const QString output = there.filePath(u"out.yuv"_s);
    writeFile(output, "old");
    writeFile(scratch, QByteArray(1 << 20, 'y'));
    EXPECT_EQ(placeDecodedOutput(scratch, output).kind, DecodedOutputResult::Placed);
    EXPECT_EQ(readFile(output), QByteArray(1 << 20, 'y'));
    EXPECT_FALSE(QFile::exists(scratch));
    EXPECT_EQ(QDir(there.path()).entryList(QDir::Files), QStringList{u"out.yuv"_s}); // no partial copy left
}
