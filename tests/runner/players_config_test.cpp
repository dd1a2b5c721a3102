#include "runner/players_config.h"
#include "runner/user_error.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using kestrune::PlayerPaths;
using kestrune::readPlayersConfig;
using kestrune::writePlayersConfig;

namespace {
class PlayersConfig : public ::testing::Test {
protected:
    void write(const QByteArray& bytes)
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray read()
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QTemporaryDir dir;
    QString file = dir.filePath(u"players.cnf"_s);
};
} // namespace

TEST_F(PlayersConfig, WritesExactlyTwoCrLfLinesAndReadsThemBack)
{
    const PlayerPaths paths{u"/usr/bin/mpv"_s, u"/opt/my player/yuv view"_s};
    writePlayersConfig(file, paths);
    EXPECT_EQ(read(), "/usr/bin/mpv\r\n/opt/my player/yuv view\r\n");
    EXPECT_EQ(readPlayersConfig(file), paths);

    writePlayersConfig(file, {});
    EXPECT_EQ(read(), "\r\n\r\n");
    EXPECT_EQ(readPlayersConfig(file), PlayerPaths{});
}

TEST_F(PlayersConfig, OneLineGivesAnEmptyYuvPlayerAndExtraLinesAreIgnored)
{
    write("/usr/bin/mpv");
    EXPECT_EQ(readPlayersConfig(file), (PlayerPaths{u"/usr/bin/mpv"_s, {}}));
    write("a\nb\r\nc\r\n");
    EXPECT_EQ(readPlayersConfig(file), (PlayerPaths{u"a"_s, u"b"_s}));
}

TEST_F(PlayersConfig, MissingOrUnwritableFileIsTheFileError)
{
    try {
        readPlayersConfig(file);
        FAIL() << "expected a file error";
    } catch (const kestrune::UserError& e) {
        EXPECT_EQ(e.text(), u"File not found"_s);
    }
    EXPECT_THROW(writePlayersConfig(dir.filePath(u"missing/players.cnf"_s), {}), kestrune::UserError);
}
