#include "runner/command_line.h"

using namespace Qt::StringLiterals;

namespace kestrune {
namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool isDigit012(QChar c)
{
    return c == u'0' || c == u'1' || c == u'2';
}

// Reads one word starting at i, after blanks: up to a blank outside double
// quotes (and, for a redirection target, up to "<" or ">"), with the quotes
// removed and no backslash processing. This is how the C runtime reads
// argv[0] and how the command interpreter reads a redirection's file name.
QString readWord(const QString& text, qsizetype& i, bool isRedirectionTarget)
{
    while (i < text.size() && isBlank(text[i])) ++i;
    QString word;
    bool inQuotes = false;
    for (; i < text.size(); ++i) {
        QChar c = text[i];
        if (c == u'"') {
            inQuotes = !inQuotes;
            continue;
        }
        if (!inQuotes && (isBlank(c) || (isRedirectionTarget && (c == u'>' || c == u'<')))) break;
        word += c;
    }
    return word;
}

} // namespace

QStringList splitArguments(const QString& text)
{
    QStringList words;
    qsizetype i = 0;
    const qsizetype n = text.size();
    for (;;) {
        while (i < n && isBlank(text[i])) ++i;
        if (i >= n) break;
        QString word;
        bool inQuotes = false;
        while (i < n) {
            QChar c = text[i];
            if (isBlank(c) && !inQuotes) break;
            if (c == u'\\') {
                qsizetype count = 0;
                while (i + count < n && text[i + count] == u'\\') ++count;
                if (i + count < n && text[i + count] == u'"') {
                    // 2n backslashes + quote: n backslashes, the quote toggles;
                    // 2n+1: n backslashes and a literal quote.
                    word += QString(count / 2, u'\\');
                    i += count;
                    if (count % 2 == 1) {
                        word += u'"';
                        ++i;
                    }
                } else {
                    word += QString(count, u'\\');
                    i += count;
                }
                continue;
            }
            if (c == u'"') {
                if (inQuotes && i + 1 < n && text[i + 1] == u'"') {
                    word += u'"';  // "" inside quotes is one literal quote
                    i += 2;
                    continue;
                }
                inQuotes = !inQuotes;
                ++i;
                continue;
            }
            word += c;
            ++i;
        }
        words << word;
    }
    return words;
}

CommandLine parseCommandLine(const QString& input)
{
    CommandLine result;
    QString line = input;
    while (line.endsWith(u'\n') || line.endsWith(u'\r')) line.chop(1);

    // First pass, as the command interpreter does: take the redirections
    // out of the line (outside double quotes only) and keep the rest. A
    // quote escaped for the C runtime (odd run of backslashes) does not open
    // or close quotes here either, so one quoting rule serves both passes.
    QString rest;
    bool inQuotes = false;
    qsizetype i = 0;
    while (i < line.size()) {
        QChar c = line[i];
        if (c == u'\\') {
            qsizetype count = 0;
            while (i + count < line.size() && line[i + count] == u'\\') ++count;
            const bool escapesQuote = count % 2 == 1 && i + count < line.size() && line[i + count] == u'"';
            rest += line.mid(i, count + (escapesQuote ? 1 : 0));
            i += count + (escapesQuote ? 1 : 0);
            continue;
        }
        if (c == u'"') {
            inQuotes = !inQuotes;
            rest += c;
            ++i;
            continue;
        }
        const bool atWordStart = i == 0 || isBlank(line[i - 1]) || line[i - 1] == u'>' || line[i - 1] == u'<';
        const bool numbered = !inQuotes && atWordStart && isDigit012(c) && i + 1 < line.size()
                              && (line[i + 1] == u'>' || line[i + 1] == u'<');
        if (inQuotes || (!numbered && c != u'>' && c != u'<')) {
            rest += c;
            ++i;
            continue;
        }

        Redirection r;
        if (numbered) {
            r.fd = c.unicode() - u'0';
            ++i;
        }
        const bool input = line[i] == u'<';
        if (!numbered) r.fd = input ? 0 : 1;
        ++i;
        r.kind = input ? Redirection::Read : Redirection::Write;
        if (!input && i < line.size() && line[i] == u'>') {
            r.kind = Redirection::Append;
            ++i;
        }
        if (r.kind != Redirection::Append && i + 1 < line.size() && line[i] == u'&' && isDigit012(line[i + 1])) {
            r.kind = Redirection::Duplicate;
            r.sourceFd = line[i + 1].unicode() - u'0';
            i += 2;
        } else {
            r.file = readWord(line, i, true);
            if (r.file.isEmpty()) {
                result.error = u"The syntax of the command is incorrect."_s;
                return result;
            }
        }
        result.redirections.push_back(r);
        rest += u' ';
    }

    qsizetype pos = 0;
    result.program = readWord(rest, pos, false);
    result.arguments = splitArguments(rest.mid(pos));
    return result;
}

QString notRecognizedMessage(const QString& program)
{
    return u"'%1' is not recognized as an internal or external command,\r\n"
           u"operable program or batch file.\r\n"_s.arg(program);
}

} // namespace kestrune
