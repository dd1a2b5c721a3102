#pragma once
// The launch-and-wait core shared by the tool runs and the players. The
// wait is a local event loop: the window stays responsive, no CPU is spent,
// runs may nest, and the wait ends when the process ends or the
// application is asked to quit (the process is then left running).
#include <QString>
#include <QStringList>

namespace kestrune {

struct WaitResult {
    bool launched = false;     // false: nothing ran, launchError says why
    bool stillRunning = false; // the wait ended because the application is quitting
    int exitCode = 0;          // when it ended; never examined by the window
    QString launchError;
};

// Starts the program directly (no interpreter) and waits. A player is
// started this way with the file as its one argument. There is no window to
// hide or show: a player opens its own, a tool has none.
WaitResult launchAndWait(const QString& program, const QStringList& arguments);

// Interprets one command line (see command_line.h) in the current directory
// and waits for it. A program that cannot be found writes the command
// interpreter's message to the redirected standard error and counts as
// exit code 9009; that is still a launched run.
WaitResult runCommandLine(const QString& line);

// Reads the command file's first line and runs it as above; not launched
// when the command file cannot be read.
WaitResult runCommandFile(const QString& commandFile);

} // namespace kestrune
