#include "tools/baseline_encoder/mode_decision.h"

#include "tools/baseline_encoder/block_cost.h"
#include "tools/baseline_encoder/macroblock_layer_writer.h"
#include "tools/baseline_encoder/residual_coding.h"
#include "tools/codec/cavlc.h"
#include "tools/codec/inter_prediction.h"
#include "tools/codec/intra_prediction.h"
#include "tools/codec/motion_vector_prediction.h"
#include "tools/codec/quantisation.h"
#include "tools/codec/residual.h"
#include "tools/codec/transform.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <limits>

namespace kestrune::codec {
namespace {

// The samples of one macroblock in all three planes.
struct MacroblockSamples {
    std::uint8_t y[16 * 16];
    std::uint8_t cb[8 * 8];
    std::uint8_t cr[8 * 8];
};

struct Candidate {
    MacroblockCode code;
    MacroblockState state;
    MacroblockSamples samples;
    double cost = std::numeric_limits<double>::infinity();
};

class MacroblockCoder {
public:
    MacroblockCoder(const SliceCodingContext& c, int mbAddr, const MbNeighbours& n)
        : c_(c), states_(*c.states), mbAddr_(mbAddr), n_(n)
    {
        const int widthInMbs = c.source->widthInMbs();
        x_ = 16 * (mbAddr % widthInMbs);
        y_ = 16 * (mbAddr / widthInMbs);
        qpc_ = chromaQp(c.qp, 0);
        lambda_ = modeLambda(c.qp);
        lambdaMotion_ = motionLambda(c.qp);
        for (int p = 0; p < 3; ++p) {
            src_[p] = c.source->mbOrigin(p, mbAddr);
            dst_[p] = c.reconstruction->mbOrigin(p, mbAddr);
            srcStride_[p] = c.source->stride(p);
            dstStride_[p] = c.reconstruction->stride(p);
        }
        place_.mbAddr = mbAddr;
        place_.neighbours = n;
        place_.pSlice = c.pSlice;
        place_.numRefIdxActive = static_cast<int>(c.references.size());
        blank_ = states_[mbAddr];
    }

    MacroblockCode run(MacroblockStatistics& statistics)
    {
        double interEstimate = std::numeric_limits<double>::infinity();
        if (c_.pSlice) interEstimate = tryInter();
        const bool tryIntra = !c_.pSlice || (!earlySkip_ && intra16x16Estimate() < 1.5 * interEstimate);
        if (tryIntra) {
            codeIntraChroma();
            tryIntra16x16();
            if (c_.settings->intra4x4) tryIntra4x4();
        }
        // The winner's samples and state.
        copyToPicture(best_.samples);
        states_[mbAddr_] = best_.state;
        switch (best_.code.type) {
        case MbType::I16x16: ++statistics.intra16x16; break;
        case MbType::I4x4: ++statistics.intra4x4; break;
        case MbType::PSkip: ++statistics.skip; break;
        default:
            ++statistics.inter;
            if (best_.code.type == MbType::P8x8
                && std::any_of(best_.code.subType.begin(), best_.code.subType.end(), [](SubMbType t) { return t != kSub8x8; }))
                ++statistics.subPartitions;
            break;
        }
        return best_.code;
    }

private:
    // ---- common ----------------------------------------------------------

    void copyToPicture(const MacroblockSamples& s)
    {
        for (int y = 0; y < 16; ++y) std::memcpy(dst_[0] + y * dstStride_[0], s.y + 16 * y, 16);
        for (int y = 0; y < 8; ++y) {
            std::memcpy(dst_[1] + y * dstStride_[1], s.cb + 8 * y, 8);
            std::memcpy(dst_[2] + y * dstStride_[2], s.cr + 8 * y, 8);
        }
    }

    void copyFromPicture(MacroblockSamples& s) const
    {
        for (int y = 0; y < 16; ++y) std::memcpy(s.y + 16 * y, dst_[0] + y * dstStride_[0], 16);
        for (int y = 0; y < 8; ++y) {
            std::memcpy(s.cb + 8 * y, dst_[1] + y * dstStride_[1], 8);
            std::memcpy(s.cr + 8 * y, dst_[2] + y * dstStride_[2], 8);
        }
    }

