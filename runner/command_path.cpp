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
    // An embedded quote is doubled: the C runtime reads "" inside quotes as
    // one quote, and the interpreter, which only counts quotes, still sees
    // the redirections after the path outside quotes. Backslashes before the
    // closing quote are doubled so they stay literal.
    QString inner = path;
    inner.replace(u"\""_s, u"\"\""_s);
    qsizetype trailing = 0;
    while (trailing < inner.size() && inner[inner.size() - 1 - trailing] == u'\\') ++trailing;
    return u'"' + inner + QString(trailing, u'\\') + u'"';
}

} // namespace kestrune
