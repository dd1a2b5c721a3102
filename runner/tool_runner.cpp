#include "runner/tool_runner.h"

#include "runner/text_file.h"
#include "runner/user_error.h"

#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace kestrune {

QStringList captureLines(const QByteArray& bytes)
{
    const QString text = fromSystemText(bytes);
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\r' && text[i] != u'\n') continue;
        lines << text.mid(start, i - start);
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        start = i + 1;
    }
    lines << text.mid(start);
    return lines;
}

RunOutcome ToolRunner::run(const ToolRun& toolRun)
{
    const WaitResult wait = runCommandFile(toolRun.commandFile);
    if (!wait.launched) {
        prompts_.message(toolRun.launchFailedMessage);
        return RunOutcome::LaunchFailed;
    }
    if (!appendFileToLog(toolRun.captureFile, wait)) {
        prompts_.message(toolRun.captureMissingMessage);
        return RunOutcome::CaptureMissing;
    }
    QFile::remove(toolRun.commandFile);
    return RunOutcome::Captured;
}

bool ToolRunner::appendFileToLog(const QString& file, const WaitResult& wait)
{
    const QFileInfo info(file);
    if (!info.exists()) return false;
    const QString cannotOpen = u"Cannot open file \"%1\". %2"_s;
    // The tool may still be writing its capture: reading it now would give
    // a partial text, so it is refused the way a locked file would be.
    if (wait.stillRunning)
        throw UserError(cannotOpen.arg(info.absoluteFilePath(),
                                       u"The process cannot access the file because it is being used by another process."_s));
    QByteArray bytes;
    try {
        bytes = readWholeFile(file);
    } catch (const UserError& e) {
        throw UserError(cannotOpen.arg(info.absoluteFilePath(), e.text()));
    }
    log_.appendLines(captureLines(bytes));
    QFile::remove(file);
    return true;
}

} // namespace kestrune
