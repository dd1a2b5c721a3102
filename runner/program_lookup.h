#pragma once
#include <QString>
#include <QStringList>
#include <optional>

namespace kestrune {

// Finds a program the way the Windows command interpreter does: a name with
// a directory part is looked for there (relative to currentDirectory); a
// bare name in currentDirectory first, then in each PATH directory. In each
// place the name as written is tried, then with ".exe" appended; file names
// match without regard to case (an exact match wins). Returns the full path
// of a regular file, or nothing.
std::optional<QString> findProgram(const QString& name, const QString& currentDirectory,
                                   const QStringList& searchPath);

// The directories of the PATH environment variable.
QStringList environmentSearchPath();

} // namespace kestrune
