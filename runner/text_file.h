#pragma once
// The workbench's text-file rules, used by every reader and writer of the
// window: files are read whole and closed at once, 0x1A ends the text,
// lines are written with CR LF, and file failures become UserError with the
// user's file error text.
#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kestrune {

// "File not found", "Invalid filename", "Too many open files",
// "File access denied", "Disk full" or "I/O error %d" for an errno value.
QString fileErrorText(int errorNumber);
[[noreturn]] void throwFileError(int errorNumber);

// Text in the system code page (local 8-bit; UTF-8 on Linux).
QString fromSystemText(const QByteArray& bytes);
QByteArray toSystemText(const QString& text);

// Reads a text file with the workbench's rules. The constructor reads the
// whole file and closes it, so no read error can leave it open.
class TextReader {
public:
    // Throws UserError with the file error text when the file cannot be read.
    explicit TextReader(const QString& path);
    // Wraps bytes already in memory (also handy for tests).
    static TextReader fromBytes(QByteArray bytes);

    // Skips bytes <= 0x20, takes the next run of at most 32 bytes > 0x20 as
    // an integer; 0 when nothing is left. Throws UserError("Invalid numeric
    // input") for a run that is not an integer.
    int readInteger();
    // The text up to CR LF or LF (no length limit); empty past the end.
    QString readLine();
    bool atEnd() const { return position_ >= data_.size(); }

private:
    TextReader() = default;
    QByteArray data_;  // cut at the first 0x1A
    qsizetype position_ = 0;
};

// Creates or truncates the file and writes each line followed by CR LF.
// Throws UserError with the file error text on failure.
void writeTextLines(const QString& path, const QStringList& lines);

// Reads the whole file as it is (no 0x1A rule); throws UserError on failure.
QByteArray readWholeFile(const QString& path);

} // namespace kestrune
