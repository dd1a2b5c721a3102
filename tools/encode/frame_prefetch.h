#pragma once
// Reads the next frames on a thread of its own while the current one is
// encoded, so reading from a slow disk overlaps with encoding. Holds at most
// `depth` frames, whatever the file size.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "tools/encode/yuv_input.h"

namespace kestrune {

class FramePrefetcher {
public:
    // Reads up to `frames` frames from `reader`, which must outlive this object.
    FramePrefetcher(YuvFrameReader& reader, std::int64_t frames, int depth = 3);
    ~FramePrefetcher();
    FramePrefetcher(const FramePrefetcher&) = delete;
    FramePrefetcher& operator=(const FramePrefetcher&) = delete;

    // Swaps the next frame into `frame` (its old buffer is reused); false at
    // the end. Rethrows a read error of the reading thread.
    bool next(std::vector<std::uint8_t>& frame);

private:
    void readAll(YuvFrameReader& reader, std::int64_t frames);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<std::uint8_t>> filled_;
    std::vector<std::vector<std::uint8_t>> free_;
    bool finished_ = false;
    bool stopping_ = false;
    std::exception_ptr error_;
    std::thread thread_;
};

} // namespace kestrune
