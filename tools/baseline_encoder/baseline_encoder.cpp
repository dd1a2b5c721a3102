#include "tools/baseline_encoder/baseline_encoder.h"

#include "tools/baseline_encoder/macroblock_layer_writer.h"
#include "tools/baseline_encoder/parameter_sets.h"
#include "tools/bitstream/bit_writer.h"
#include "tools/bitstream/header_writer.h"
#include "tools/codec/deblocking.h"
#include "tools/codec/neighbours.h"
#include "tools/codec/slice_group_map.h"

#include <algorithm>
#include <optional>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace kestrune::codec {

struct BaselineEncoder::Reference {
    std::shared_ptr<Picture> picture;
    SearchReference search;
    int picId;
    Reference(std::shared_ptr<Picture> p, int pad, int id) : picture(std::move(p)), search(*picture, pad), picId(id) {}
};

namespace {

void appendNal(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& nal)
{
    static constexpr std::uint8_t kStartCode[] = {0, 0, 0, 1};
    out.insert(out.end(), std::begin(kStartCode), std::end(kStartCode));
    out.insert(out.end(), nal.begin(), nal.end());
}

// The input frame on the macroblock grid, its right and bottom edges repeated.
void loadSource(Picture& picture, std::span<const std::uint8_t> frame, int width, int height)
{
    const std::uint8_t* plane = frame.data();
    for (int p = 0; p < 3; ++p) {
        const int w = p == kLuma ? width : width / 2;
        const int h = p == kLuma ? height : height / 2;
        PlaneView view = picture.plane(p);
        for (int y = 0; y < view.height; ++y) {
            const std::uint8_t* src = plane + static_cast<std::size_t>(std::min(y, h - 1)) * w;
            std::uint8_t* dst = view.row(y);
            std::memcpy(dst, src, static_cast<std::size_t>(w));
            std::memset(dst + w, src[w - 1], static_cast<std::size_t>(view.width - w));
        }
        plane += static_cast<std::size_t>(w) * h;
    }
}

} // namespace

BaselineEncoder::BaselineEncoder(const EncoderSettings& settings)
    : settings_(settings), typeDecision_(settings), rateControl_(settings, static_cast<long>(settings.width) * settings.height)
{
    if (const std::string error = sliceGroupError(settings); !error.empty()) throw std::invalid_argument(error);
    if (settings.width < 16 || settings.height < 16 || settings.width % 2 || settings.height % 2)
        throw std::invalid_argument("picture size must be even and at least 16x16");
    if (settings.sliceGroups == 1) settings_.mapType = 0;
    sps_ = sequenceParameterSet(settings_);
    pps_ = pictureParameterSet(settings_, sps_);
    source_ = Picture(sps_.widthInMbs(), sps_.heightInMapUnits());
    states_ = MacroblockStates(sps_.widthInMbs(), sps_.heightInMapUnits());
}

BaselineEncoder::~BaselineEncoder() = default;

std::vector<std::uint8_t> BaselineEncoder::encodeSlice(const SliceCodingContext& context, int firstMb, int maxMbs,
                                                       const std::vector<std::uint8_t>& map,
                                                       const h264::SliceHeader& header, int nalType, int nalRefIdc,
                                                       int* next, int* coded)
{
    h264::BitWriter w;
    h264::NalHeader nal;
    nal.nal_ref_idc = nalRefIdc;
    nal.nal_unit_type = nalType;
    h264::writeSliceHeader(nal, header, sps_, pps_, w);
    MacroblockStatistics& statistics = statistics_[context.pSlice ? 1 : 0];
    MacroblockPlace place;
    place.pSlice = context.pSlice;
    place.numRefIdxActive = static_cast<int>(context.references.size());
    int skipRun = 0;
    const int size = static_cast<int>(map.size());
    const bool limited = settings_.maxSliceBytes > 0;
    auto finished = [&](h264::BitWriter bits, int run) {
        if (run > 0) bits.ue(static_cast<std::uint64_t>(run));
        bits.trailing();
        return h264::makeNalUnit(nalRefIdc, nalType, bits.bytes());
    };
    int mb = firstMb;
    for (*coded = 0; mb < size && *coded < maxMbs; mb = nextMbAddress(map, mb), ++*coded) {
        // A macroblock that overflows the size limit is taken back and coded
        // again as the first of the next slice, with that slice's neighbours.
        std::optional<h264::BitWriter> before;
        const int runBefore = skipRun;
        const MacroblockStatistics statisticsBefore = statistics;
        if (limited && *coded > 0) before = w;
        states_[mb].sliceNum = context.sliceNum;
        const MbNeighbours n = macroblockNeighbours(states_, mb);
        const MacroblockCode code = encodeMacroblock(context, mb, n, statistics);
        if (code.type == MbType::PSkip) {
            ++skipRun;
        } else {
            if (context.pSlice) {
                w.ue(static_cast<std::uint64_t>(skipRun));
                skipRun = 0;
            }
            place.mbAddr = mb;
            place.neighbours = n;
            writeMacroblockLayer(w, code, states_, place);
        }
        if (before && finished(w, skipRun).size() > static_cast<std::size_t>(settings_.maxSliceBytes)) {
            w = std::move(*before);
            skipRun = runBefore;
            statistics = statisticsBefore;
            break;
        }
    }
    *next = mb < size ? mb : -1;
    return finished(std::move(w), skipRun);
}