    std::int64_t distortion() const
    {
        return ssd(src_[0], srcStride_[0], dst_[0], dstStride_[0], 16, 16)
               + ssd(src_[1], srcStride_[1], dst_[1], dstStride_[1], 8, 8)
               + ssd(src_[2], srcStride_[2], dst_[2], dstStride_[2], 8, 8);
    }

    // The reconstruction is in the picture: measure, count the bits, keep if best.
    void consider(const MacroblockCode& code)
    {
        const MacroblockState state = stateOf(code, c_.sliceNum, c_.qp, c_.refPicIds.data());
        int bits = 1;  // P_Skip: its share of a skip run
        if (code.type != MbType::PSkip) {
            states_[mbAddr_] = state;
            scratch_ = h264::BitWriter{};
            writeMacroblockLayer(scratch_, code, states_, place_);
            bits = static_cast<int>(scratch_.bitCount()) + (c_.pSlice ? 1 : 0);
        }
        const double cost = static_cast<double>(distortion()) + lambda_ * bits;
        if (cost < best_.cost) {
            best_.cost = cost;
            best_.code = code;
            best_.state = state;
            copyFromPicture(best_.samples);
        }
        states_[mbAddr_] = blank_;
    }

    int refBits(int refIdx) const
    {
        const int count = static_cast<int>(c_.references.size());
        if (count <= 1) return 0;
        if (count == 2) return 1;
        return ueBits(static_cast<unsigned>(refIdx));
    }

    // ---- inter -----------------------------------------------------------

    struct PartitionChoice {
        int refIdx = 0;
        MotionVector mv;
        int cost = INT_MAX;
    };

    // Sets the partition's vector and reference in the current macroblock's
    // state, as a decoder would have them once it has read the partition.
    void markPartition(const Partition& p, int refIdx, MotionVector mv)
    {
        MacroblockState& s = states_[mbAddr_];
        for (int y = p.y4; y < p.y4 + p.h4; ++y)
            for (int x = p.x4; x < p.x4 + p.w4; ++x) {
                s.mv[blockIndexAt(x, y)] = mv;
                s.refIdx[(y / 2) * 2 + x / 2] = static_cast<std::int8_t>(refIdx);
                s.refPicId[(y / 2) * 2 + x / 2] = c_.refPicIds[refIdx];
            }
        s.mbType = MbType::P8x8;
    }

    PartitionChoice searchPartition(const Partition& p, const std::vector<int>& refs, MotionVector start)
    {
        PartitionChoice best;
        const SearchBlock block{c_.source, x_ + 4 * p.x4, y_ + 4 * p.y4, 4 * p.w4, 4 * p.h4};
        for (int r : refs) {
            const MotionVector mvp = predictMotionVector(states_, n_, mbAddr_, p.x4, p.y4, p.w4, p.h4, r);
            SearchParams params{c_.settings->search, c_.settings->meRange, lambdaMotion_, c_.settings->chromaMe};
            std::vector<MotionVector> starts{start, best16_[r]};
            // The vectors of the neighbours in the same reference: where motion usually continues.
            for (int neighbour : {n_.a, n_.b, n_.c})
                if (neighbour >= 0 && !states_[neighbour].intra() && states_[neighbour].refIdx[3] == r)
                    starts.push_back(states_[neighbour].mv[15]);
            const SearchResult result = searchMotion(block, *c_.references[r], mvp, starts, params);
            const int cost = result.cost + static_cast<int>(lambdaMotion_ * refBits(r) + 0.5);
            if (cost < best.cost) best = {r, result.mv, cost};
        }
        return best;
    }

    std::vector<int> allRefs() const
    {
        std::vector<int> refs(c_.references.size());
        for (int r = 0; r < static_cast<int>(refs.size()); ++r) refs[r] = r;
        return refs;
    }

    // Cost of a two-partition shape (16x8 or 8x16), coding it in `code`.
    int searchTwoPartitions(MacroblockCode& code, MbType type, const std::vector<int>& refs)
    {
        code = MacroblockCode{};
        code.type = type;
        int total = static_cast<int>(lambdaMotion_ * ueBits(type == MbType::P16x8 ? 1 : 2));
        for (const Partition& p : partitionsOf(code)) {
            const PartitionChoice choice = searchPartition(p, refs, best16Mv_);
            total += choice.cost;
            assign(code, p, choice.refIdx, choice.mv);
            markPartition(p, choice.refIdx, choice.mv);
        }
        states_[mbAddr_] = blank_;
        return total;
    }

