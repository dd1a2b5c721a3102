#include "tools/baseline_decoder/slice_data.h"

#include "tools/bitstream/bit_reader.h"
#include "tools/codec/cavlc.h"
#include "tools/codec/inter_prediction.h"
#include "tools/codec/intra_prediction.h"
#include "tools/codec/motion_vector_prediction.h"
#include "tools/codec/neighbours.h"
#include "tools/codec/quantisation.h"
#include "tools/codec/residual.h"
#include "tools/codec/transform.h"

#include <algorithm>
#include <cstring>

namespace kestrune::codec {

namespace {

// Thrown on the first impossible value; decodeSliceData turns it into a result.
struct BrokenSlice {
    std::string what;
};

[[noreturn]] void broken(std::string what)
{
    throw BrokenSlice{std::move(what)};
}

// The levels of one macroblock, raster order per 4x4 block.
struct Residual {
    std::int32_t luma[16][16];
    std::int32_t lumaDc[16];
    std::int32_t chromaDc[2][4];
    std::int32_t chromaAc[2][4][16];
};

class MacroblockDecoder {
public:
    MacroblockDecoder(const SliceContext& c, Picture& picture, MacroblockStates& states)
        : c_(c), pic_(picture), states_(states), bits_(c.rbsp), stopBit_(h264::rbspStopBitPosition(c.rbsp).value_or(0))
    {
        const int qp = 26 + c.pps->pic_init_qp_minus26 + c.header->slice_qp_delta;
        if (qp < 0 || qp > 51) broken("SliceQPY " + std::to_string(qp) + " outside 0..51");
        qp_ = qp;
        constrained_ = c.pps->constrained_intra_pred_flag;
        bits_.skip(c.header->headerBits);
    }

    void run(std::vector<int>& written)
    {
        const bool pSlice = c_.header->kind() == h264::SliceKind::P;
        const int mbCount = states_.size();
        int mbAddr = static_cast<int>(c_.header->first_mb_in_slice);
        if (mbAddr >= mbCount) broken("first_mb_in_slice beyond the picture");
        bool moreData = true;
        while (moreData) {
            if (pSlice) {
                const std::uint32_t skipRun = bits_.ue();
                check("mb_skip_run");
                for (std::uint32_t i = 0; i < skipRun; ++i) {
                    if (mbAddr >= mbCount) broken("mb_skip_run runs past the picture");
                    written.push_back(mbAddr);
                    decodeSkip(mbAddr);
                    mbAddr = (*c_.nextMb)[mbAddr];
                }
                if (skipRun > 0) moreData = bits_.bitPosition() < stopBit_;
            }
            if (moreData) {
                if (mbAddr >= mbCount) broken("slice data runs past the picture");
                written.push_back(mbAddr);
                decodeMacroblock(mbAddr);
                moreData = bits_.bitPosition() < stopBit_;
                mbAddr = (*c_.nextMb)[mbAddr];
            }
        }
        if (bits_.bitPosition() != stopBit_) broken("slice data ends past its stop bit");
    }

private:
    // The checks stay inline and cheap; building a message happens only on
    // the way out.
    void check(const char* what)
    {
        if (bits_.overrun() || bits_.invalid()) [[unlikely]]
            brokenCode(what);
    }
    [[noreturn, gnu::cold, gnu::noinline]] void brokenCode(const char* what)
    {
        broken(std::string(bits_.overrun() ? "slice ends inside " : "impossible code in ") + what);
    }

    std::uint32_t ue(const char* what, std::uint32_t max)
    {
        const std::uint32_t v = bits_.ue();
        check(what);
        if (v > max) [[unlikely]]
            beyond(what, v, max);
        return v;
    }
    [[noreturn, gnu::cold, gnu::noinline]] static void beyond(const char* what, std::uint32_t v, std::uint32_t max)
    {
        broken(std::string(what) + " = " + std::to_string(v) + " exceeds " + std::to_string(max));
    }

    // te(v) with range 0..cMax (clause 9.1.2.2 style truncated Exp-Golomb).
    int te(int cMax)
    {
        if (cMax == 1) return bits_.flag() ? 0 : 1;
        return static_cast<int>(ue("ref_idx_l0", static_cast<std::uint32_t>(cMax)));
    }

