#pragma once
// Streams with B pictures are decoded in one order and shown in another: the
// picture order count (POC, ITU-T H.264 clause 8.2.1) of each received picture
// says where it is shown within its IDR period. Frames are written in that
// order, so that each lines up with its original; lost pictures have no count
// and take the places left free. Encoders may skip counts, so a count left
// free is a lost picture only where the caller says so.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrune::decode {

// The pictures of one IDR period, in decode order, the first being the IDR
// picture: pocs[i] for those received, nullopt for those lost. step: the
// POC distance between consecutive frames (2 in frame-coded streams), 0 while
// unknown. Returns, for each display position, the decode index shown there,
// or, where freeCountsAreLost, an index past the end for a picture whose loss
// only the counts show (otherwise such positions are left out); decode order
// itself when the counts do not give every picture its own position.
std::vector<std::size_t> displayOrder(std::span<const std::optional<std::int64_t>> pocs, std::int64_t step,
                                      bool freeCountsAreLost);

// The POC distance between frames that a set of counts shows: their greatest
// common divisor of differences, 0 when they show none.
std::int64_t pocStep(std::int64_t knownStep, std::span<const std::optional<std::int64_t>> pocs);

} // namespace kestrune::decode
