#include "runner/command_path.h"

using namespace Qt::StringLiterals;

namespace kestrune {

bool needsCommandQuotes(const QString& path)
{
    static const QString special = u" \t\"<>|&"_s;
    for (QChar c : path)
        if (special.contains(c)) return true;
    return false;
}

QString commandLinePath(const QString& path)
{
    if (!needsCommandQuotes(path)) return path;
    // Quote so that the C runtime's word splitting gives the path back
    // unchanged: backslashes are literal except before a double quote, where
    // they must be doubled and the quote itself escaped.
    QString quoted = u"\""_s;
    qsizetype backslashes = 0;
    for (QChar c : path) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        if (c == u'"') {
            quoted += QString(backslashes * 2 + 1, u'\\');
            quoted += u'"';
        } else {
            quoted += QString(backslashes, u'\\');
            quoted += c;
        }
        backslashes = 0;
    }
    quoted += QString(backslashes * 2, u'\\');
    quoted += u'"';
    return quoted;
}

} // namespace kestrune
