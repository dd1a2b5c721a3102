#pragma once
// Error concealment of lost macroblocks, in place, on one picture.
// Spatial methods (I pictures) interpolate from the one-pixel lines around a
// block; boundary matching (P pictures) picks the motion vector whose
// prediction from the previous picture best continues the block's surroundings.
#include "tools/decode/picture.h"

#include <utility>
#include <vector>

namespace kestrune::decode {

enum class IntraMethod { None = 0, AverageDc = 1, AverageMacroblock = 2, Bilinear = 3 };
enum class InterMethod { None = 0, BoundaryMatching = 1 };

const char* methodName(IntraMethod method);
const char* methodName(InterMethod method);

struct Sides {
    bool top = false;
    bool bottom = false;
    bool left = false;
    bool right = false;
    int count() const { return int(top) + int(bottom) + int(left) + int(right); }
};

// Neighbours that may serve a lost macroblock: the correctly decoded ones, and
// already concealed ones as well when fewer than two correct ones exist.
Sides usableNeighbours(const MbGrid& grid, int mbX, int mbY);

// The lost macroblocks in the order to conceal them: outward from the decoded
// area (nearest first), so each block sees as many finished neighbours as possible.
std::vector<std::pair<int, int>> concealmentOrder(const MbGrid& grid);

// Fills the n x n block at (x0, y0) from the boundary lines of the given sides; 128 where none.
void concealBlockSpatially(const Plane& plane, int x0, int y0, int n, Sides sides, IntraMethod method);

// Conceals all lost macroblocks of the picture and marks them Concealed
// (with None they are painted mid-grey and stay Lost). Returns the number concealed.
int concealSpatially(const Picture& picture, MbGrid& grid, IntraMethod method);

struct MotionVector {
    int x = 0; // quarter luma samples
    int y = 0;
    friend bool operator==(const MotionVector&, const MotionVector&) = default;
};

// Forward motion vectors per 4x4 luma block; blocks without one (intra, lost) are invalid.
class MotionField {
public:
    MotionField() = default;
    MotionField(int mbWidth, int mbHeight);

    int blocksWide() const { return width_; }
    int blocksHigh() const { return height_; }
    void set(int bx, int by, MotionVector mv);
    // Sets every block of the w x h luma area at (x, y), clipped to the picture.
    void setArea(int x, int y, int w, int h, MotionVector mv);
    const MotionVector* get(int bx, int by) const;
    // The decoder keeps stale vectors for macroblocks it never decoded.
    void dropLost(const MbGrid& grid);

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<MotionVector> vectors_;
    std::vector<bool> valid_;
};

// Candidates for a lost macroblock: the vectors along the edges it shares with
// its usable neighbours, their mean and median, the zero vector, and the
// vectors of the co-located macroblock in the previous picture's field (when given).
std::vector<MotionVector> candidateVectors(const MotionField& field, int mbX, int mbY, Sides sides,
                                           const MotionField* previousField = nullptr);

// Motion-compensated n x n block at (x0, y0) displaced by mv in units of 1/scale
// sample, bilinear between samples, edges repeated.
void predictBlock(const Plane& reference, int x0, int y0, int n, MotionVector mv, int scale, std::uint8_t* out);

// Boundary matching compares a motion-compensated 18x18 area: the 16x16
// block and the ring of samples around it.
inline constexpr int kMatchArea = 18;

// How badly a candidate continues the block's surroundings: the absolute
// differences between the predicted ring (from an area of kMatchArea squared
// samples at (x0 - 1, y0 - 1)) and the picture's own pixels of the given sides
// at the same positions, summed per side and divided by the number of sides.
// Comparing like positions, rather than the block's border with the pixels
// next to it, keeps a gradient across the edge from biasing the choice.
int boundaryCost(const Plane& luma, int x0, int y0, const std::uint8_t* area, Sides sides);

// Quarter-sample offsets tried around the best candidate, in each direction.
inline constexpr int kRefinementRange = 1;

// Conceals all lost macroblocks from the reference picture and marks them
// Concealed; the chosen vectors enter the field for later neighbours. The best
// candidate is refined by up to kRefinementRange quarter samples when that matches better.
int concealByBoundaryMatching(const Picture& picture, const Picture& reference, MbGrid& grid, MotionField& field,
                              const MotionField* previousField = nullptr);

// Paints all lost macroblocks mid-grey; they stay Lost.
void paintLostGrey(const Picture& picture, const MbGrid& grid);

} // namespace kestrune::decode