    static void assign(MacroblockCode& code, const Partition& p, int refIdx, MotionVector mv)
    {
        for (int y = p.y4; y < p.y4 + p.h4; ++y)
            for (int x = p.x4; x < p.x4 + p.w4; ++x) {
                code.mv[blockIndexAt(x, y)] = mv;
                code.refIdx[(y / 2) * 2 + x / 2] = static_cast<std::int8_t>(refIdx);
            }
    }

    int searchEightByEight(MacroblockCode& code, const std::vector<int>& refs)
    {
        code = MacroblockCode{};
        code.type = MbType::P8x8;
        int total = static_cast<int>(lambdaMotion_ * ueBits(3));
        for (int q = 0; q < 4; ++q) {
            const Partition whole{(q % 2) * 2, (q / 2) * 2, 2, 2};
            const PartitionChoice choice = searchPartition(whole, refs, best16Mv_);
            SubMbType bestType = kSub8x8;
            int bestCost = choice.cost + static_cast<int>(lambdaMotion_ * ueBits(kSub8x8));
            std::array<MotionVector, 4> bestMvs{choice.mv, choice.mv, choice.mv, choice.mv};
            // Smaller parts only where the quadrant costs more than its share of the whole.
            if (c_.settings->p4x4) {
                for (SubMbType t : {kSub4x4, kSub8x4, kSub4x8}) {
                    // The halves only where the quarters beat the whole quadrant.
                    if (t != kSub4x4 && bestType == kSub8x8) break;
                    MacroblockCode trial;
                    trial.type = MbType::P8x8;
                    trial.subType[q] = t;
                    int cost = static_cast<int>(lambdaMotion_ * ueBits(t));
                    std::array<MotionVector, 4> mvs{};
                    int k = 0;
                    const MacroblockState before = states_[mbAddr_];
                    for (const Partition& p : partitionsOf(trial)) {
                        if (p.x4 / 2 != q % 2 || p.y4 / 2 != q / 2) continue;
                        const PartitionChoice sub = searchPartition(p, {choice.refIdx}, choice.mv);
                        cost += sub.cost;
                        mvs[k++] = sub.mv;
                        markPartition(p, choice.refIdx, sub.mv);
                    }
                    states_[mbAddr_] = before;
                    if (cost < bestCost) {
                        bestCost = cost;
                        bestType = t;
                        bestMvs = mvs;
                    }
                }
            }
            code.subType[q] = bestType;
            int k = 0;
            for (const Partition& p : partitionsOf(code)) {
                if (p.x4 / 2 != q % 2 || p.y4 / 2 != q / 2) continue;
                assign(code, p, choice.refIdx, bestMvs[k++]);
                markPartition(p, choice.refIdx, code.mv[blockIndexAt(p.x4, p.y4)]);
            }
            total += bestCost;
        }
        states_[mbAddr_] = blank_;
        return total;
    }

    // Motion-compensated prediction of the whole macroblock into pred buffers.
    void predictInter(const MacroblockCode& code, std::uint8_t* predY, std::uint8_t* predCb, std::uint8_t* predCr) const
    {
        for (const Partition& p : partitionsOf(code)) {
            const MotionVector mv = code.mv[blockIndexAt(p.x4, p.y4)];
            const Picture& ref = c_.references[code.refIdx[(p.y4 / 2) * 2 + p.x4 / 2]]->picture();
            predictLuma(ref.plane(kLuma), x_ + 4 * p.x4, y_ + 4 * p.y4, mv, 4 * p.w4, 4 * p.h4,
                        predY + 4 * p.y4 * 16 + 4 * p.x4, 16);
            predictChroma(ref.plane(kCb), x_ / 2 + 2 * p.x4, y_ / 2 + 2 * p.y4, mv, 2 * p.w4, 2 * p.h4,
                          predCb + 2 * p.y4 * 8 + 2 * p.x4, 8);
            predictChroma(ref.plane(kCr), x_ / 2 + 2 * p.x4, y_ / 2 + 2 * p.y4, mv, 2 * p.w4, 2 * p.h4,
                          predCr + 2 * p.y4 * 8 + 2 * p.x4, 8);
        }
    }