EncodedPicture BaselineEncoder::encode(std::span<const std::uint8_t> frame)
{
    const int width = settings_.width, height = settings_.height;
    const std::size_t lumaSize = static_cast<std::size_t>(width) * height;
    if (frame.size() < lumaSize * 3 / 2) throw std::invalid_argument("frame too small for the picture size");
    const std::span<const std::uint8_t> luma = frame.first(lumaSize);
    const PictureCost cost = analysePicture(luma, previousLuma_, width, height);
    previousLuma_.assign(luma.begin(), luma.end());

    EncodedPicture out;
    out.type = typeDecision_.next(cost);
    const bool idr = out.type == PictureType::Idr;
    const bool intra = out.type != PictureType::Predicted;
    if (idr) {
        references_.clear();
        frameNum_ = 0;
        sinceIdr_ = 0;
        appendNal(out.bytes, h264::spsNalUnit(sps_));
        appendNal(out.bytes, h264::ppsNalUnit(pps_, &sps_));
    }
    out.qp = rateControl_.pictureQp(intra, cost);

    loadSource(source_, frame, width, height);
    reconstruction_ = std::make_shared<Picture>(sps_.widthInMbs(), sps_.heightInMapUnits());
    states_.reset();

    // Slice group map of this picture (types 3-5 evolve with the cycle).
    std::uint32_t cycle = 0;
    if (h264::hasSliceGroupChangeCycle(pps_))
        cycle = static_cast<std::uint32_t>(1 + static_cast<std::uint64_t>(sinceIdr_) % h264::maxSliceGroupChangeCycle(sps_, pps_));
    std::vector<std::uint8_t> map;
    if (pps_.num_slice_groups_minus1 > 0) {
        if (!sliceGroupMap(pps_, sps_.widthInMbs(), sps_.heightInMapUnits(), cycle, map).ok())
            throw std::logic_error("slice group map rejected its own parameters");
    } else {
        map.assign(static_cast<std::size_t>(sps_.picSizeInMapUnits()), 0);
    }

    SliceCodingContext context;
    context.settings = &settings_;
    context.source = &source_;
    context.reconstruction = reconstruction_.get();
    context.states = &states_;
    context.pSlice = !intra;
    context.qp = out.qp;
    if (!intra) {
        for (const auto& ref : references_) {
            context.references.push_back(&ref->search);
            context.refPicIds.push_back(ref->picId);
        }
    }

    h264::SliceHeader header;
    header.slice_type = intra ? 7 : 5;  // all slices of the picture share the type
    header.frame_num = static_cast<std::uint32_t>(frameNum_);
    header.idr_pic_id = static_cast<std::uint32_t>(idrCount_ % 65536);
    header.slice_qp_delta = out.qp - 26;
    header.disable_deblocking_filter_idc = settings_.deblocking ? 0 : 1;
    header.slice_group_change_cycle = cycle;
    if (!intra && context.references.size() != pps_.num_ref_idx_l0_default_active_minus1 + 1) {
        header.num_ref_idx_active_override_flag = true;
        header.num_ref_idx_l0_active_minus1 = static_cast<std::uint32_t>(context.references.size() - 1);
    }
    const int nalType = idr ? 5 : 1;
    const int nalRefIdc = intra ? 3 : 2;
    std::vector<DeblockingParams> deblocking;
    const int groups = static_cast<int>(pps_.num_slice_groups_minus1) + 1;
    for (int group = 0; group < groups; ++group) {
        const auto first = std::find(map.begin(), map.end(), static_cast<std::uint8_t>(group));
        if (first == map.end()) continue;  // an evolving map can leave a group empty
        // The group's macroblocks in equal shares, slice k from k * count / slices.
        const int count = static_cast<int>(std::count(map.begin(), map.end(), static_cast<std::uint8_t>(group)));
        int mb = static_cast<int>(first - map.begin());
        for (int k = 0, done = 0; k < settings_.slices && mb >= 0; ++k) {
            const int end = static_cast<int>(static_cast<std::int64_t>(count) * (k + 1) / settings_.slices);
            while (done < end && mb >= 0) {
                context.sliceNum = static_cast<int>(deblocking.size());
                deblocking.push_back({settings_.deblocking ? 0 : 1, 0, 0, 0});
                header.first_mb_in_slice = static_cast<std::uint32_t>(mb);
                int next = -1, coded = 0;
                const std::vector<std::uint8_t> nal =
                    encodeSlice(context, mb, end - done, map, header, nalType, nalRefIdc, &next, &coded);
                appendNal(out.bytes, nal);
                out.sliceBytes += static_cast<std::int64_t>(nal.size());
                ++out.slices;
                done += coded;
                mb = next;
            }
        }
    }
    if (settings_.deblocking) deblockPicture(*reconstruction_, states_, deblocking);

    rateControl_.pictureDone(intra, out.qp, cost, static_cast<std::int64_t>(out.bytes.size()) * 8);
    // Sliding window marking (clause 8.2.5.3): the oldest reference leaves.
    references_.push_front(std::make_shared<Reference>(reconstruction_, std::min(settings_.meRange, 256) + 24, nextPicId_++));
    while (static_cast<int>(references_.size()) > settings_.references) references_.pop_back();
    frameNum_ = (frameNum_ + 1) % (1 << sps_.maxFrameNumBits());
    ++sinceIdr_;
    if (idr) ++idrCount_;
    return out;
}

std::vector<std::uint8_t> BaselineEncoder::reconstructedFrame() const
{
    std::vector<std::uint8_t> out;
    if (!reconstruction_) return out;
    out.reserve(static_cast<std::size_t>(settings_.width) * settings_.height * 3 / 2);
    for (int p = 0; p < 3; ++p) {
        const int w = p == kLuma ? settings_.width : settings_.width / 2;
        const int h = p == kLuma ? settings_.height : settings_.height / 2;
        const ConstPlaneView view = std::as_const(*reconstruction_).plane(p);
        for (int y = 0; y < h; ++y) out.insert(out.end(), view.row(y), view.row(y) + w);
    }
    return out;
}

} // namespace kestrune::codec
