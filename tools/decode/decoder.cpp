#include "tools/decode/decoder.h"

#include "tools/bitstream/annexb_reader.h"
#include "tools/decode/baseline_path.h"
#include "tools/decode/damage_map.h"
#include "tools/decode/frame_sequencer.h"
#include "tools/decode/loss_map.h"
#include "tools/decode/slice_order.h"
#include "tools/quality/frame_loss_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/motion_vector.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <vector>

namespace kestrune::decode {

namespace {

struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

struct CodecDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;

FramePtr newFrame()
{
    FramePtr frame(av_frame_alloc());
    if (!frame) throw std::runtime_error("out of memory");
    return frame;
}

CodecPtr openH264(int errorConcealment)
{
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (!codec) throw std::runtime_error("libavcodec has no H.264 decoder");
    CodecPtr context(avcodec_alloc_context3(codec));
    if (!context) throw std::runtime_error("out of memory");
    context->thread_count = 1;
    context->thread_type = FF_THREAD_SLICE;
    context->error_concealment = errorConcealment;
    // Keep pictures that follow a lost IDR instead of waiting for the next one.
    context->flags |= AV_CODEC_FLAG_OUTPUT_CORRUPT;
    context->flags2 |= AV_CODEC_FLAG2_SHOW_ALL;
    return context;
}

void openCodec(AVCodecContext* context)
{
    if (avcodec_open2(context, context->codec, nullptr) < 0) throw std::runtime_error("cannot open the H.264 decoder");
}

// The access unit as one packet, numbered so its frame can be recognised on
// output; its slices in macroblock order, the only order libavcodec reads.
int sendUnit(AVCodecContext* context, const ReceivedPicture& unit, std::int64_t number, h264::NalParser& parser)
{
    std::vector<std::uint8_t> reordered;
    const std::vector<std::uint8_t>& bytes = primarySlicesInMacroblockOrder(unit.bytes, parser, reordered) ? reordered : unit.bytes;
    AVPacket* packet = av_packet_alloc();
    if (!packet || av_new_packet(packet, int(bytes.size())) < 0) {
        av_packet_free(&packet);
        throw std::runtime_error("out of memory");
    }
    std::memcpy(packet->data, bytes.data(), bytes.size());
    packet->pts = packet->dts = number;
    const int result = avcodec_send_packet(context, packet);
    av_packet_free(&packet);
    return result;
}

std::vector<FramePtr> receiveAll(AVCodecContext* context)
{
    std::vector<FramePtr> frames;
    for (;;) {
        FramePtr frame = newFrame();
        if (avcodec_receive_frame(context, frame.get()) < 0) break;
        // Everything after this reads the planes as 8-bit 4:2:0: other
        // pictures would be written as garbage that looks like a decode.
        if (frame->format != AV_PIX_FMT_YUV420P && frame->format != AV_PIX_FMT_YUVJ420P) {
            const char* name = av_get_pix_fmt_name(AVPixelFormat(frame->format));
            throw std::runtime_error(std::string("the stream's pictures are ") + (name ? name : "of an unknown format")
                                     + ", not 8-bit 4:2:0, the only format written");
        }
        frames.push_back(std::move(frame));
    }
    return frames;
}

// Cropped planes of a frame as one contiguous Y, U, V buffer.
void packFrame(const AVFrame* frame, std::vector<std::uint8_t>& out)
{
    const int w = frame->width, h = frame->height, cw = (w + 1) / 2, ch = (h + 1) / 2;
    out.resize(std::size_t(w) * std::size_t(h) + 2 * std::size_t(cw) * std::size_t(ch));
    std::uint8_t* p = out.data();
    for (int plane = 0; plane < 3; ++plane) {
        const int pw = plane ? cw : w, ph = plane ? ch : h;
        for (int y = 0; y < ph; ++y, p += pw) std::memcpy(p, frame->data[plane] + y * frame->linesize[plane], std::size_t(pw));
    }
}

Picture pictureOf(const AVFrame* frame, int mbWidth, int mbHeight)
{
    Picture picture;
    picture.mbWidth = mbWidth;
    picture.mbHeight = mbHeight;
    picture.luma = {frame->data[0], mbWidth * 16, mbHeight * 16, frame->linesize[0]};
    picture.cb = {frame->data[1], mbWidth * 8, mbHeight * 8, frame->linesize[1]};
    picture.cr = {frame->data[2], mbWidth * 8, mbHeight * 8, frame->linesize[2]};
    return picture;
}

MotionField motionFieldOf(const AVFrame* frame, int mbWidth, int mbHeight)
{
    MotionField field(mbWidth, mbHeight);
    const AVFrameSideData* side = av_frame_get_side_data(frame, AV_FRAME_DATA_MOTION_VECTORS);
    if (!side) return field;
    const auto* vectors = reinterpret_cast<const AVMotionVector*>(side->data);
    const std::size_t count = side->size / sizeof(AVMotionVector);
    for (std::size_t i = 0; i < count; ++i) {
        const AVMotionVector& v = vectors[i];
        if (v.source >= 0 || v.motion_scale <= 0) continue; // forward prediction only
        const MotionVector mv{v.motion_x * 4 / int(v.motion_scale), v.motion_y * 4 / int(v.motion_scale)};
        field.setArea(v.dst_x - v.w / 2, v.dst_y - v.h / 2, v.w, v.h, mv);
    }
    return field;
}

} // namespace

struct ConcealingDecoder::State {
    struct Buffer {
        FramePtr frame;
        Sentinel sentinel;
    };
    // A decoded picture until the sequencer writes it: its concealed buffer
    // until libavcodec outputs it (or a later one), then its packed frame.
    struct Decoded {
        FramePtr decodedBuffer;
        std::vector<std::uint8_t> frame;
        FrameLoss loss;
    };