    // Returns true when the candidate coded nothing on the P_Skip vector.
    bool considerInter(MacroblockCode code)
    {
        alignas(16) std::uint8_t predY[256], predCb[64], predCr[64];
        predictInter(code, predY, predCb, predCr);
        if (code.type != MbType::PSkip) {
            codeInterLuma(code, src_[0], srcStride_[0], predY, 16, c_.qp);
            const std::uint8_t* src[2] = {src_[1], src_[2]};
            const std::uint8_t* pred[2] = {predCb, predCr};
            codeChroma(code, src, srcStride_[1], pred, 8, qpc_, false);
            // Nothing to code and the skip vector: P_Skip says the same in one bit.
            if (code.cbp == 0 && code.type == MbType::P16x16 && code.refIdx[0] == 0 && code.mv[0] == skipMv_) return true;
        }
        reconstructLuma(code, c_.qp, dst_[0], dstStride_[0], predY, 16);
        std::uint8_t* dst[2] = {dst_[1], dst_[2]};
        const std::uint8_t* pred[2] = {predCb, predCr};
        reconstructChroma(code, qpc_, dst, dstStride_[1], pred, 8);
        consider(code);
        return false;
    }

    // Returns the motion cost of the best inter shape (for the intra test).
    double tryInter()
    {
        skipMv_ = pSkipMotionVector(states_, n_, mbAddr_);
        MacroblockCode skip;
        skip.type = MbType::PSkip;
        skip.refIdx = {0, 0, 0, 0};
        skip.mv.fill(skipMv_);
        considerInter(skip);
        // Early skip: where the skip vector leaves nothing worth coding, no
        // search can pay for its vector bits.
        MacroblockCode onSkipVector;
        onSkipVector.type = MbType::P16x16;
        onSkipVector.refIdx = {0, 0, 0, 0};
        onSkipVector.mv.fill(skipMv_);
        if (considerInter(onSkipVector)) {
            earlySkip_ = true;
            return 0;
        }

        const std::vector<int> refs = allRefs();
        MacroblockCode p16;
        p16.type = MbType::P16x16;
        const Partition whole{0, 0, 4, 4};
        PartitionChoice best;
        best16_.assign(refs.size(), skipMv_);
        for (int r : refs) {
            const PartitionChoice choice = searchPartition(whole, {r}, skipMv_);
            best16_[r] = choice.mv;
            if (choice.cost < best.cost) best = choice;
        }
        best16Mv_ = best.mv;
        best16Cost_ = best.cost;
        assign(p16, whole, best.refIdx, best.mv);
        int bestCost = best.cost + static_cast<int>(lambdaMotion_ * ueBits(0));
        MacroblockCode bestShape = p16;
        if (c_.settings->p8x8) {
            // Partitions use the references up to one past the best for the
            // whole macroblock (older ones rarely win there), and the shapes
            // are analysed as far as 8x8 shows that splitting pays.
            std::vector<int> shapeRefs{best.refIdx};
            if (c_.settings->mixedRefs) {
                shapeRefs.clear();
                for (int r = 0; r <= std::min(best.refIdx + 1, static_cast<int>(refs.size()) - 1); ++r) shapeRefs.push_back(r);
            }
            MacroblockCode shape;
            const int cost8x8 = searchEightByEight(shape, shapeRefs);
            if (cost8x8 < bestCost) {
                bestCost = cost8x8;
                bestShape = shape;
            }
            // Two halves pay where the four quadrants came close.
            if (cost8x8 < bestCost + bestCost / 4) {
                for (MbType type : {MbType::P16x8, MbType::P8x16}) {
                    const int cost = searchTwoPartitions(shape, type, shapeRefs);
                    if (cost < bestCost) {
                        bestCost = cost;
                        bestShape = shape;
                    }
                }
            }
        }
        considerInter(p16);
        if (bestShape.type != MbType::P16x16) considerInter(bestShape);
        return bestCost;
    }

    // ---- intra -----------------------------------------------------------

