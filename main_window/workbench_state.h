#pragma once
// The program-wide values every handler of the main window reads and writes.
#include <QString>

struct WorkbenchState {
    int rateControlMode = 1;  // 1 average bitrate, 2 constant quantizer, 3 constant rate factor
    int nalUnitCount = 0;     // total NAL units as last read from general.txt
    int selectedColumn = 0;   // zero-based column of the last selected map cell
    int analysisMode = 0;     // post-processing of AnalyzeRun: 0, 2 or 4
    QString h264PlayerPath;
    QString yuvPlayerPath;
    QString startDirectory;   // current directory at start-up
};

namespace kestrune {

// Reads the two player paths from "players.cnf" in the current directory
// (line 1 H.264 player, line 2 YUV player) when the file exists.
void loadPlayers(WorkbenchState& state);

} // namespace kestrune