    MacroblockState& begin(int mbAddr)
    {
        MacroblockState& mb = states_[mbAddr];
        if (mb.available()) broken("macroblock " + std::to_string(mbAddr) + " coded twice");
        mb = MacroblockState{};
        mb.sliceNum = c_.sliceNum;
        return mb;
    }

    const Picture& reference(int refIdx)
    {
        if (refIdx >= static_cast<int>(c_.refPictures.size()) || !c_.refPictures[refIdx])
            broken("ref_idx_l0 " + std::to_string(refIdx) + " names no reference picture");
        return *c_.refPictures[refIdx];
    }

    void setMotion(MacroblockState& mb, int x4, int y4, int w4, int h4, int refIdx, MotionVector mv)
    {
        if (w4 >= 2 && h4 >= 2) {
            // Whole 8x8 quadrants: their four 4x4 blocks are consecutive.
            for (int qy = y4 / 2; qy < (y4 + h4) / 2; ++qy)
                for (int qx = x4 / 2; qx < (x4 + w4) / 2; ++qx) {
                    const int q = qy * 2 + qx;
                    std::fill_n(mb.mv.begin() + 4 * q, 4, mv);
                    mb.refIdx[q] = static_cast<std::int8_t>(refIdx);
                    mb.refPicId[q] = c_.refIds[refIdx];
                }
            return;
        }
        for (int y = y4; y < y4 + h4; ++y)
            for (int x = x4; x < x4 + w4; ++x) mb.mv[blockIndexAt(x, y)] = mv;
        for (int y = y4 / 2; y <= (y4 + h4 - 1) / 2; ++y) {
            for (int x = x4 / 2; x <= (x4 + w4 - 1) / 2; ++x) {
                mb.refIdx[y * 2 + x] = static_cast<std::int8_t>(refIdx);
                mb.refPicId[y * 2 + x] = c_.refIds[refIdx];
            }
        }
    }

    void decodeSkip(int mbAddr)
    {
        MacroblockState& mb = begin(mbAddr);
        mb.mbType = MbType::PSkip;
        mb.qp = static_cast<std::int8_t>(qp_);
        const Picture& ref = reference(0);
        const MbNeighbours n = macroblockNeighbours(states_, mbAddr);
        const MotionVector mv = pSkipMotionVector(states_, n, mbAddr);
        setMotion(mb, 0, 0, 4, 4, 0, mv);
        predictPartition(ref, (mbAddr % pic_.widthInMbs()) * 16, (mbAddr / pic_.widthInMbs()) * 16, 16, 16, mv, pic_);
    }

    void decodeMacroblock(int mbAddr)
    {
        MacroblockState& mb = begin(mbAddr);
        const MbNeighbours n = macroblockNeighbours(states_, mbAddr);
        std::uint32_t mbType = ue("mb_type", c_.header->kind() == h264::SliceKind::P ? 30 : 25);
        const bool inter = c_.header->kind() == h264::SliceKind::P && mbType < 5;
        if (c_.header->kind() == h264::SliceKind::P && !inter) mbType -= 5;
        if (inter)
            decodeInter(mb, n, mbAddr, static_cast<int>(mbType));
        else
            decodeIntra(mb, n, mbAddr, static_cast<int>(mbType));
    }