    ConcealmentSettings settings;
    FrameWriter writer;
    CodecPtr codec;
    h264::NalParser sliceOrder;    // reads the slice starts libavcodec needs in order
    std::uint64_t seedState = 0x6B657374ull;
    std::vector<Buffer> allocated; // buffers handed out while decoding the current access unit
    FramePtr previous;             // the last decoded picture, reference for boundary matching
    MotionField previousField;     // its vectors, concealed ones included
    std::map<std::int64_t, Decoded> decodedPictures;  // by received picture number
    std::vector<std::int64_t> settled;  // their frames just packed
    FrameSequencer sequencer{[this](const SequencedOutput& output) { write(output); }};
    int fallbackWidth = 0, fallbackHeight = 0;  // the size when no picture can be decoded
    // Our Baseline decoder instead of libavcodec (slice-group streams).
    std::unique_ptr<codec::BaselineDecoder> ours;
    codec::Picture previousOurs;   // its last picture, concealed, for boundary matching
    PictureType ourUnitType = PictureType::I;
    std::optional<Decoded> ourPicture;  // the packed picture of the unit being decoded
    std::vector<std::uint8_t> lastOutput;
    MbGrid lastLossMap;
    std::vector<bool> previousDamage;  // per macroblock of the last decoded picture
    DecodeReport report;

    static int getBuffer(AVCodecContext* context, AVFrame* frame, int flags)
    {
        auto* self = static_cast<State*>(context->opaque);
        const int result = avcodec_default_get_buffer2(context, frame, flags);
        if (result < 0) return result;
        Sentinel sentinel(nextSentinelSeed(self->seedState), frame->linesize[0]);
        sentinel.fill(Plane{frame->data[0], frame->width, frame->height, frame->linesize[0]});
        FramePtr copy(av_frame_alloc());
        if (!copy || av_frame_ref(copy.get(), frame) < 0) return AVERROR(ENOMEM);
        self->allocated.push_back({std::move(copy), std::move(sentinel)});
        return 0;
    }

    int wholeFrameMacroblocks() const { return ((report.width + 15) / 16) * ((report.height + 15) / 16); }
    FrameLoss repeatLoss() const
    {
        const int all = wholeFrameMacroblocks();
        return {all, all, quality::kMbRepeated, std::string(std::size_t(all), quality::kMbRepeated), {}};
    }

    // The counts and codes of a decoded picture, concealed in place; the
    // damage it carries becomes the reference damage for the next picture.
    FrameLoss lossDetail(PictureType type, const MbGrid& decoded, const MbGrid& concealed, const MotionField& field,
                         char concealedCode)
    {
        const std::vector<bool> fromDamage = predictedFromDamage(field, decoded, previousDamage);
        FrameLoss loss{decoded.count(MbState::Lost), concealed.count(MbState::Concealed),
                       type == PictureType::I ? 'I' : type == PictureType::P ? 'P' : 'B',
                       macroblockCodes(concealed, concealedCode, fromDamage), {}};
        previousDamage = damageOfCodes(loss.macroblocks);
        return loss;
    }

