#pragma once
// A raw planar YUV 4:2:0 file read one frame at a time: opening costs nothing
// whatever the file's length, and each frame shown is one seek and one read.
#include <QByteArray>
#include <QFile>
#include <QString>

namespace kestrune::frameview {

struct FrameSize {
    int width = 0;
    int height = 0;
    qint64 lumaBytes() const { return qint64(width) * height; }
    qint64 chromaBytes() const { return qint64((width + 1) / 2) * ((height + 1) / 2); }
    qint64 frameBytes() const { return lumaBytes() + 2 * chromaBytes(); }
    bool valid() const { return width > 0 && height > 0; }
    bool operator==(const FrameSize&) const = default;
};

class YuvFrameFile {
public:
    // False with error() set when the file cannot be opened or holds no whole frame.
    bool open(const QString& path, FrameSize size);
    const QString& path() const { return path_; }
    FrameSize size() const { return size_; }
    qint64 frames() const { return frames_; }
    qint64 trailingBytes() const { return trailing_; }  // a partial frame at the end
    // Frame `index` (0-based) from disk; empty with error() set when it cannot be read.
    QByteArray read(qint64 index);
    qint64 reads() const { return reads_; }  // frames read from disk so far
    const QString& error() const { return error_; }

private:
    QFile file_;
    QString path_;
    QString error_;
    FrameSize size_;
    qint64 frames_ = 0;
    qint64 trailing_ = 0;
    qint64 reads_ = 0;
};

} // namespace kestrune::frameview
