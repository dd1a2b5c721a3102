#include "tools/baseline_decoder/baseline_decoder.h"

#include "tools/baseline_decoder/picture_order_count.h"
#include "tools/baseline_decoder/slice_data.h"
#include "tools/bitstream/access_unit.h"
#include "tools/bitstream/annexb_reader.h"
#include "tools/bitstream/nal_unit.h"
#include "tools/codec/deblocking.h"
#include "tools/codec/decoded_picture_buffer.h"
#include "tools/codec/slice_group_map.h"

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

namespace kestrune::codec {

namespace {

// A decoded picture with the motion field later pictures and the
// deblocking filter need.
struct StoredPicture {
    Picture picture;
    MacroblockStates states;
};

// Largest picture accepted (level 6.2: 139,264 macroblocks).
constexpr int kMaxMacroblocks = 139264;

// What lies outside Baseline in the parameter sets a slice uses, or "".
std::string outsideBaseline(const h264::Sps& sps, const h264::Pps& pps)
{
    if (!sps.frame_mbs_only_flag) return "field pictures (frame_mbs_only_flag 0)";
    if (sps.chroma_format_idc != 1) return "chroma_format_idc " + std::to_string(sps.chroma_format_idc) + " (only 4:2:0)";
    if (sps.bit_depth_luma_minus8 || sps.bit_depth_chroma_minus8) return "bit depths above 8";
    if (sps.qpprime_y_zero_transform_bypass_flag) return "lossless transform bypass";
    if (sps.seq_scaling_matrix_present_flag || pps.pic_scaling_matrix_present_flag) return "scaling matrices";
    if (pps.entropy_coding_mode_flag) return "CABAC entropy coding";
    if (pps.transform_8x8_mode_flag) return "the 8x8 transform";
    if (pps.weighted_pred_flag) return "weighted prediction";
    if (pps.second_chroma_qp_index_offset != pps.chroma_qp_index_offset)
        return "a second_chroma_qp_index_offset (" + std::to_string(pps.second_chroma_qp_index_offset)
               + ") other than chroma_qp_index_offset (" + std::to_string(pps.chroma_qp_index_offset) + ")";
    return "";
}

} // namespace

struct BaselineDecoder::State {
    PictureCallback onPicture;
    h264::ParameterSets sets;
    std::string unsupported;
    std::string lastError;
    BaselineDecoderCounts counts;

    // The active sequence.
    std::shared_ptr<const h264::Sps> sps;
    DecodedPictureBuffer dpb;
    std::map<int, std::shared_ptr<StoredPicture>> stored;  // by DPB id
    int nextId = 0;
    int lastReferenceId = -1;
    PictureOrderCount poc;
    bool havePrevRef = false;
    int prevRefFrameNum = 0;

    // The picture in progress.
    bool inPicture = false;
    std::shared_ptr<StoredPicture> current;
    std::vector<std::shared_ptr<StoredPicture>> pool;
    h264::AccessUnitDetector::PictureId currentId;
    h264::SliceHeader firstHeader;
    h264::NalHeader firstNal;
    std::shared_ptr<const h264::Pps> firstPps;
    std::vector<DeblockingParams> sliceParams;
    std::vector<std::vector<std::uint8_t>> redundant;  // redundant slices of this picture, as NAL units
    bool intraOnly = true;
    int picOrderCnt = 0;

    // Slice group maps by PPS and change cycle: nextMbAddress per macroblock.
    const h264::Pps* mapPps = nullptr;
    std::uint32_t mapCycle = 0;
    std::vector<int> nextMb;
    std::vector<std::uint8_t> sliceGroupOfMb;  // the map nextMb was built from

    std::vector<std::uint8_t> rbsp;
    // Redundant slices are decoded while a primary slice waits in rbsp.
    std::vector<std::uint8_t> redundantRbsp;

