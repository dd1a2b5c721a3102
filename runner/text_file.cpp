#include "runner/text_file.h"

#include "runner/user_error.h"
#include "tools/common/integer_syntax.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string_view>

using namespace Qt::StringLiterals;

namespace kestrune {
namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

FileHandle openFile(const QString& path, const char* mode)
{
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty()) throwFileError(ENOENT);
    errno = 0;
    FileHandle file(std::fopen(name.constData(), mode));
    if (!file) throwFileError(errno);
    return file;
}

constexpr int kMaxIntegerBytes = 32;

} // namespace

QString fileErrorText(int errorNumber)
{
    switch (errorNumber) {
    case ENOENT:
        return u"File not found"_s;
    case ENOTDIR:  // a path component is not a directory: the path is bad
    case EINVAL:
    case ENAMETOOLONG:
    case ELOOP:
        return u"Invalid filename"_s;
    case EMFILE:
    case ENFILE:
        return u"Too many open files"_s;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY:
        return u"File access denied"_s;
    case ENOSPC:
    case EDQUOT:
        return u"Disk full"_s;
    default:
        return u"I/O error %1"_s.arg(errorNumber);
    }
}

void throwFileError(int errorNumber)
{
    throw UserError(fileErrorText(errorNumber));
}

QString fromSystemText(const QByteArray& bytes)
{
    return QString::fromLocal8Bit(bytes);
}

QByteArray toSystemText(const QString& text)
{
    return text.toLocal8Bit();
}

QByteArray readWholeFile(const QString& path)
{
    FileHandle file = openFile(path, "rb");
    QByteArray data;
    char buffer[65536];
    for (;;) {
        std::size_t n = std::fread(buffer, 1, sizeof buffer, file.get());
        data.append(buffer, static_cast<qsizetype>(n));
        if (n < sizeof buffer) break;
    }
    if (std::ferror(file.get())) throwFileError(errno != 0 ? errno : EIO);
    return data;
}

TextReader::TextReader(const QString& path)
    : data_(readWholeFile(path))
{
    if (qsizetype end = data_.indexOf('\x1a'); end >= 0) data_.truncate(end);
}

TextReader TextReader::fromBytes(QByteArray bytes)
{
    TextReader reader;
    reader.data_ = std::move(bytes);
    if (qsizetype end = reader.data_.indexOf('\x1a'); end >= 0) reader.data_.truncate(end);
    return reader;
}

int TextReader::readInteger()
{
    const auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (position_ < data_.size() && isBlank(data_[position_])) ++position_;
    const qsizetype start = position_;
    while (position_ < data_.size() && position_ - start < kMaxIntegerBytes && !isBlank(data_[position_]))
        ++position_;
    if (position_ == start) return 0;
    auto value = parseInteger(std::string_view(data_.constData() + start, static_cast<std::size_t>(position_ - start)));
    if (!value) throw UserError(u"Invalid numeric input"_s);
    return *value;
}

QString TextReader::readLine()
{
    if (atEnd()) return {};
    qsizetype end = data_.indexOf('\n', position_);
    qsizetype next = end < 0 ? data_.size() : end + 1;
    if (end < 0) end = data_.size();
    if (end > position_ && data_[end - 1] == '\r' && end < data_.size()) --end;
    QString line = fromSystemText(data_.mid(position_, end - position_));
    position_ = next;
    return line;
}

void writeTextLines(const QString& path, const QStringList& lines)
{
    FileHandle file = openFile(path, "wb");
    QByteArray data;
    for (const QString& line : lines) data += toSystemText(line) + "\r\n";
    errno = 0;
    bool ok = std::fwrite(data.constData(), 1, static_cast<std::size_t>(data.size()), file.get())
                  == static_cast<std::size_t>(data.size());
    ok = std::fflush(file.get()) == 0 && ok;
    if (!ok) throwFileError(errno != 0 ? errno : EIO);
    if (std::fclose(file.release()) != 0) throwFileError(errno != 0 ? errno : EIO);
}

} // namespace kestrune
