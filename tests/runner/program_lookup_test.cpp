#include "runner/program_lookup.h"
#include "qt_print.h"
#include "scratch_dir_test.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace kestrune;

namespace {

class ProgramLookupTest : public kestrune::testing::ScratchDirTest {
protected:
    void SetUp() override
    {
        ScratchDirTest::SetUp();
        for (const char* folder : {"tools", "bin", "bin2", "dir.exe"}) ASSERT_TRUE(QDir().mkdir(QString::fromLatin1(folder)));
        for (const char* file : {"gilbert.exe", "x264.exe", "h264_analyze.exe", "tools/Decoder.EXE", "bin/player",
                                 "bin/gilbert.exe", "bin2/x264", "Mixed.exe", "mixed.exe"})
            write(QString::fromLatin1(file), "#");
    }
    std::optional<QString> find(const QString& name) const
    {
        return findProgram(name, dir.path(), {path(u"bin"_s), path(u"bin2"_s)});
    }
};

} // namespace

TEST_F(ProgramLookupTest, NamesMatchWithoutRegardToCaseAndGainExe)
{
    EXPECT_EQ(find(u"Gilbert.exe"_s), path(u"gilbert.exe"_s));
    EXPECT_EQ(find(u"x264"_s), path(u"x264.exe"_s));
    EXPECT_EQ(find(u"X264"_s), path(u"x264.exe"_s));
    EXPECT_EQ(find(u"H264_ANALYZE"_s), path(u"h264_analyze.exe"_s));
    EXPECT_EQ(find(u"mixed.exe"_s), path(u"mixed.exe"_s));  // the exact name wins
    EXPECT_EQ(find(u"Mixed.exe"_s), path(u"Mixed.exe"_s));
}

TEST_F(ProgramLookupTest, CurrentDirectoryFirstThenEachPathEntry)
{
    EXPECT_EQ(find(u"gilbert"_s), path(u"gilbert.exe"_s));
    EXPECT_EQ(find(u"PLAYER"_s), path(u"bin/player"_s));
    // A bare name in the current directory beats "x264.exe" further along the path.
    EXPECT_EQ(findProgram(u"x264"_s, path(u"bin"_s), {path(u"bin2"_s), dir.path()}), path(u"bin2/x264"_s));
}

TEST_F(ProgramLookupTest, DirectoryPartsAreLookedForOnlyThere)
{
    EXPECT_EQ(find(u"tools/decoder"_s), path(u"tools/Decoder.EXE"_s));
    EXPECT_EQ(find(u"tools\\decoder.exe"_s), path(u"tools/Decoder.EXE"_s));
    EXPECT_EQ(find(path(u"tools/DECODER.exe"_s)), path(u"tools/Decoder.EXE"_s));
    EXPECT_EQ(find(u"tools/player"_s), std::nullopt);
    EXPECT_EQ(find(u"nowhere/x264"_s), std::nullopt);
}

TEST_F(ProgramLookupTest, MissingNamesAndFoldersAreNotPrograms)
{
    EXPECT_EQ(find(u"ffmpeg"_s), std::nullopt);
    EXPECT_EQ(find(u"dir"_s), std::nullopt);
    EXPECT_EQ(find(u"tools"_s), std::nullopt);
    EXPECT_EQ(find(QString()), std::nullopt);
}