    void writeFrame(const std::vector<std::uint8_t>& frame, const FrameLoss& loss)
    {
        writer(frame);
        ++report.framesWritten;
        report.frameLoss.push_back(loss);
    }

    // What the sequencer decided for the next output frame.
    void write(const SequencedOutput& output)
    {
        switch (output.kind) {
        case SequencedOutput::Kind::Frame: {
            auto it = decodedPictures.find(output.received);
            lastOutput = std::move(it->second.frame);
            writeFrame(lastOutput, it->second.loss);
            decodedPictures.erase(it);
            break;
        }
        case SequencedOutput::Kind::Repeat:
            writeFrame(lastOutput, repeatLoss());
            break;
        case SequencedOutput::Kind::Grey:
            if (output.received >= 0) {
                writeFrame(std::vector<std::uint8_t>(decodedPictures.at(output.received).frame.size(), 128), repeatLoss());
            } else if (fallbackWidth > 0) {
                // Nothing decodable, but the size is known: the pictures are still there, mid-grey.
                const std::size_t w = std::size_t(fallbackWidth), h = std::size_t(fallbackHeight);
                report.width = fallbackWidth;
                report.height = fallbackHeight;
                lastOutput.assign(w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2), 128);
                writeFrame(lastOutput, repeatLoss());
            }
            break;
        }
    }

    // A picture with slices, in stream order, decoded or not.
    std::int64_t receive(const ReceivedPicture& unit, std::optional<Decoded> decoded)
    {
        // After memory_management_control_operation 5 every earlier picture is shown first, as after an IDR.
        const std::int64_t number = sequencer.receive(
            {decoded.has_value(), unit.type == PictureType::B, unit.numbers.idr || unit.numbers.resetsFrameNum, unit.poc});
        if (decoded) decodedPictures[number] = std::move(*decoded);
        return number;
    }

    // The sequencer hears of settled frames only after a pass over
    // decodedPictures, as writing a frame removes its entry.
    void settle(std::int64_t number, Decoded& entry, const AVFrame* frame)
    {
        packFrame(frame, entry.frame);
        report.width = frame->width;
        report.height = frame->height;
        entry.decodedBuffer.reset();  // may be `frame` itself
        settled.push_back(number);
    }

    void announceSettled()
    {
        for (std::int64_t number : settled) sequencer.frameReady(number);
        settled.clear();
    }

    // The window of the decoded buffer that libavcodec's output frames show:
    // it crops them (the left edge only in whole multiples of 64 samples).
    struct Window {
        int left = 0, top = 0, width = 0, height = 0;
        int bufferWidth = 0, bufferHeight = 0;  // of the decoded buffers it was learned from
    };
    Window window;  // learned from an output frame; until then, or after a size change, the decoder's picture size

    void learnWindow(const AVFrame* decoded, const AVFrame* output)
    {
        const std::ptrdiff_t offset = output->data[0] - decoded->data[0];
        if (decoded->linesize[0] <= 0 || offset < 0 || offset >= std::ptrdiff_t(decoded->linesize[0]) * decoded->height) return;
        window = {int(offset % decoded->linesize[0]), int(offset / decoded->linesize[0]), output->width, output->height,
                  decoded->width, decoded->height};
    }

    // A picture that goes out from its decoded buffer, cropped as libavcodec would have.
    void settleDecoded(std::int64_t number, Decoded& entry)
    {
        AVFrame* d = entry.decodedBuffer.get();
        const bool learned = window.bufferWidth == d->width && window.bufferHeight == d->height;
        const Window w = learned ? window : Window{0, 0, codec->width, codec->height};
        if (w.width > 0 && w.height > 0 && w.left + w.width <= d->width && w.top + w.height <= d->height) {
            for (int plane = 0; plane < 3; ++plane) {
                const int shift = plane ? 1 : 0;
                d->data[plane] += std::ptrdiff_t(w.top >> shift) * d->linesize[plane] + (w.left >> shift);
            }
            d->width = w.width;
            d->height = w.height;
        }
        settle(number, entry, d);
    }

