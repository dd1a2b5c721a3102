#pragma once
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <filesystem>

namespace kestrune {

// The existence test of the window's commands: a file, not a folder; a
// relative name is looked for in the current directory.
inline bool fileExists(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

// What a file looked like at one moment, to tell afterwards whether a run
// wrote it: a new file, a replaced one or one rewritten in place all differ
// in their modification time (kept in nanoseconds) or size.
struct FileStamp {
    bool exists = false;
    std::filesystem::file_time_type modified {};
    std::uintmax_t size = 0;
    bool operator==(const FileStamp&) const = default;
};

inline FileStamp fileStamp(const QString& path)
{
    std::error_code ec;
    const std::filesystem::path file(QFile::encodeName(path).toStdString());
    FileStamp stamp;
    if (path.isEmpty() || !std::filesystem::is_regular_file(file, ec)) return stamp;
    stamp.modified = std::filesystem::last_write_time(file, ec);
    stamp.size = std::filesystem::file_size(file, ec);
    stamp.exists = !ec;
    return stamp;
}

inline bool writtenSince(const FileStamp& before, const FileStamp& after)
{
    return after.exists && after != before;
}

} // namespace kestrune