    // mb_qp_delta and residual() (clause 7.3.5.3) for the coded parts.
    void readResidual(MacroblockState& mb, const MbNeighbours& n, bool intra16x16, int cbpLuma,
                      int cbpChroma, Residual& r)
    {
        // Only what a reconstruction reads is filled: coded blocks entirely,
        // uncoded ones as zeros where the whole macroblock is transformed.
        if (cbpLuma == 0 && cbpChroma == 0 && !intra16x16) {
            mb.qp = static_cast<std::int8_t>(qp_);
            return;
        }
        const std::int32_t delta = bits_.se();
        check("mb_qp_delta");
        if (delta < -26 || delta > 25) broken("mb_qp_delta " + std::to_string(delta) + " outside -26..25");
        qp_ = (qp_ + delta + 52) % 52;
        mb.qp = static_cast<std::int8_t>(qp_);

        // Coefficients go straight to their raster places; blocks are
        // cleared first because the reader writes only the non-zero ones.
        static constexpr std::uint8_t kInOrder[4] = {0, 1, 2, 3};
        const std::uint8_t* zigZag = kZigZag4x4.data();
        const MacroblockCoeffTokenContexts nC(states_, n);
        if (intra16x16) {
            std::memset(r.lumaDc, 0, sizeof r.lumaDc);
            if (readResidualBlock(bits_, nC.luma(mb, 0), 16, zigZag, r.lumaDc) < 0)
                broken("Intra16x16DCLevel");
        }
        for (int blk = 0; blk < 16; ++blk) {
            if (!(cbpLuma & (1 << (blk / 4)))) {
                if (intra16x16) std::memset(r.luma[blk], 0, sizeof r.luma[blk]);
                continue;
            }
            const int blockNc = nC.luma(mb, blk);
            std::memset(r.luma[blk], 0, sizeof r.luma[blk]);
            const int total = intra16x16 ? readResidualBlock(bits_, blockNc, 15, zigZag + 1, r.luma[blk])
                                         : readResidualBlock(bits_, blockNc, 16, zigZag, r.luma[blk]);
            if (total < 0) broken("luma residual block " + std::to_string(blk));
            mb.totalCoeff[blk] = static_cast<std::uint8_t>(total);
        }
        if (cbpChroma == 0) return;
        std::memset(r.chromaDc, 0, sizeof r.chromaDc);
        for (int p = 0; p < 2; ++p)
            if (readResidualBlock(bits_, kChromaDcNc, 4, kInOrder, r.chromaDc[p]) < 0) broken("ChromaDCLevel");
        std::memset(r.chromaAc, 0, sizeof r.chromaAc);
        if (cbpChroma < 2) return;
        for (int p = 0; p < 2; ++p) {
            for (int blk = 0; blk < 4; ++blk) {
                const int total = readResidualBlock(bits_, nC.chroma(mb, p, blk), 15, zigZag + 1, r.chromaAc[p][blk]);
                if (total < 0) broken("ChromaACLevel");
                mb.totalCoeff[(p == 0 ? kCbBlocks : kCrBlocks) + blk] = static_cast<std::uint8_t>(total);
            }
        }
    }

    void reconstructChroma(int mbAddr, int cbpChroma, Residual& r)
    {
        if (cbpChroma == 0) return;
        const int qpc = chromaQp(qp_, c_.pps->chroma_qp_index_offset);
        for (int p = 0; p < 2; ++p) {
            std::uint8_t* dst = pic_.mbOrigin(kCb + p, mbAddr);
            const int stride = pic_.stride(kCb + p);
            reconstructChroma8x8(r.chromaDc[p], r.chromaAc[p], qpc, dst, stride, dst, stride);
        }
    }