    void outputReady(std::vector<FramePtr>& frames)
    {
        for (FramePtr& frame : frames) {
            auto it = decodedPictures.find(frame->pts);
            if (it == decodedPictures.end()) continue; // not one of ours (never expected)
            if (it->second.decodedBuffer) learnWindow(it->second.decodedBuffer.get(), frame.get());
            // Pictures decoded earlier that libavcodec skipped go out as we decoded them.
            for (auto earlier = decodedPictures.begin(); earlier != it; ++earlier)
                if (earlier->second.decodedBuffer) settleDecoded(earlier->first, earlier->second);
            settle(it->first, it->second, frame.get());
        }
        announceSettled();
    }

    MacroblockCounts& countsFor(PictureType type)
    {
        return type == PictureType::I ? report.intra : type == PictureType::P ? report.inter : report.bidir;
    }

    // Vectors the decoder exported for the picture of this number, without the stale ones of lost macroblocks.
    static MotionField exportedField(const std::vector<FramePtr>& ready, std::int64_t number, const MbGrid& grid)
    {
        MotionField field(grid.width, grid.height);
        for (const FramePtr& out : ready)
            if (out->pts == number) field = motionFieldOf(out.get(), grid.width, grid.height);
        field.dropLost(grid);
        return field;
    }

    // One implementation for both decoders: previousPicture is the last
    // decoded picture (nullptr when there is none of the same size).
    // Returns the loss file's code of the method used.
    char concealPicture(const Picture& picture, PictureType type, MbGrid& grid, MotionField& field,
                        const Picture* previousPicture)
    {
        if (type == PictureType::I || settings.inter == InterMethod::None) {
            const IntraMethod method = type == PictureType::I ? settings.intra : IntraMethod::None;
            concealSpatially(picture, grid, method);
            return methodCode(method);
        }
        if (!previousPicture) {
            // Nothing to predict from: the best a P picture can do is the spatial method.
            const IntraMethod method = settings.intra == IntraMethod::None ? IntraMethod::Bilinear : settings.intra;
            concealSpatially(picture, grid, method);
            return methodCode(method);
        }
        const bool usableField =
            previousField.blocksWide() == field.blocksWide() && previousField.blocksHigh() == field.blocksHigh();
        concealByBoundaryMatching(picture, *previousPicture, grid, field, usableField ? &previousField : nullptr);
        return methodCode(InterMethod::BoundaryMatching);
    }

    char conceal(AVFrame* frame, const ReceivedPicture& unit, MbGrid& grid, MotionField& field)
    {
        const bool usablePrevious = previous && previous->width == frame->width && previous->height == frame->height;
        const Picture previousPicture = usablePrevious ? pictureOf(previous.get(), grid.width, grid.height) : Picture{};
        return concealPicture(pictureOf(frame, grid.width, grid.height), unit.type, grid, field,
                              usablePrevious ? &previousPicture : nullptr);
    }

