#pragma once
// "players.cnf": line 1 the H.264 player's path, line 2 the YUV player's,
// each ended by CR LF; either may be empty.
#include <QString>

namespace kestrune {

inline constexpr char16_t kPlayersConfigFile[] = u"players.cnf";

struct PlayerPaths {
    QString h264Player;
    QString yuvPlayer;
    bool operator==(const PlayerPaths&) const = default;
};

// Reads both lines (a missing second line reads empty; further lines are
// ignored). Throws UserError with the file error text when unreadable.
PlayerPaths readPlayersConfig(const QString& path);

// Rewrites the file whole with both lines; throws UserError on failure.
void writePlayersConfig(const QString& path, const PlayerPaths& paths);

} // namespace kestrune