    double intra16x16Estimate()
    {
        const IntraAvailability avail = macroblockIntraAvailability(states_, n_, false);
        alignas(16) std::uint8_t pred[256];
        int best = INT_MAX;
        for (int mode = 0; mode < 4; ++mode) {
            if (!predictIntra16x16(mode, dst_[0], dstStride_[0], avail, pred, 16)) continue;
            best = std::min(best, satd(src_[0], srcStride_[0], pred, 16, 16, 16));
        }
        return best;
    }

    void codeIntraChroma()
    {
        const IntraAvailability avail = macroblockIntraAvailability(states_, n_, false);
        alignas(16) std::uint8_t predCb[64], predCr[64], bestCb[64], bestCr[64];
        int bestCost = INT_MAX;
        for (int mode = 0; mode < 4; ++mode) {
            if (!predictIntraChroma(mode, dst_[1], dstStride_[1], avail, predCb, 8)) continue;
            predictIntraChroma(mode, dst_[2], dstStride_[2], avail, predCr, 8);
            const int cost = satd(src_[1], srcStride_[1], predCb, 8, 8, 8) + satd(src_[2], srcStride_[2], predCr, 8, 8, 8)
                             + static_cast<int>(lambdaMotion_ * ueBits(static_cast<unsigned>(mode)));
            if (cost < bestCost) {
                bestCost = cost;
                chroma_.chromaMode = mode;
                std::memcpy(bestCb, predCb, 64);
                std::memcpy(bestCr, predCr, 64);
            }
        }
        const std::uint8_t* src[2] = {src_[1], src_[2]};
        const std::uint8_t* pred[2] = {bestCb, bestCr};
        codeChroma(chroma_, src, srcStride_[1], pred, 8, qpc_, true);
        std::uint8_t* dst[2] = {dst_[1], dst_[2]};
        reconstructChroma(chroma_, qpc_, dst, dstStride_[1], pred, 8);
    }

    // The chroma part of every intra candidate (computed once per macroblock).
    void takeChroma(MacroblockCode& code) const
    {
        code.chromaMode = chroma_.chromaMode;
        code.cbp = (code.cbp & 15) | (chroma_.cbp & 0x30);
        std::memcpy(code.chromaDc, chroma_.chromaDc, sizeof code.chromaDc);
        std::memcpy(code.chromaAc, chroma_.chromaAc, sizeof code.chromaAc);
        for (int i = 16; i < 24; ++i) code.totalCoeff[i] = chroma_.totalCoeff[i];
    }

    void tryIntra16x16()
    {
        const IntraAvailability avail = macroblockIntraAvailability(states_, n_, false);
        alignas(16) std::uint8_t pred[256], bestPred[256];
        int bestCost = INT_MAX, bestMode = -1;
        for (int mode = 0; mode < 4; ++mode) {
            if (!predictIntra16x16(mode, dst_[0], dstStride_[0], avail, pred, 16)) continue;
            const int cost = satd(src_[0], srcStride_[0], pred, 16, 16, 16);
            if (cost < bestCost) {
                bestCost = cost;
                bestMode = mode;
                std::memcpy(bestPred, pred, sizeof pred);
            }
        }
        if (bestMode < 0) return;
        MacroblockCode code;
        code.type = MbType::I16x16;
        code.intra16x16Mode = bestMode;
        takeChroma(code);
        codeIntra16x16Luma(code, src_[0], srcStride_[0], bestPred, 16, c_.qp);
        reconstructIntra16x16(code, c_.qp, dst_[0], dstStride_[0], bestPred, 16);
        consider(code);
    }

