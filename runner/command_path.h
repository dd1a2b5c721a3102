#pragma once
// How a path the user typed or chose enters a command line: unchanged, unless
// it holds a blank or a character the command interpreter treats specially,
// in which case it goes in double quotes so it stays one word and cannot
// start a redirection.
#include <QString>

namespace kestrune {

bool needsCommandQuotes(const QString& path);

// The path as it must appear on a command line.
QString commandLinePath(const QString& path);

} // namespace kestrune
