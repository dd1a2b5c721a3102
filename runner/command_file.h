#pragma once
#include <QString>

namespace kestrune {

// Creates or truncates the command file (relative names resolve in the
// current directory) and writes the command text as its one line with
// CR LF. Throws UserError with the file error text on failure.
void writeCommandFile(const QString& fileName, const QString& commandText);

} // namespace kestrune