    void decodeNal(std::span<const std::uint8_t> nal);
    void decodeSlice(const h264::NalHeader& nal, std::span<const std::uint8_t> bytes, bool redundantPass);
    bool startPicture(const h264::NalHeader& nal, const h264::SliceHeader& h, std::shared_ptr<const h264::Sps> sps,
                      std::shared_ptr<const h264::Pps> pps);
    void finishPicture();
    void useRedundantSlices();
    bool buildNextMb(const h264::Pps& pps, std::uint32_t cycle, std::string& error);
    std::shared_ptr<StoredPicture> newPicture();
    void fail(std::string message)
    {
        ++counts.slicesBroken;
        lastError = std::move(message);
    }
};

std::shared_ptr<StoredPicture> BaselineDecoder::State::newPicture()
{
    const int w = sps->widthInMbs();
    const int h = sps->frameHeightInMbs();
    for (auto it = pool.begin(); it != pool.end(); ++it) {
        if (it->use_count() == 1 && (*it)->picture.widthInMbs() == w && (*it)->picture.heightInMbs() == h) {
            auto p = *it;
            pool.erase(it);
            p->states.reset();
            return p;
        }
    }
    auto p = std::make_shared<StoredPicture>();
    p->picture = Picture(w, h);
    p->states = MacroblockStates(w, h);
    return p;
}

bool BaselineDecoder::State::buildNextMb(const h264::Pps& pps, std::uint32_t cycle, std::string& error)
{
    if (mapPps == &pps && mapCycle == cycle && !nextMb.empty()) return true;
    std::vector<std::uint8_t> map;
    const h264::Status status = sliceGroupMap(pps, sps->widthInMbs(), sps->frameHeightInMbs(), cycle, map);
    if (!status.ok()) {
        error = status.message;
        mapPps = nullptr;
        return false;
    }
    // nextMbAddress for every macroblock in one backward pass.
    const int size = static_cast<int>(map.size());
    nextMb.assign(static_cast<std::size_t>(size), size);
    std::vector<int> following(256, size);
    for (int i = size - 1; i >= 0; --i) {
        nextMb[i] = following[map[i]];
        following[map[i]] = i;
    }
    mapPps = &pps;
    mapCycle = cycle;
    sliceGroupOfMb = std::move(map);
    return true;
}

void BaselineDecoder::State::decodeNal(std::span<const std::uint8_t> nal)
{
    h264::NalHeader header;
    if (!h264::parseNalHeader(nal, header).ok()) return;
    const auto payload = nal.subspan(static_cast<std::size_t>(header.headerBytes));
    switch (header.nal_unit_type) {
        case h264::NalSps: {
            h264::removeEmulationPrevention(payload, rbsp);
            auto sps = std::make_shared<h264::Sps>();
            if (h264::parseSps(rbsp, *sps).ok()) sets.sps[sps->seq_parameter_set_id] = std::move(sps);
            return;
        }
        case h264::NalPps: {
            h264::removeEmulationPrevention(payload, rbsp);
            auto pps = std::make_shared<h264::Pps>();
            if (h264::parsePps(rbsp, sets, *pps).ok()) {
                // A PPS the current picture uses stays alive through firstPps.
                if (mapPps == sets.pps[pps->pic_parameter_set_id].get()) mapPps = nullptr;
                sets.pps[pps->pic_parameter_set_id] = std::move(pps);
            }
            return;
        }
        case h264::NalSlice:
        case h264::NalIdrSlice:
            decodeSlice(header, nal, false);
            return;
        case h264::NalPartitionA:
        case h264::NalPartitionB:
        case h264::NalPartitionC:
            if (unsupported.empty()) unsupported = "data partitioning (NAL unit type " + std::to_string(header.nal_unit_type) + ")";
            return;
        case h264::NalEndOfSequence:
        case h264::NalEndOfStream:
            finishPicture();
            return;
        default:
            return;
    }
}

void BaselineDecoder::State::decodeSlice(const h264::NalHeader& nal, std::span<const std::uint8_t> bytes,
                                         bool redundantPass)
{
    std::vector<std::uint8_t>& rbsp = redundantPass ? redundantRbsp : this->rbsp;
    h264::removeEmulationPrevention(bytes.subspan(static_cast<std::size_t>(nal.headerBytes)), rbsp);
    h264::SliceHeader h;
    const h264::Status status = h264::parseSliceHeader(nal, rbsp, sets, h);
    if (!status.ok() || !h.complete) {
        fail("slice header: " + status.message);
        return;
    }
    const h264::SliceKind kind = h.kind();
    if (kind != h264::SliceKind::I && kind != h264::SliceKind::P) {
        if (unsupported.empty()) unsupported = std::string(h264::sliceKindName(kind)) + " slices";
        return;
    }
    std::shared_ptr<const h264::Pps> pps = sets.pps[h.pic_parameter_set_id];
    std::shared_ptr<const h264::Sps> spsOfSlice = sets.sps[pps->seq_parameter_set_id];
    if (const std::string outside = outsideBaseline(*spsOfSlice, *pps); !outside.empty()) {
        if (unsupported.empty()) unsupported = outside;
        return;
    }
    if (spsOfSlice->widthInMbs() * spsOfSlice->frameHeightInMbs() > kMaxMacroblocks) {
        if (unsupported.empty()) unsupported = "pictures larger than 139,264 macroblocks";
        return;
    }

    if (!redundantPass) {
        const auto id = h264::AccessUnitDetector::pictureIdOf(nal, h, spsOfSlice.get());
        if (!inPicture || (h.redundant_pic_cnt == 0 && h264::AccessUnitDetector::isNewPicture(currentId, id)) ||
            (h.redundant_pic_cnt > 0 && (id.frame_num != currentId.frame_num || id.idr != currentId.idr))) {
            finishPicture();
            if (!startPicture(nal, h, spsOfSlice, pps)) return;
        }
        if (h.redundant_pic_cnt > 0) {
            redundant.emplace_back(bytes.begin(), bytes.end());
            return;
        }
    }
    if (spsOfSlice != sps) {
        fail("slice refers to another sequence parameter set within a picture");
        return;
    }

    StoredPicture& cur = *current;
    const int mbCount = cur.states.size();
    if (h.first_mb_in_slice >= static_cast<std::uint32_t>(mbCount)) {
        fail("first_mb_in_slice beyond the picture");
        return;
    }
    if (cur.states[static_cast<int>(h.first_mb_in_slice)].available()) {
        ++counts.slicesDuplicate;
        return;
    }
    std::string error;
    // One value per picture (clause 7.4.3): the first slice's, whatever a
    // damaged later slice says.
    const std::uint32_t changeCycle = firstHeader.slice_group_change_cycle;
    if (h264::hasSliceGroupChangeCycle(*pps)) {
        const std::uint64_t maxCycle = h264::maxSliceGroupChangeCycle(*sps, *pps);
        if (changeCycle > maxCycle) {
            fail("slice_group_change_cycle " + std::to_string(changeCycle) + " exceeds " + std::to_string(maxCycle));
            return;
        }
    }
    if (!buildNextMb(*pps, changeCycle, error)) {
        fail("slice group map: " + error);
        return;
    }

    SliceContext ctx;
    ctx.header = &h;
    ctx.sps = sps.get();
    ctx.pps = pps.get();
    ctx.rbsp = rbsp;
    ctx.sliceNum = static_cast<int>(sliceParams.size());
    ctx.nextMb = &nextMb;
    if (kind == h264::SliceKind::P) {
        const int frameNum = static_cast<int>(h.frame_num);
        std::vector<int> list = dpb.initialList(frameNum, static_cast<int>(h.num_ref_idx_l0_active_minus1) + 1);
        if (h.ref_pic_list_modification_flag_l0 && !dpb.modifyList(list, frameNum, h.modifications_l0)) {
            fail("ref_pic_list_modification names a picture that is not a reference");
            return;
        }
        for (int id : list) {
            auto it = stored.find(id);
            ctx.refPictures.push_back(it == stored.end() ? nullptr : &it->second->picture);
            ctx.refIds.push_back(id);
        }
        intraOnly = false;
    }
    sliceParams.push_back({static_cast<int>(h.disable_deblocking_filter_idc), h.slice_alpha_c0_offset_div2 * 2,
                           h.slice_beta_offset_div2 * 2, pps->chroma_qp_index_offset});
    const SliceResult result = decodeSliceData(ctx, cur.picture, cur.states);
    if (!result.ok) {
        for (int mb : result.macroblocks)
            if (cur.states[mb].sliceNum == ctx.sliceNum) cur.states[mb] = MacroblockState{};
        fail(result.error);
        return;
    }
    ++counts.slicesDecoded;
}

bool BaselineDecoder::State::startPicture(const h264::NalHeader& nal, const h264::SliceHeader& h,
                                          std::shared_ptr<const h264::Sps> spsOfSlice,
                                          std::shared_ptr<const h264::Pps> pps)
{
    const bool idr = nal.nal_unit_type == h264::NalIdrSlice;
    const int maxFrameNum = 1 << spsOfSlice->maxFrameNumBits();
    if (!sps || spsOfSlice->widthInMbs() != sps->widthInMbs() ||
        spsOfSlice->frameHeightInMbs() != sps->frameHeightInMbs()) {
        // A new picture size starts over.
        dpb.clear();
        stored.clear();
        pool.clear();
        havePrevRef = false;
        lastReferenceId = -1;
    }
    sps = spsOfSlice;
    dpb.configure(static_cast<int>(sps->max_num_ref_frames), maxFrameNum);
    mapPps = nullptr;

    const int frameNum = static_cast<int>(h.frame_num);
    if (!idr && havePrevRef && frameNum != prevRefFrameNum && frameNum != (prevRefFrameNum + 1) % maxFrameNum) {
        // Clause 8.2.5.2: frames inferred for the gap take the samples of the
        // last reference picture, so references to them predict something sane.
        const auto ids = dpb.fillFrameNumGap(prevRefFrameNum, frameNum, [this] { return nextId++; });
        auto source = stored.find(lastReferenceId);
        for (int id : ids) {
            if (!dpb.contains(id)) continue;
            auto copy = std::make_shared<StoredPicture>();
            if (source != stored.end()) {
                *copy = *source->second;
            } else {
                copy->picture = Picture(sps->widthInMbs(), sps->frameHeightInMbs());
                copy->picture.fill(128);
                copy->states = MacroblockStates(sps->widthInMbs(), sps->frameHeightInMbs());
            }
            stored[id] = copy;
            ++counts.gapFrames;
        }
        prevRefFrameNum = (frameNum + maxFrameNum - 1) % maxFrameNum;
    }

    const std::optional<int> count = poc.next(*sps, h, nal.nal_ref_idc, idr);
    if (!count) {
        fail("picture order count outside 32 bits");
        return false;
    }
    picOrderCnt = *count;
    current = newPicture();
    currentId = h264::AccessUnitDetector::pictureIdOf(nal, h, sps.get());
    firstHeader = h;
    firstNal = nal;
    firstPps = std::move(pps);
    sliceParams.clear();
    redundant.clear();
    intraOnly = true;
    inPicture = true;
    return true;
}

void BaselineDecoder::State::useRedundantSlices()
{
    if (redundant.empty()) return;
    StoredPicture& cur = *current;
    int missing = 0;
    for (int i = 0; i < cur.states.size(); ++i) missing += !cur.states[i].available();
    if (missing == 0) {
        counts.redundantSlicesSkipped += static_cast<int>(redundant.size());
        return;
    }
    // Each redundant slice is decoded into a copy of the picture; only the
    // macroblocks the primary slices left unwritten are taken from it.
    for (const auto& nal : redundant) {
        h264::NalHeader header;
        if (!h264::parseNalHeader(nal, header).ok()) continue;
        StoredPicture scratch = cur;
        for (int i = 0; i < scratch.states.size(); ++i) scratch.states[i] = MacroblockState{};
        std::swap(scratch, *current);
        const int brokenBefore = counts.slicesBroken;
        const int decodedBefore = counts.slicesDecoded;
        decodeSlice(header, nal, true);
        std::swap(scratch, *current);
        // scratch now holds what the redundant slice wrote.
        const bool decoded = counts.slicesDecoded > decodedBefore;
        counts.slicesDecoded = decodedBefore;
        if (!decoded) {
            counts.slicesBroken = brokenBefore;
            continue;
        }
        int used = 0;
        for (int mb = 0; mb < cur.states.size(); ++mb) {
            if (cur.states[mb].available() || !scratch.states[mb].available()) continue;
            cur.states[mb] = scratch.states[mb];
            for (int p = 0; p < 3; ++p) {
                const int size = p == kLuma ? 16 : 8;
                const std::uint8_t* src = scratch.picture.mbOrigin(p, mb);
                std::uint8_t* dst = cur.picture.mbOrigin(p, mb);
                for (int y = 0; y < size; ++y)
                    std::copy(src + y * cur.picture.stride(p), src + y * cur.picture.stride(p) + size,
                              dst + y * cur.picture.stride(p));
            }
            ++used;
        }
        if (used > 0) ++counts.redundantSlicesUsed;
        else ++counts.redundantSlicesSkipped;
    }
}

void BaselineDecoder::State::finishPicture()
{
    if (!inPicture) return;
    inPicture = false;
    useRedundantSlices();
    StoredPicture& cur = *current;
    deblockPicture(cur.picture, cur.states, sliceParams);

    DecodedPicture out;
    out.picture = &cur.picture;
    out.states = &cur.states;
    const int cropX = sps->cropUnitX();
    const int cropY = sps->cropUnitY();
    out.cropLeft = sps->frame_cropping_flag ? static_cast<int>(sps->frame_crop_left_offset) * cropX : 0;
    out.cropTop = sps->frame_cropping_flag ? static_cast<int>(sps->frame_crop_top_offset) * cropY : 0;
    out.width = sps->width();
    out.height = sps->height();
    out.idr = currentId.idr;
    out.reference = firstNal.nal_ref_idc != 0;
    out.intraOnly = intraOnly;
    out.frameNum = static_cast<int>(firstHeader.frame_num);
    out.picOrderCnt = picOrderCnt;
    for (int i = 0; i < cur.states.size(); ++i) out.macroblocksWritten += cur.states[i].available();
    if (!sliceGroupOfMb.empty()) out.sliceGroupMap = &sliceGroupOfMb;
    ++counts.pictures;
    if (onPicture) onPicture(out);

    bool mmco5 = false;
    if (out.reference) {
        const int id = nextId++;
        if (!dpb.markCurrent(id, out.frameNum, out.idr, firstHeader, mmco5))
            lastError = "memory_management_control_operation names a picture that is not a reference";
        stored[id] = current;
        lastReferenceId = id;
        havePrevRef = true;
        prevRefFrameNum = mmco5 ? 0 : out.frameNum;
    }
    poc.pictureDone(out.reference, mmco5);
    // Pictures no longer marked go back to the pool.
    for (auto it = stored.begin(); it != stored.end();) {
        if (!dpb.contains(it->first)) {
            pool.push_back(it->second);
            it = stored.erase(it);
        } else {
            ++it;
        }
    }
    if (!out.reference) pool.push_back(current);
    current.reset();
    if (pool.size() > 4) pool.erase(pool.begin(), pool.begin() + static_cast<std::ptrdiff_t>(pool.size() - 4));
}

BaselineDecoder::BaselineDecoder(PictureCallback onPicture) : state_(std::make_unique<State>())
{
    state_->onPicture = std::move(onPicture);
}

BaselineDecoder::~BaselineDecoder() = default;

void BaselineDecoder::decodeNalUnit(std::span<const std::uint8_t> nal)
{
    state_->decodeNal(nal);
}

void BaselineDecoder::finishPicture()
{
    state_->finishPicture();
}

const std::string& BaselineDecoder::unsupported() const
{
    return state_->unsupported;
}

const BaselineDecoderCounts& BaselineDecoder::counts() const
{
    return state_->counts;
}

const std::string& BaselineDecoder::lastError() const
{
    return state_->lastError;
}

void decodeAnnexB(std::span<const std::uint8_t> stream, BaselineDecoder& decoder)
{
    h264::AnnexBReader reader(stream);
    h264::NalUnit unit;
    while (reader.next(unit)) decoder.decodeNalUnit(unit.bytes);
    decoder.finishPicture();
}

} // namespace kestrune::codec