    // Our decoder hands out each picture as soon as its access unit is
    // complete: conceal it in place (it is the reference for the next
    // picture) and keep its packed frame for the placement.
    void tookOurPicture(codec::DecodedPicture& decoded)
    {
        const Picture picture = pictureView(*decoded.picture);
        MbGrid grid = lossMapOf(*decoded.states);
        lastLossMap = grid;
        MacroblockCounts& counts = countsFor(ourUnitType);
        ++counts.pictures;
        counts.total += (long long)grid.states.size();
        const int lost = grid.count(MbState::Lost);
        counts.lost += lost;
        MotionField field = motionFieldOf(*decoded.states);
        const MbGrid decodedGrid = grid;
        const MotionField decodedField = field;
        char method = quality::kMbLost;
        if (lost > 0) {
            const bool usablePrevious = previousOurs.widthInMbs() == decoded.picture->widthInMbs() &&
                                        previousOurs.heightInMbs() == decoded.picture->heightInMbs();
            const Picture previousPicture = usablePrevious ? pictureView(previousOurs) : Picture{};
            method = concealPicture(picture, ourUnitType, grid, field, usablePrevious ? &previousPicture : nullptr);
        }
        ourPicture.emplace();
        FrameLoss& ourLoss = ourPicture->loss;
        ourLoss = lossDetail(ourUnitType, decodedGrid, grid, decodedField, method);
        counts.concealed += ourLoss.concealed;
        const std::vector<std::uint8_t>* groups = decoded.sliceGroupMap;
        if (groups && groups->size() == grid.states.size()
            && std::any_of(groups->begin(), groups->end(), [](std::uint8_t g) { return g > 0; }))
            for (std::uint8_t g : *groups) ourLoss.sliceGroups += char('0' + std::min<int>(g, 7));
        previousField = std::move(field);
        ++report.picturesDecoded;
        // libavcodec keeps its planes aligned: it crops the left edge only in
        // whole multiples of 64 samples and leaves the rest in the frame
        // (av_frame_apply_cropping without AV_FRAME_CROP_UNALIGNED). Both
        // decoders write the same frames.
        const int cropLeft = decoded.cropLeft - decoded.cropLeft % 64;
        const int width = decoded.width + decoded.cropLeft - cropLeft;
        packCropped(*decoded.picture, cropLeft, decoded.cropTop, width, decoded.height, ourPicture->frame);
        report.width = width;
        report.height = decoded.height;
        previousOurs = *decoded.picture;
    }

    void decodeUnitOurs(const ReceivedPicture& unit)
    {
        ++report.accessUnits;
        ourUnitType = unit.type;
        ourPicture.reset();
        h264::AnnexBReader nals{std::span<const std::uint8_t>(unit.bytes)};
        h264::NalUnit nal;
        while (nals.next(nal)) ours->decodeNalUnit(nal.bytes);
        ours->finishPicture();
        if (!ours->unsupported().empty())
            throw std::runtime_error("the stream uses " + ours->unsupported() +
                                     ", which lies outside the Baseline profile our slice-group decoder handles");
        if (unit.hasSlices) {
            if (!unit.numbers.known) ++report.picturesWithoutParameterSets;
            const bool decoded = ourPicture.has_value();
            const std::int64_t number = receive(unit, std::move(ourPicture));
            if (decoded) sequencer.frameReady(number);
            sequencer.place(unit.numbers, unit.sentPicture);
            report.picturesLost = int(sequencer.picturesLost());
        }
        const codec::BaselineDecoderCounts& c = ours->counts();
        report.slicesBroken = c.slicesBroken;
        report.redundantSlicesUsed = c.redundantSlicesUsed;
        report.gapFrames = c.gapFrames;
    }

    void decodeUnit(const ReceivedPicture& unit)
    {
        if (ours) {
            decodeUnitOurs(unit);
            return;
        }
        ++report.accessUnits;
        allocated.clear();
        const std::int64_t number = unit.hasSlices ? sequencer.nextReceived() : -1;
        sendUnit(codec.get(), unit, number, sliceOrder); // errors in damaged slices are expected; the loss map tells
        std::vector<FramePtr> ready = receiveAll(codec.get());
        if (unit.hasSlices) {
            if (unit.withoutParameterSets) ++report.picturesWithoutParameterSets;
            std::optional<Decoded> decoded;
            if (!allocated.empty()) {
                Decoded& entry = decoded.emplace();
                FramePtr current = std::move(allocated.back().frame);
                const Sentinel& sentinel = allocated.back().sentinel;
                const int mbWidth = (current->width + 15) / 16, mbHeight = (current->height + 15) / 16;
                MbGrid grid = sentinel.lossMap(Plane{current->data[0], mbWidth * 16, mbHeight * 16, current->linesize[0]},
                                               mbWidth, mbHeight);
                lastLossMap = grid;
                MacroblockCounts& counts = countsFor(unit.type);
                ++counts.pictures;
                counts.total += (long long)grid.states.size();
                const int lost = grid.count(MbState::Lost);
                counts.lost += lost;
                MotionField field = exportedField(ready, number, grid);
                const MbGrid decodedGrid = grid;
                const MotionField decodedField = field;
                const char method = lost > 0 ? conceal(current.get(), unit, grid, field) : quality::kMbLost;
                entry.loss = lossDetail(unit.type, decodedGrid, grid, decodedField, method);
                counts.concealed += entry.loss.concealed;
                previousField = std::move(field);
                ++report.picturesDecoded;
                entry.decodedBuffer = newFrame();
                if (av_frame_ref(entry.decodedBuffer.get(), current.get()) < 0) throw std::runtime_error("out of memory");
                previous = std::move(current);
            }
            receive(unit, std::move(decoded));
        }
        allocated.clear();
        outputReady(ready);
        // Placed after decoding, so a picture placed at once goes out as soon as its frame does.
        if (unit.hasSlices) sequencer.place(unit.numbers, unit.sentPicture);
        report.picturesLost = int(sequencer.picturesLost());
    }

