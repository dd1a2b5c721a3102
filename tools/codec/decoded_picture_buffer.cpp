#include "tools/codec/decoded_picture_buffer.h"

#include <algorithm>

namespace kestrune::codec {

void DecodedPictureBuffer::configure(int maxNumRefFrames, int maxFrameNum)
{
    maxNumRefFrames_ = std::max(maxNumRefFrames, 1);
    maxFrameNum_ = std::max(maxFrameNum, 1);
    // A smaller buffer keeps its most recent frames only.
    while (static_cast<int>(frames_.size()) > maxNumRefFrames_) frames_.erase(frames_.begin());
}

void DecodedPictureBuffer::clear()
{
    frames_.clear();
    maxLongTermFrameIdx_ = -1;
}

bool DecodedPictureBuffer::contains(int id) const
{
    return std::any_of(frames_.begin(), frames_.end(), [id](const ReferenceFrame& f) { return f.id == id; });
}

std::vector<int> DecodedPictureBuffer::initialList(int currFrameNum, int numActive) const
{
    std::vector<const ReferenceFrame*> shortTerm, longTerm;
    for (const ReferenceFrame& f : frames_) (f.longTerm ? longTerm : shortTerm).push_back(&f);
    // Short-term by descending PicNum, then long-term by ascending LongTermPicNum.
    std::stable_sort(shortTerm.begin(), shortTerm.end(), [&](const ReferenceFrame* a, const ReferenceFrame* b) {
        return picNum(*a, currFrameNum) > picNum(*b, currFrameNum);
    });
    std::stable_sort(longTerm.begin(), longTerm.end(),
                     [](const ReferenceFrame* a, const ReferenceFrame* b) { return a->longTermFrameIdx < b->longTermFrameIdx; });
    std::vector<int> list;
    for (const ReferenceFrame* f : shortTerm) list.push_back(f->id);
    for (const ReferenceFrame* f : longTerm) list.push_back(f->id);
    list.resize(static_cast<std::size_t>(std::max(numActive, 0)), -1);
    return list;
}

bool DecodedPictureBuffer::modifyList(std::vector<int>& list, int currFrameNum,
                                      const std::vector<h264::RefPicListModification>& modifications) const
{
    const int numActive = static_cast<int>(list.size());
    const int maxPicNum = maxFrameNum_;
    int picNumPred = currFrameNum;
    int refIdx = 0;
    for (const h264::RefPicListModification& m : modifications) {
        if (m.modification_of_pic_nums_idc == 3) break;
        if (refIdx >= numActive) return false;
        const ReferenceFrame* target = nullptr;
        if (m.modification_of_pic_nums_idc <= 1) {
            const long long diff = static_cast<long long>(m.value) + 1;
            if (diff > maxPicNum) return false;
            long long noWrap = picNumPred + (m.modification_of_pic_nums_idc == 0 ? -diff : diff);
            if (noWrap < 0) noWrap += maxPicNum;
            if (noWrap >= maxPicNum) noWrap -= maxPicNum;
            picNumPred = static_cast<int>(noWrap);
            const int wanted = noWrap > currFrameNum ? static_cast<int>(noWrap) - maxPicNum : static_cast<int>(noWrap);
            for (const ReferenceFrame& f : frames_)
                if (!f.longTerm && picNum(f, currFrameNum) == wanted) target = &f;
        } else if (m.modification_of_pic_nums_idc == 2) {
            for (const ReferenceFrame& f : frames_)
                if (f.longTerm && f.longTermFrameIdx == static_cast<int>(m.value)) target = &f;
        } else {
            return false;
        }
        if (!target) return false;
        // Insert at refIdx, then drop the later duplicate (equations 8-37, 8-38).
        list.insert(list.begin() + refIdx, target->id);
        ++refIdx;
        int n = refIdx;
        for (int c = refIdx; c < static_cast<int>(list.size()); ++c)
            if (list[c] != target->id) list[n++] = list[c];
        list.resize(static_cast<std::size_t>(numActive));
    }
    return true;
}

void DecodedPictureBuffer::slidingWindow(int currFrameNum)
{
    while (static_cast<int>(frames_.size()) >= maxNumRefFrames_) {
        auto oldest = frames_.end();
        for (auto it = frames_.begin(); it != frames_.end(); ++it)
            if (!it->longTerm && (oldest == frames_.end() || picNum(*it, currFrameNum) < picNum(*oldest, currFrameNum)))
                oldest = it;
        // Only long-term frames left: a broken stream; drop the lowest index.
        if (oldest == frames_.end()) oldest = frames_.begin();
        frames_.erase(oldest);
    }
}

bool DecodedPictureBuffer::markCurrent(int id, int currFrameNum, bool idr, const h264::SliceHeader& header,
                                       bool& memoryManagement5)
{
    memoryManagement5 = false;
    if (idr) {
        frames_.clear();
        if (header.long_term_reference_flag) {
            maxLongTermFrameIdx_ = 0;
            frames_.push_back({id, currFrameNum, true, 0, false});
        } else {
            maxLongTermFrameIdx_ = -1;
            frames_.push_back({id, currFrameNum, false, 0, false});
        }
        return true;
    }
    bool ok = true;
    bool currentLongTerm = false;
    int currentLongTermIdx = 0;
    if (!header.adaptive_ref_pic_marking_mode_flag) {
        slidingWindow(currFrameNum);
    } else {
        auto erase = [&](auto predicate) {
            const auto before = frames_.size();
            frames_.erase(std::remove_if(frames_.begin(), frames_.end(), predicate), frames_.end());
            return frames_.size() != before;
        };
        for (const h264::MemoryManagementOperation& op : header.mmcos) {
            // Wide: a header from elsewhere may carry any 32-bit difference.
            const long long picNumX = currFrameNum - static_cast<long long>(op.difference_of_pic_nums_minus1) - 1;
            switch (op.memory_management_control_operation) {
                case 1:
                    ok &= erase([&](const ReferenceFrame& f) { return !f.longTerm && picNum(f, currFrameNum) == picNumX; });
                    break;
                case 2:
                    ok &= erase([&](const ReferenceFrame& f) {
                        return f.longTerm && f.longTermFrameIdx == static_cast<int>(op.long_term_pic_num);
                    });
                    break;
                case 3: {
                    const int idx = static_cast<int>(op.long_term_frame_idx);
                    auto it = std::find_if(frames_.begin(), frames_.end(), [&](const ReferenceFrame& f) {
                        return !f.longTerm && picNum(f, currFrameNum) == picNumX;
                    });
                    if (it == frames_.end() || idx > maxLongTermFrameIdx_) {
                        ok = false;
                        break;
                    }
                    const int target = it->id;
                    erase([&](const ReferenceFrame& f) { return f.longTerm && f.longTermFrameIdx == idx; });
                    for (ReferenceFrame& f : frames_) {
                        if (f.id == target) {
                            f.longTerm = true;
                            f.longTermFrameIdx = idx;
                        }
                    }
                    break;
                }
                case 4:
                    maxLongTermFrameIdx_ = static_cast<int>(op.max_long_term_frame_idx_plus1) - 1;
                    erase([&](const ReferenceFrame& f) { return f.longTerm && f.longTermFrameIdx > maxLongTermFrameIdx_; });
                    break;
                case 5:
                    frames_.clear();
                    maxLongTermFrameIdx_ = -1;
                    memoryManagement5 = true;
                    break;
                case 6:
                    currentLongTerm = true;
                    currentLongTermIdx = static_cast<int>(op.long_term_frame_idx);
                    if (currentLongTermIdx > maxLongTermFrameIdx_) ok = false;
                    erase([&](const ReferenceFrame& f) { return f.longTerm && f.longTermFrameIdx == currentLongTermIdx; });
                    break;
                default:
                    break;
            }
        }
    }
    // The current picture takes frame_num 0 after an MMCO 5 (clause 8.2.1).
    const int frameNum = memoryManagement5 ? 0 : currFrameNum;
    // A conforming stream never overfills the buffer here; a damaged one may.
    if (static_cast<int>(frames_.size()) >= maxNumRefFrames_) {
        ok = ok && !header.adaptive_ref_pic_marking_mode_flag;
        slidingWindow(frameNum);
    }
    frames_.push_back({id, frameNum, currentLongTerm, currentLongTermIdx, false});
    return ok;
}

} // namespace kestrune::codec
