#include "tools/decode/damage_map.h"
#include "tools/quality/frame_loss_file.h"

#include <gtest/gtest.h>

using namespace kestrune::decode;

// 3x1 macroblocks, the middle one damaged in the reference picture: a block
// is marked when its vector (and the interpolation filter's reach) reads
// from that macroblock, and only then.
TEST(DamageMap, MarksWhatReadsFromADamagedMacroblockAndNothingElse)
{
    const MbGrid grid(3, 1);
    const std::vector<bool> reference{false, true, false};
    const auto marksWith = [&](MotionVector mv) {
        MotionField field(3, 1);
        field.setArea(0, 0, 16, 16, mv);       // macroblock 0
        field.setArea(32, 0, 16, 16, {0, 0});  // macroblock 2 still
        return predictedFromDamage(field, grid, reference);
    };
    EXPECT_EQ(marksWith({0, 0}), (std::vector<bool>{false, false, false})) << "whole samples read only the block";
    EXPECT_EQ(marksWith({2, 0}), (std::vector<bool>{true, false, false})) << "the six-tap filter reaches 3 samples right";
    EXPECT_EQ(marksWith({-4, 0}), (std::vector<bool>{true, false, false})) << "chroma at a half sample reaches right";
    EXPECT_EQ(marksWith({-8, 0}), (std::vector<bool>{false, false, false})) << "chroma at a whole sample does not";
    EXPECT_EQ(marksWith({0, 8}), (std::vector<bool>{false, false, false})) << "downwards stays out of the middle";
    EXPECT_EQ(marksWith({-64, 0}), (std::vector<bool>{false, false, false})) << "clipped to the left edge";
    // Intra and lost macroblocks (no vectors) are not marked; a size mismatch marks nothing.
    MotionField none(3, 1);
    EXPECT_EQ(predictedFromDamage(none, grid, reference), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(predictedFromDamage(none, grid, {true}), (std::vector<bool>{false, false, false}));

    MbGrid concealed(3, 1);
    concealed.at(1, 0) = MbState::Concealed;
    concealed.at(2, 0) = MbState::Lost;
    const std::string codes = macroblockCodes(concealed, methodCode(InterMethod::BoundaryMatching), {true, false, false});
    EXPECT_EQ(codes, "pVX");
    EXPECT_EQ(damageOfCodes(codes), (std::vector<bool>{true, true, true}));
}
