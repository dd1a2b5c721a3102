#include "runner/launch.h"

#include "runner/child_process.h"
#include "runner/command_line.h"
#include "runner/program_lookup.h"
#include "runner/text_file.h"
#include "runner/user_error.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace kestrune {
namespace {

// A local event loop: it ends when the child ends, or when the application
// is asked to quit (QCoreApplication::exit ends every nested loop).
void waitFor(ChildProcess& child)
{
    if (!child.isRunning()) return;
    QEventLoop loop;
    QObject::connect(&child, &ChildProcess::finished, &loop, &QEventLoop::quit);
    if (auto* app = QCoreApplication::instance())
        QObject::connect(app, &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
    loop.exec();
}

WaitResult finish(ChildProcess& child)
{
    waitFor(child);
    WaitResult result;
    result.launched = true;
    result.stillRunning = child.isRunning();
    result.exitCode = child.exitCode();
    return result;
}

WaitResult ranWithoutProcess(int exitCode)
{
    WaitResult result;
    result.launched = true;
    result.exitCode = exitCode;
    return result;
}

} // namespace

WaitResult launchAndWait(const QString& program, const QStringList& arguments)
{
    QString path = program;
    if (!QFileInfo(path).isFile()) {
        if (auto found = findProgram(program, QDir::currentPath(), environmentSearchPath())) path = *found;
    }
    ChildProcess child;
    QString error;
    {
        StandardStreams streams;
        if (!child.start(path, arguments, streams, &error)) {
            WaitResult result;
            result.launchError = error;
            return result;
        }
    }
    return finish(child);
}

WaitResult runCommandLine(const QString& line)
{
    const CommandLine command = parseCommandLine(line);
    if (!command.error.isEmpty()) {
        StandardStreams().write(2, toSystemText(command.error + u"\r\n"_s));
        return ranWithoutProcess(1);
    }

    ChildProcess child;
    {
        // The streams are closed here once the child holds them, so this
        // process never keeps a capture file open.
        StandardStreams streams;
        for (const Redirection& redirection : command.redirections) {
            QString error;
            if (!streams.apply(redirection, &error)) {
                StandardStreams().write(2, toSystemText(error + u"\r\n"_s));
                return ranWithoutProcess(1);
            }
        }
        if (command.program.isEmpty()) return ranWithoutProcess(0);

        auto path = findProgram(command.program, QDir::currentPath(), environmentSearchPath());
        if (!path) {
            streams.write(2, toSystemText(notRecognizedMessage(command.program)));
            return ranWithoutProcess(kNotRecognizedExitCode);
        }
        QString error;
        if (!child.start(*path, command.arguments, streams, &error)) {
            streams.write(2, toSystemText(u"'%1' cannot be started: %2\r\n"_s.arg(command.program, error)));
            return ranWithoutProcess(1);
        }
    }
    return finish(child);
}

WaitResult runCommandFile(const QString& commandFile)
{
    QString line;
    try {
        line = TextReader(commandFile).readLine();
    } catch (const UserError& e) {
        WaitResult result;
        result.launchError = e.text();
        return result;
    }
    return runCommandLine(line);
}

} // namespace kestrune
