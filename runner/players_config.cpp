#include "runner/players_config.h"

#include "runner/text_file.h"

namespace kestrune {

PlayerPaths readPlayersConfig(const QString& path)
{
    TextReader reader(path);
    PlayerPaths paths;
    paths.h264Player = reader.readLine();
    paths.yuvPlayer = reader.readLine();
    return paths;
}

void writePlayersConfig(const QString& path, const PlayerPaths& paths)
{
    writeTextLines(path, {paths.h264Player, paths.yuvPlayer});
}

} // namespace kestrune
