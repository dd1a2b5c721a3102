#pragma once
#include <QFileInfo>
#include <QString>

namespace kestrune {

// The existence test of the window's commands: a file, not a folder; a
// relative name is looked for in the current directory.
inline bool fileExists(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

} // namespace kestrune