    void drain()
    {
        if (codec) {
            avcodec_send_packet(codec.get(), nullptr);
            std::vector<FramePtr> ready = receiveAll(codec.get());
            outputReady(ready);
        }
        for (auto& [number, entry] : decodedPictures)
            if (entry.decodedBuffer) settleDecoded(number, entry);
        announceSettled();
        sequencer.finish();
        decodedPictures.clear();
        const h264::PicturePlacer& placer = sequencer.placer();
        report.picturesLost = int(sequencer.picturesLost());
        report.guessedPlaces = placer.guessedPictures();
        report.hiddenLossWrap = placer.wrapHidesLoss();
        report.untracedLossPossible = placer.untracedLossPossible();
        report.numberedStream = placer.numberedStream();
        previous.reset();
        previousField = {};
        previousDamage.clear();
    }
};

ConcealingDecoder::ConcealingDecoder(ConcealmentSettings settings, FrameWriter writer, DecoderChoice choice)
    : state_(std::make_unique<State>())
{
    state_->settings = settings;
    state_->writer = std::move(writer);
    state_->report.ours = choice == DecoderChoice::Ours;
    if (choice == DecoderChoice::Ours) {
        State* state = state_.get();
        state_->ours = std::make_unique<codec::BaselineDecoder>(
            [state](codec::DecodedPicture& decoded) { state->tookOurPicture(decoded); });
        return;
    }
    state_->codec = openH264(0);
    state_->codec->flags2 |= AV_CODEC_FLAG2_EXPORT_MVS;
    state_->codec->opaque = state_.get();
    state_->codec->get_buffer2 = &State::getBuffer;
    openCodec(state_->codec.get());
}

ConcealingDecoder::~ConcealingDecoder() = default;

void ConcealingDecoder::decode(const ReceivedPicture& unit) { state_->decodeUnit(unit); }
void ConcealingDecoder::finish() { state_->drain(); }
void ConcealingDecoder::setSentPictures(std::int64_t pictures)
{
    state_->sequencer.setSentPictures(pictures);
    state_->report.placementFromSent = true;
}
void ConcealingDecoder::setSizeForGrey(int width, int height)
{
    state_->fallbackWidth = width;
    state_->fallbackHeight = height;
}
const DecodeReport& ConcealingDecoder::report() const { return state_->report; }
const MbGrid& ConcealingDecoder::lastLossMap() const { return state_->lastLossMap; }

struct ReferenceDecoder::State {
    CodecPtr codec;
    h264::NalParser sliceOrder;
    FrameWriter writer;
    std::vector<std::uint8_t> packed;
    int written = 0;

    void write(std::vector<FramePtr>& frames)
    {
        for (FramePtr& frame : frames) {
            packFrame(frame.get(), packed);
            writer(packed);
            ++written;
        }
    }
};

ReferenceDecoder::ReferenceDecoder(int errorConcealment, FrameWriter writer)
    : state_(std::make_unique<State>())
{
    state_->writer = std::move(writer);
    state_->codec = openH264(errorConcealment);
    openCodec(state_->codec.get());
}

ReferenceDecoder::~ReferenceDecoder() = default;

void ReferenceDecoder::decode(const ReceivedPicture& unit)
{
    sendUnit(state_->codec.get(), unit, state_->written, state_->sliceOrder);
    std::vector<FramePtr> frames = receiveAll(state_->codec.get());
    state_->write(frames);
}

void ReferenceDecoder::finish()
{
    avcodec_send_packet(state_->codec.get(), nullptr);
    std::vector<FramePtr> frames = receiveAll(state_->codec.get());
    state_->write(frames);
}

int ReferenceDecoder::framesWritten() const { return state_->written; }

} // namespace kestrune::decode
