#pragma once
// The analyzer's source box, as every command that reads it understands it.
class QComboBox;

namespace kestrune {

// 0 "Encoder Output", 1 "Channel Output", or -1 when none is chosen or the
// user typed text over the box (the box then names no item).
int chosenSource(const QComboBox* box);

} // namespace kestrune
