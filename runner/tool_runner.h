#pragma once
// Runs a tool's command file and copies its capture file into the log:
// the common part of the window's runner methods.
#include "runner/launch.h"
#include "runner/log_sink.h"
#include "runner/prompts.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kestrune {

struct ToolRun {
    QString commandFile;            // e.g. "xbatch.bat"
    QString captureFile;            // e.g. "xbatch.txt"
    QString launchFailedMessage;    // e.g. "Error in running xbatch.bat"
    QString captureMissingMessage;  // e.g. "Error in Encoding: xbatch.txt not found!"
};

enum class RunOutcome { LaunchFailed, CaptureMissing, Captured };

// The log lines of a capture: CR, LF and CR LF all break lines; a text
// ending in a line break gives a last empty line; an empty text one empty line.
QStringList captureLines(const QByteArray& bytes);

class ToolRunner {
public:
    ToolRunner(Prompts& prompts, LogSink& log) : prompts_(prompts), log_(log) {}

    // Runs the command file and waits; then, when the capture file exists,
    // appends it to the log and deletes the capture file, then the command
    // file (Captured). A failed launch or a missing capture file shows the
    // given message through the prompts and changes nothing else. Throws
    // UserError("Cannot open file ...") when the application is quitting
    // while the tool still runs; nothing is appended or deleted then.
    RunOutcome run(const ToolRun& toolRun);

    // The launch and wait of a command file alone (the analyzer's runner
    // method does its own capture steps).
    WaitResult launchCommandFile(const QString& commandFile) { return runCommandFile(commandFile); }

    // When the file exists: appends its text to the log as one addition,
    // deletes it and returns true; false when it does not exist. Throws like
    // run() when the wait ended with the tool still running.
    bool appendFileToLog(const QString& file, const WaitResult& wait);

private:
    Prompts& prompts_;
    LogSink& log_;
};

} // namespace kestrune
