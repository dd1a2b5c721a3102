#include "frame_view/yuv_frame_file.h"

using namespace Qt::StringLiterals;

namespace kestrune::frameview {

bool YuvFrameFile::open(const QString& path, FrameSize size)
{
    file_.close();
    path_ = path;
    size_ = size;
    frames_ = trailing_ = 0;
    error_.clear();
    if (!size.valid()) {
        error_ = u"the picture size of %1 is not known"_s.arg(path);
        return false;
    }
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadOnly)) {
        error_ = u"%1 cannot be opened: %2"_s.arg(path, file_.errorString());
        return false;
    }
    frames_ = file_.size() / size.frameBytes();
    trailing_ = file_.size() % size.frameBytes();
    if (frames_ == 0) {
        error_ = u"%1 holds no whole %2x%3 frame (%4 bytes, a frame has %5)"_s.arg(path)
                     .arg(size.width).arg(size.height).arg(file_.size()).arg(size.frameBytes());
        file_.close();
        return false;
    }
    return true;
}

QByteArray YuvFrameFile::read(qint64 index)
{
    if (index < 0 || index >= frames_ || !file_.isOpen()) {
        error_ = u"frame %1 is not in %2"_s.arg(index).arg(path_);
        return {};
    }
    ++reads_;
    QByteArray frame(size_.frameBytes(), Qt::Uninitialized);
    if (!file_.seek(index * size_.frameBytes()) || file_.read(frame.data(), frame.size()) != frame.size()) {
        error_ = u"frame %1 of %2 cannot be read: %3"_s.arg(index).arg(path_, file_.errorString());
        return {};
    }
    return frame;
}

} // namespace kestrune::frameview
