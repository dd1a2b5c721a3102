#include "tools/baseline_encoder/macroblock_layer_writer.h"

#include "tools/codec/cavlc.h"
#include "tools/codec/intra_prediction.h"
#include "tools/codec/motion_vector_prediction.h"
#include "tools/codec/transform.h"

namespace kestrune::codec {

std::vector<Partition> partitionsOf(const MacroblockCode& code)
{
    switch (code.type) {
    case MbType::P16x16:
    case MbType::PSkip: return {{0, 0, 4, 4}};
    case MbType::P16x8: return {{0, 0, 4, 2}, {0, 2, 4, 2}};
    case MbType::P8x16: return {{0, 0, 2, 4}, {2, 0, 2, 4}};
    case MbType::P8x8: {
        std::vector<Partition> parts;
        for (int q = 0; q < 4; ++q) {
            const int x = (q % 2) * 2, y = (q / 2) * 2;
            switch (code.subType[q]) {
            case kSub8x8: parts.push_back({x, y, 2, 2}); break;
            case kSub8x4: parts.insert(parts.end(), {{x, y, 2, 1}, {x, y + 1, 2, 1}}); break;
            case kSub4x8: parts.insert(parts.end(), {{x, y, 1, 2}, {x + 1, y, 1, 2}}); break;
            case kSub4x4: parts.insert(parts.end(), {{x, y, 1, 1}, {x + 1, y, 1, 1}, {x, y + 1, 1, 1}, {x + 1, y + 1, 1, 1}}); break;
            }
        }
        return parts;
    }
    default: return {};
    }
}

MacroblockState stateOf(const MacroblockCode& code, int sliceNum, int qp, const int* refPicIds)
{
    MacroblockState s;
    s.sliceNum = sliceNum;
    s.mbType = code.type;
    s.qp = static_cast<std::int8_t>(qp);
    s.totalCoeff = code.totalCoeff;
    if (code.type == MbType::I4x4) s.intra4x4PredMode = code.intra4x4Modes;
    if (!isIntra(code.type)) {
        s.refIdx = code.refIdx;
        for (int q = 0; q < 4; ++q) s.refPicId[q] = refPicIds[code.refIdx[q]];
        s.mv = code.mv;
    }
    return s;
}

namespace {

int mbTypeValue(const MacroblockCode& code, bool pSlice)
{
    const int intraBase = pSlice ? 5 : 0;
    switch (code.type) {
    case MbType::P16x16: return 0;
    case MbType::P16x8: return 1;
    case MbType::P8x16: return 2;
    case MbType::P8x8: return 3;
    case MbType::I4x4: return intraBase;
    case MbType::I16x16:
        return intraBase + 1 + code.intra16x16Mode + 4 * code.cbpChroma() + (code.cbpLuma() ? 12 : 0);
    default: return 0;
    }
}

void writeRefIdx(h264::BitWriter& w, int refIdx, int numRefIdxActive)
{
    if (numRefIdxActive == 2) w.flag(refIdx == 0);  // te(v) with range 1: one inverted bit
    else w.ue(static_cast<std::uint64_t>(refIdx));
}

// coeffLevel in scan order from raster levels, scan positions [first, first + count).
void scanned(const std::int32_t* raster, int first, int count, int* out)
{
    for (int i = 0; i < count; ++i) out[i] = raster[kZigZag4x4[first + i]];
}

void writeResidual(h264::BitWriter& w, const MacroblockCode& code, const MacroblockStates& states, const MacroblockPlace& place)
{
    const int mbAddr = place.mbAddr;
    const MbNeighbours& n = place.neighbours;
    int coeff[16];
    const bool i16 = code.type == MbType::I16x16;
    if (i16) {
        scanned(code.lumaDc, 0, 16, coeff);
        writeResidualBlock(w, coeffTokenNc(states, n, mbAddr, ResidualBlockKind::Intra16x16Dc, 0), 16, coeff);
    }
    for (int blk = 0; blk < 16; ++blk) {
        if (!(code.cbpLuma() & (1 << (blk / 4)))) continue;
        const int nC = coeffTokenNc(states, n, mbAddr, ResidualBlockKind::Luma, blk);
        if (i16) {
            scanned(code.luma[blk], 1, 15, coeff);
            writeResidualBlock(w, nC, 15, coeff);
        } else {
            scanned(code.luma[blk], 0, 16, coeff);
            writeResidualBlock(w, nC, 16, coeff);
        }
    }
    if (code.cbpChroma() == 0) return;
    for (int c = 0; c < 2; ++c) {
        for (int i = 0; i < 4; ++i) coeff[i] = code.chromaDc[c][i];
        writeResidualBlock(w, kChromaDcNc, 4, coeff);
    }
    if (code.cbpChroma() < 2) return;
    for (int c = 0; c < 2; ++c)
        for (int blk = 0; blk < 4; ++blk) {
            scanned(code.chromaAc[c][blk], 1, 15, coeff);
            writeResidualBlock(w, coeffTokenNc(states, n, mbAddr, c == 0 ? ResidualBlockKind::CbAc : ResidualBlockKind::CrAc, blk),
                               15, coeff);
        }
}

} // namespace

void writeMacroblockLayer(h264::BitWriter& w, const MacroblockCode& code, MacroblockStates& states,
                          const MacroblockPlace& place)
{
    const int mbAddr = place.mbAddr;
    w.ue(static_cast<std::uint64_t>(mbTypeValue(code, place.pSlice)));
    if (code.type == MbType::I4x4) {
        // Each mode against its prediction from the blocks before it.
        const MacroblockState final = states[mbAddr];
        for (int blk = 0; blk < 16; ++blk) {
            const int predicted = predictedIntra4x4Mode(states, place.neighbours, mbAddr, blk, false);
            const int mode = code.intra4x4Modes[blk];
            if (mode == predicted) {
                w.flag(true);
            } else {
                w.flag(false);
                w.u(3, static_cast<std::uint64_t>(mode < predicted ? mode : mode - 1));
            }
        }
        states[mbAddr] = final;
    }
    if (isIntra(code.type)) {
        w.ue(static_cast<std::uint64_t>(code.chromaMode));
    } else {
        // Vectors are predicted as a decoder derives them: partition by
        // partition, the later ones of this macroblock not yet known.
        const MacroblockState final = states[mbAddr];
        MacroblockState& progressive = states[mbAddr];
        progressive.refIdx = {-1, -1, -1, -1};
        progressive.mv = {};
        const std::vector<Partition> parts = partitionsOf(code);
        if (code.type == MbType::P8x8) {
            for (int q = 0; q < 4; ++q) w.ue(code.subType[q]);
            if (place.numRefIdxActive > 1)
                for (int q = 0; q < 4; ++q) writeRefIdx(w, code.refIdx[q], place.numRefIdxActive);
        } else if (place.numRefIdxActive > 1) {
            for (const Partition& p : parts) writeRefIdx(w, code.refIdx[(p.y4 / 2) * 2 + p.x4 / 2], place.numRefIdxActive);
        }
        for (const Partition& p : parts) {
            const int quadrant = (p.y4 / 2) * 2 + p.x4 / 2;
            const int refIdx = code.refIdx[quadrant];
            const MotionVector mvp = predictMotionVector(states, place.neighbours, mbAddr, p.x4, p.y4, p.w4, p.h4, refIdx);
            const MotionVector mv = code.mv[blockIndexAt(p.x4, p.y4)];
            w.se(mv.x - mvp.x);
            w.se(mv.y - mvp.y);
            for (int y = p.y4; y < p.y4 + p.h4; ++y)
                for (int x = p.x4; x < p.x4 + p.w4; ++x) {
                    progressive.mv[blockIndexAt(x, y)] = mv;
                    progressive.refIdx[(y / 2) * 2 + x / 2] = static_cast<std::int8_t>(refIdx);
                    progressive.refPicId[(y / 2) * 2 + x / 2] = final.refPicId[(y / 2) * 2 + x / 2];
                }
        }
        states[mbAddr] = final;
    }
    if (code.type != MbType::I16x16) w.ue(codeNumFromCbp(code.cbp, isIntra(code.type)));
    if (code.cbp != 0 || code.type == MbType::I16x16) {
        w.se(0);  // mb_qp_delta: one QP per picture
        writeResidual(w, code, states, place);
    }
}

} // namespace kestrune::codec
