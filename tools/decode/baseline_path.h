#pragma once
// What the concealment needs from our own Baseline decoder, in the neutral
// picture view the libavcodec path uses too: the picture, the loss map
// (straight from which macroblocks the decoder wrote) and the motion field
// (from the decoder's own vectors), and the stream test that picks the
// decoder: a picture parameter set with more than one slice group.
#include "tools/codec/macroblock_state.h"
#include "tools/codec/picture.h"
#include "tools/decode/concealment.h"
#include "tools/decode/picture.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace kestrune::decode {

// A view of all three planes of our decoder's picture.
Picture pictureView(codec::Picture& picture);

// Lost: macroblocks the decoder did not write (lost or broken slices).
MbGrid lossMapOf(const codec::MacroblockStates& states);

// Forward vectors of the inter macroblocks that were written, per 4x4 block.
MotionField motionFieldOf(const codec::MacroblockStates& states);

// The cropped picture as one contiguous planar Y, U, V buffer.
void packCropped(const codec::Picture& picture, int cropLeft, int cropTop, int width, int height,
                 std::vector<std::uint8_t>& out);

// The largest num_slice_groups_minus1 + 1 of any picture parameter set in
// the NAL unit (1 when it is not a readable PPS).
int sliceGroupsOfNalUnit(std::span<const std::uint8_t> nal);
// The same over a whole Annex B file (1 when it has no slice groups).
int sliceGroupsInStream(const std::filesystem::path& file);

} // namespace kestrune::decode
