#pragma once
// Reference picture management of the decoded picture buffer for frames
// (ITU-T H.264 clauses 8.2.4 and 8.2.5): reference list initialisation for
// P slices and its modification, marking after each reference picture
// (sliding window or memory management control operations, IDR), and the
// "non-existing" frames of a frame_num gap. The buffer keeps identities only;
// the decoder or encoder owns the samples and looks them up by id.
#include "tools/bitstream/slice_header.h"

#include <cstdint>
#include <vector>

namespace kestrune::codec {

struct ReferenceFrame {
    int id = -1;          // the owner's identity of the picture
    int frameNum = 0;     // FrameNum
    bool longTerm = false;
    int longTermFrameIdx = 0;
    bool nonExisting = false;  // inferred for a frame_num gap (clause 8.2.5.2)
};

class DecodedPictureBuffer {
public:
    // maxNumRefFrames: max_num_ref_frames (treated as at least 1);
    // maxFrameNum: MaxFrameNum = 2^(log2_max_frame_num_minus4 + 4).
    void configure(int maxNumRefFrames, int maxFrameNum);
    // Unmarks everything (an IDR picture, or a new sequence).
    void clear();

    // Frames marked "used for reference", in no particular order.
    const std::vector<ReferenceFrame>& frames() const { return frames_; }
    bool contains(int id) const;

    // Clause 8.2.4.2.1: RefPicList0 of a P slice of the picture with
    // frame_num currFrameNum, cut or padded (-1 = "no reference picture") to
    // numActive entries. Returns ids.
    std::vector<int> initialList(int currFrameNum, int numActive) const;
    // Clause 8.2.4.3: applies ref_pic_list_modification to the list. False
    // (broken data) when a command names a picture that is not a reference.
    bool modifyList(std::vector<int>& list, int currFrameNum,
                    const std::vector<h264::RefPicListModification>& modifications) const;

    // Clause 8.2.5.2: frames with every frame_num strictly between
    // prevRefFrameNum and currFrameNum are inferred, each marked short-term
    // by the sliding window. newId() gives each its identity. Returns the
    // ids, oldest first (empty when there is no gap).
    template <typename NewId>
    std::vector<int> fillFrameNumGap(int prevRefFrameNum, int currFrameNum, NewId newId)
    {
        std::vector<int> ids;
        if (maxFrameNum_ <= 0) return ids;
        for (int n = (prevRefFrameNum + 1) % maxFrameNum_; n != currFrameNum && n != prevRefFrameNum;
             n = (n + 1) % maxFrameNum_) {
            const int id = newId();
            slidingWindow(n);
            frames_.push_back({id, n, false, 0, true});
            ids.push_back(id);
            // Only the last max_num_ref_frames of a long gap can stay marked.
            if (static_cast<int>(ids.size()) > maxNumRefFrames_) ids.erase(ids.begin());
        }
        return ids;
    }

    // Clause 8.2.5.1: marks the decoded reference picture id (frame_num
    // currFrameNum) after its decoding. For an IDR picture every other frame
    // is unmarked first. False when a memory management command names a
    // picture that does not exist (the marking is still completed as far as
    // it can be). memoryManagement5 reports an MMCO 5 (the caller then
    // treats the picture's frame_num as 0 and resets its picture order count).
    bool markCurrent(int id, int currFrameNum, bool idr, const h264::SliceHeader& header, bool& memoryManagement5);

private:
    // Clause 8.2.5.3, making room for one frame with frame_num currFrameNum.
    void slidingWindow(int currFrameNum);
    int picNum(const ReferenceFrame& f, int currFrameNum) const
    {
        return f.frameNum > currFrameNum ? f.frameNum - maxFrameNum_ : f.frameNum;
    }

    std::vector<ReferenceFrame> frames_;
    int maxNumRefFrames_ = 1;
    int maxFrameNum_ = 16;
    int maxLongTermFrameIdx_ = -1;  // -1: "no long-term frame indices"
};

} // namespace kestrune::codec
