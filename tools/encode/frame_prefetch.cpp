#include "tools/encode/frame_prefetch.h"

namespace kestrune {

FramePrefetcher::FramePrefetcher(YuvFrameReader& reader, std::int64_t frames, int depth)
{
    for (int i = 0; i < depth; ++i) free_.emplace_back(reader.frameBytes());
    thread_ = std::thread([this, &reader, frames] { readAll(reader, frames); });
}

FramePrefetcher::~FramePrefetcher()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void FramePrefetcher::readAll(YuvFrameReader& reader, std::int64_t frames)
{
    try {
        for (std::int64_t n = 0; n < frames; ++n) {
            std::vector<std::uint8_t> buffer;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return stopping_ || !free_.empty(); });
                if (stopping_) break;
                buffer = std::move(free_.back());
                free_.pop_back();
            }
            buffer.resize(reader.frameBytes());
            if (!reader.readFrame(buffer)) break;
            std::lock_guard lock(mutex_);
            filled_.push_back(std::move(buffer));
            changed_.notify_all();
        }
    } catch (...) {
        std::lock_guard lock(mutex_);
        error_ = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    finished_ = true;
    changed_.notify_all();
}

bool FramePrefetcher::next(std::vector<std::uint8_t>& frame)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !filled_.empty() || finished_; });
    if (filled_.empty()) {
        if (error_) std::rethrow_exception(error_);
        return false;
    }
    frame.swap(filled_.front());
    free_.push_back(std::move(filled_.front()));  // the caller's previous buffer
    filled_.pop_front();
    changed_.notify_all();
    return true;
}

} // namespace kestrune
