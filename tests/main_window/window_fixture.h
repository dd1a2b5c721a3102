#pragma once
// Window tests in a start directory of their own, with stand-in tools: small
// shell scripts under the names the window runs, each logging its arguments
// (one per line, "--" between runs) so a test can check what a command line
// turned into.
#include "main_window/tform1.h"
#include "tests/support/recording_prompts.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace kestrune::testing {

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(bytes);
}

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes an executable script named `name` into dir.
inline void writeScript(const QDir& dir, const QString& name, const QByteArray& body)
{
    const QString path = dir.filePath(name);
    writeFile(path, "#!/bin/sh\n" + body);
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
}

// Logs "$@" into <log>, one argument per line, each run ended by "--".
inline QByteArray logArguments(const QByteArray& log)
{
    return "for a in \"$@\"; do printf '%s\\n' \"$a\" >> " + log + "; done; echo -- >> " + log + "\n";
}

// The argument lists the logged runs received, in order.
inline QList<QStringList> loggedRuns(const QString& logPath)
{
    QList<QStringList> runs;
    QStringList current;
    for (const QString& line : QString::fromUtf8(readFile(logPath)).split(u'\n')) {
        if (line == QLatin1String("--")) {
            runs << current;
            current.clear();
        } else if (!line.isEmpty()) {
            current << line;
        }
    }
    return runs;
}

// The window started in a fresh temporary directory, which FormCreate
// records as the start directory.
class WindowInStartDirectory : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir::setCurrent(dir.path()));
        form = std::make_unique<TForm1>(prompts);
    }
    QString at(const QString& name) const { return start.filePath(name); }

    QTemporaryDir dir;
    QDir start{dir.path()};
    RecordingPrompts prompts;
    std::unique_ptr<TForm1> form;
};

} // namespace kestrune::testing