    void tryIntra4x4()
    {
        MacroblockCode code;
        code.type = MbType::I4x4;
        takeChroma(code);
        MacroblockState& s = states_[mbAddr_];
        s.mbType = MbType::I4x4;
        s.totalCoeff = code.totalCoeff;
        for (int blk = 0; blk < 16; ++blk) {
            const int bx = 4 * kBlockX[blk], by = 4 * kBlockY[blk];
            std::uint8_t* dst = dst_[0] + by * dstStride_[0] + bx;
            const std::uint8_t* src = src_[0] + by * srcStride_[0] + bx;
            const IntraAvailability avail = intra4x4Availability(states_, n_, mbAddr_, blk, false);
            const int predicted = predictedIntra4x4Mode(states_, n_, mbAddr_, blk, false);
            // Pre-selection by SATD, then rate-distortion among the best few.
            std::array<std::pair<int, int>, 9> ranked{};
            int count = 0;
            alignas(16) std::uint8_t pred[16];
            for (int mode = 0; mode < 9; ++mode) {
                if (!predictIntra4x4(mode, dst, dstStride_[0], avail, pred, 4)) continue;
                const int modeBits = mode == predicted ? 1 : 4;
                ranked[count++] = {satd(src, srcStride_[0], pred, 4, 4, 4) + static_cast<int>(lambdaMotion_ * modeBits), mode};
            }
            std::sort(ranked.begin(), ranked.begin() + count);
            const int nC = coeffTokenNc(states_, n_, mbAddr_, ResidualBlockKind::Luma, blk);
            double bestCost = std::numeric_limits<double>::infinity();
            int bestMode = ranked[0].second;
            std::int32_t bestLevels[16]{};
            for (int k = 0; k < std::min(count, 4); ++k) {
                const int mode = ranked[k].second;
                predictIntra4x4(mode, dst, dstStride_[0], avail, pred, 4);
                std::int32_t levels[16];
                codeLumaBlock(levels, src, srcStride_[0], pred, 4, c_.qp, true);
                int coeff[16];
                for (int i = 0; i < 16; ++i) coeff[i] = levels[kZigZag4x4[i]];
                scratch_ = h264::BitWriter{};
                writeResidualBlock(scratch_, nC, 16, coeff);
                std::int32_t consumed[16];
                std::memcpy(consumed, levels, sizeof consumed);
                std::uint8_t out[16];
                reconstructLuma4x4(consumed, c_.qp, out, 4, pred, 4);
                const double cost = static_cast<double>(ssd(src, srcStride_[0], out, 4, 4, 4))
                                    + lambda_ * (static_cast<double>(scratch_.bitCount()) + (mode == predicted ? 1 : 4));
                if (cost < bestCost) {
                    bestCost = cost;
                    bestMode = mode;
                    std::memcpy(bestLevels, levels, sizeof bestLevels);
                }
            }
            predictIntra4x4(bestMode, dst, dstStride_[0], avail, pred, 4);
            std::memcpy(code.luma[blk], bestLevels, sizeof bestLevels);
            int nonZero = 0;
            for (int v : bestLevels) nonZero += v != 0;
            code.totalCoeff[blk] = static_cast<std::uint8_t>(nonZero);
            code.intra4x4Modes[blk] = static_cast<std::int8_t>(bestMode);
            s.totalCoeff[blk] = code.totalCoeff[blk];
            s.intra4x4PredMode[blk] = static_cast<std::int8_t>(bestMode);
            std::int32_t consumed[16];
            std::memcpy(consumed, bestLevels, sizeof consumed);
            reconstructLuma4x4(consumed, c_.qp, dst, dstStride_[0], pred, 4);
        }
        for (int q = 0; q < 4; ++q)
            if (code.totalCoeff[4 * q] | code.totalCoeff[4 * q + 1] | code.totalCoeff[4 * q + 2] | code.totalCoeff[4 * q + 3])
                code.cbp |= 1 << q;
        states_[mbAddr_] = blank_;
        // The chroma reconstruction is still in the picture from codeIntraChroma.
        consider(code);
    }

    const SliceCodingContext& c_;
    MacroblockStates& states_;
    int mbAddr_;
    MbNeighbours n_;
    MacroblockPlace place_;
    MacroblockState blank_;
    int x_ = 0, y_ = 0;
    int qpc_ = 0;
    double lambda_ = 0, lambdaMotion_ = 0;
    const std::uint8_t* src_[3]{};
    std::uint8_t* dst_[3]{};
    int srcStride_[3]{}, dstStride_[3]{};
    MotionVector skipMv_;
    std::vector<MotionVector> best16_;
    MotionVector best16Mv_;
    int best16Cost_ = 0;
    bool earlySkip_ = false;
    MacroblockCode chroma_;
    Candidate best_;
    h264::BitWriter scratch_;
};

} // namespace

MacroblockCode encodeMacroblock(const SliceCodingContext& context, int mbAddr, const MbNeighbours& neighbours,
                                MacroblockStatistics& statistics)
{
    MacroblockCoder coder(context, mbAddr, neighbours);
    return coder.run(statistics);
}

} // namespace kestrune::codec