    void decodeIntra(MacroblockState& mb, const MbNeighbours& n, int mbAddr, int mbType)
    {
        if (mbType == 25) {
            decodePcm(mb, mbAddr);
            return;
        }
        int cbpLuma = 0;
        int cbpChroma = 0;
        int mode16 = 0;
        if (mbType == 0) {
            mb.mbType = MbType::I4x4;
            for (int blk = 0; blk < 16; ++blk) {
                const bool usePredicted = bits_.flag();
                const int rem = usePredicted ? 0 : static_cast<int>(bits_.u(3));
                const int predicted = predictedIntra4x4Mode(states_, n, mbAddr, blk, constrained_);
                mb.intra4x4PredMode[blk] =
                    static_cast<std::int8_t>(usePredicted ? predicted : rem < predicted ? rem : rem + 1);
            }
        } else {
            mb.mbType = MbType::I16x16;
            mode16 = (mbType - 1) % 4;
            cbpChroma = ((mbType - 1) / 4) % 3;
            cbpLuma = mbType >= 13 ? 15 : 0;
        }
        const int chromaMode = static_cast<int>(ue("intra_chroma_pred_mode", 3));
        if (mbType == 0) {
            const int cbp = cbpFromCodeNum(ue("coded_block_pattern", 47), true);
            cbpLuma = cbp & 15;
            cbpChroma = cbp >> 4;
        }
        Residual r;
        readResidual(mb, n, mbType != 0, cbpLuma, cbpChroma, r);

        std::uint8_t* luma = pic_.mbOrigin(kLuma, mbAddr);
        const int stride = pic_.stride(kLuma);
        const IntraAvailability avail = macroblockIntraAvailability(states_, n, constrained_);
        if (mbType == 0) {
            for (int blk = 0; blk < 16; ++blk) {
                std::uint8_t* dst = luma + kBlockY[blk] * 4 * stride + kBlockX[blk] * 4;
                const IntraAvailability a = intra4x4Availability(states_, n, mbAddr, blk, constrained_);
                if (!predictIntra4x4(mb.intra4x4PredMode[blk], dst, stride, a, dst, stride))
                    broken("Intra4x4PredMode " + std::to_string(mb.intra4x4PredMode[blk]) + " without its neighbours");
                if (mb.totalCoeff[blk]) reconstructLuma4x4(r.luma[blk], qp_, dst, stride, dst, stride);
            }
        } else {
            if (!predictIntra16x16(mode16, luma, stride, avail, luma, stride))
                broken("Intra16x16PredMode " + std::to_string(mode16) + " without its neighbours");
            reconstructIntra16x16Luma(r.lumaDc, r.luma, qp_, luma, stride, luma, stride);
        }
        for (int p = 0; p < 2; ++p) {
            std::uint8_t* dst = pic_.mbOrigin(kCb + p, mbAddr);
            const int cstride = pic_.stride(kCb + p);
            if (!predictIntraChroma(chromaMode, dst, cstride, avail, dst, cstride))
                broken("intra_chroma_pred_mode " + std::to_string(chromaMode) + " without its neighbours");
        }
        reconstructChroma(mbAddr, cbpChroma, r);
    }

    void decodePcm(MacroblockState& mb, int mbAddr)
    {
        mb.mbType = MbType::IPCM;
        mb.qp = 0;
        mb.totalCoeff.fill(16);
        bits_.skip((8 - bits_.bitPosition() % 8) % 8);
        if (bits_.bitsLeft() < 384 * 8) broken("slice ends inside pcm_sample");
        for (int p = 0; p < 3; ++p) {
            const int size = p == kLuma ? 16 : 8;
            std::uint8_t* dst = pic_.mbOrigin(p, mbAddr);
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x) dst[y * pic_.stride(p) + x] = static_cast<std::uint8_t>(bits_.u(8));
        }
    }

