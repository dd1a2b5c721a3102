#pragma once
// What the loss file records per macroblock for the frame viewer: lost,
// concealed (and how), and decoded but predicted from a damaged area.
#include "tools/decode/concealment.h"
#include "tools/decode/picture.h"

#include <string>
#include <vector>

namespace kestrune::decode {

// Correct macroblocks whose motion-compensated prediction reads from a
// damaged macroblock of the reference picture (the six-tap filter's reach
// included). The reference is taken to be the previous decoded picture: the
// exported vectors do not name their reference, and the workbench's streams
// have one. Nothing is marked when referenceDamage is of another size.
std::vector<bool> predictedFromDamage(const MotionField& field, const MbGrid& grid,
                                      const std::vector<bool>& referenceDamage);

// The loss file's code of each macroblock: lost, concealed with concealedCode,
// predicted from damage, or decoded.
std::string macroblockCodes(const MbGrid& grid, char concealedCode, const std::vector<bool>& fromDamage);
// Macroblocks that are damaged in a picture with these codes.
std::vector<bool> damageOfCodes(const std::string& codes);

char methodCode(IntraMethod method);  // kMbLost for None
char methodCode(InterMethod method);

} // namespace kestrune::decode
