#pragma once
// The interpreter of command files: one line, split into the program, its
// arguments and redirections the way the Windows command interpreter and C
// runtime would. Pure functions; nothing here touches files or processes.
#include <QString>
#include <QStringList>
#include <vector>

namespace kestrune {

struct Redirection {
    enum Kind { Write, Append, Read, Duplicate };
    Kind kind = Write;
    int fd = 1;          // the stream redirected: 0, 1 or 2
    QString file;        // Write / Append / Read: the file name, quotes removed
    int sourceFd = 1;    // Duplicate: "fd>&sourceFd"
    bool operator==(const Redirection&) const = default;
};

struct CommandLine {
    QString program;                       // first word, quotes removed
    QStringList arguments;                 // C runtime word splitting
    std::vector<Redirection> redirections; // in the order written
    QString error;                         // non-empty when the line is malformed
};

// Splits one command line. Redirections ">f", ">>f", "N>f", "N>>f", "<f",
// "N>&M" are recognised outside double quotes wherever they stand, with or
// without blanks before the file name; the rest is split into words with
// the C runtime's rules (blanks separate, double quotes group and are
// removed, backslashes escape quotes only).
CommandLine parseCommandLine(const QString& line);

// The C runtime's argument splitting alone (argv[1..] rules).
QStringList splitArguments(const QString& text);

// The message the command interpreter gives for a program it cannot find.
QString notRecognizedMessage(const QString& program);
inline constexpr int kNotRecognizedExitCode = 9009;

} // namespace kestrune