    void decodeInter(MacroblockState& mb, const MbNeighbours& n, int mbAddr, int mbType)
    {
        static constexpr MbType kTypes[5] = {MbType::P16x16, MbType::P16x8, MbType::P8x16, MbType::P8x8, MbType::P8x8};
        mb.mbType = kTypes[mbType];
        const int cMax = static_cast<int>(c_.refPictures.size()) - 1;
        // Partitions in 4x4-block units: x4, y4, w4, h4.
        struct Part {
            int x4, y4, w4, h4, refIdx;
            MotionVector mvd;
        };
        Part parts[16];
        int count = 0;
        if (mbType < 3) {
            const int numParts = mbType == 0 ? 1 : 2;
            for (int i = 0; i < numParts; ++i) {
                if (mbType == 0) parts[i] = {0, 0, 4, 4, 0, {}};
                else if (mbType == 1) parts[i] = {0, 2 * i, 4, 2, 0, {}};
                else parts[i] = {2 * i, 0, 2, 4, 0, {}};
            }
            count = numParts;
            for (int i = 0; i < numParts; ++i)
                if (cMax > 0) parts[i].refIdx = te(cMax);
            for (int i = 0; i < numParts; ++i) readMvd(parts[i].mvd);
        } else {
            int subType[4];
            for (int q = 0; q < 4; ++q) subType[q] = static_cast<int>(ue("sub_mb_type", 3));
            int refIdx[4] = {0, 0, 0, 0};
            if (cMax > 0 && mbType == 3)
                for (int q = 0; q < 4; ++q) refIdx[q] = te(cMax);
            for (int q = 0; q < 4; ++q) {
                const int x4 = (q % 2) * 2;
                const int y4 = (q / 2) * 2;
                switch (subType[q]) {
                    case 0: parts[count++] = {x4, y4, 2, 2, refIdx[q], {}}; break;
                    case 1:
                        for (int k = 0; k < 2; ++k) parts[count++] = {x4, y4 + k, 2, 1, refIdx[q], {}};
                        break;
                    case 2:
                        for (int k = 0; k < 2; ++k) parts[count++] = {x4 + k, y4, 1, 2, refIdx[q], {}};
                        break;
                    default:
                        for (int k = 0; k < 4; ++k) parts[count++] = {x4 + k % 2, y4 + k / 2, 1, 1, refIdx[q], {}};
                        break;
                }
            }
            for (int i = 0; i < count; ++i) readMvd(parts[i].mvd);
        }
        const int cbp = cbpFromCodeNum(ue("coded_block_pattern", 47), false);
        const int cbpLuma = cbp & 15;
        const int cbpChroma = cbp >> 4;

        // Motion vectors in decoding order, each predicted from the ones before.
        const int x0 = (mbAddr % pic_.widthInMbs()) * 16;
        const int y0 = (mbAddr / pic_.widthInMbs()) * 16;
        for (int i = 0; i < count; ++i) {
            const Part& p = parts[i];
            const Picture& ref = reference(p.refIdx);
            const MotionVector mvp = predictMotionVector(states_, n, mbAddr, p.x4, p.y4, p.w4, p.h4, p.refIdx);
            const MotionVector mv = motionVector(mvp, p.mvd);
            setMotion(mb, p.x4, p.y4, p.w4, p.h4, p.refIdx, mv);
            predictPartition(ref, x0 + p.x4 * 4, y0 + p.y4 * 4, p.w4 * 4, p.h4 * 4, mv, pic_);
        }

        Residual r;
        readResidual(mb, n, false, cbpLuma, cbpChroma, r);
        std::uint8_t* luma = pic_.mbOrigin(kLuma, mbAddr);
        const int stride = pic_.stride(kLuma);
        for (int blk = 0; blk < 16; ++blk) {
            if (!mb.totalCoeff[blk]) continue;
            std::uint8_t* dst = luma + kBlockY[blk] * 4 * stride + kBlockX[blk] * 4;
            reconstructLuma4x4(r.luma[blk], qp_, dst, stride, dst, stride);
        }
        reconstructChroma(mbAddr, cbpChroma, r);
    }

    // mvp + mvd, within what every level allows (Table A-1: horizontal
    // -2048..2047.75, vertical at most -512..511.75 luma samples), so a
    // damaged mvd never wraps the 16-bit vector. The tighter vertical range
    // of the lower levels is not enforced: streams that state too low a
    // level still decode as they always did.
    static MotionVector motionVector(MotionVector mvp, MotionVector mvd)
    {
        const int x = mvp.x + mvd.x;
        const int y = mvp.y + mvd.y;
        if (x < -8192 || x > 8191 || y < -2048 || y > 2047) [[unlikely]]
            broken("motion vector (" + std::to_string(x) + ", " + std::to_string(y)
                   + ") in quarter samples outside -8192..8191, -2048..2047");
        return {static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)};
    }

    void readMvd(MotionVector& mvd)
    {
        const std::int32_t x = bits_.se();
        const std::int32_t y = bits_.se();
        check("mvd_l0");
        // mvd_l0 lies within -8192..8191.75 luma samples (clause 7.4.5.1).
        if (x < -32768 || x > 32767 || y < -32768 || y > 32767) broken("mvd_l0 out of range");
        mvd = {static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)};
    }

    const SliceContext& c_;
    Picture& pic_;
    MacroblockStates& states_;
    h264::BitReader bits_;
    std::size_t stopBit_;  // of the rbsp_stop_one_bit (0 when none): more_rbsp_data() is "before it"
    int qp_ = 26;
    bool constrained_ = false;
};

} // namespace

SliceResult decodeSliceData(const SliceContext& context, Picture& picture, MacroblockStates& states)
{
    SliceResult result;
    try {
        MacroblockDecoder decoder(context, picture, states);
        decoder.run(result.macroblocks);
    } catch (const BrokenSlice& e) {
        result.ok = false;
        result.error = e.what;
    }
    return result;
}

} // namespace kestrune::codec
