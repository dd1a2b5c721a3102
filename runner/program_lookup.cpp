#include "runner/program_lookup.h"

#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>

using namespace Qt::StringLiterals;

namespace kestrune {
namespace {

// The regular file in dir whose name equals name, exactly or else ignoring case.
std::optional<QString> matchInDirectory(const QDir& dir, const QString& name)
{
    if (name.isEmpty()) return std::nullopt;
    QFileInfo exact(dir.filePath(name));
    if (exact.isFile()) return exact.absoluteFilePath();
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0) {
            QFileInfo info(dir.filePath(entry));
            if (info.isFile()) return info.absoluteFilePath();
        }
    }
    return std::nullopt;
}

std::optional<QString> findIn(const QDir& dir, const QString& name)
{
    if (auto found = matchInDirectory(dir, name)) return found;
    return matchInDirectory(dir, name + u".exe"_s);
}

} // namespace

std::optional<QString> findProgram(const QString& name, const QString& currentDirectory,
                                   const QStringList& searchPath)
{
    if (name.isEmpty()) return std::nullopt;
    const QDir current(currentDirectory);
    if (name.contains(u'/') || name.contains(u'\\')) {
        // A directory part: look only there; the directories themselves
        // must exist as written.
        QString path = name;
        path.replace(u'\\', u'/');
        QFileInfo info(current.filePath(path));
        QDir dir = info.dir();
        if (!dir.exists()) return std::nullopt;
        return findIn(dir, info.fileName());
    }
    if (auto found = findIn(current, name)) return found;
    for (const QString& directory : searchPath) {
        if (directory.isEmpty()) continue;
        if (auto found = findIn(QDir(current.filePath(directory)), name)) return found;
    }
    return std::nullopt;
}

QStringList environmentSearchPath()
{
    const QString path = QProcessEnvironment::systemEnvironment().value(u"PATH"_s);
    return path.split(QDir::listSeparator(), Qt::SkipEmptyParts);
}

} // namespace kestrune
