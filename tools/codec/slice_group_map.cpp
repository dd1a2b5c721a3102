#include "tools/codec/slice_group_map.h"

#include <algorithm>
#include <string>

namespace kestrune::codec {

namespace {

using h264::Result;
using h264::Status;

Status broken(std::string message)
{
    return {Result::BrokenData, std::move(message)};
}

// 8.2.2.1 Interleaved: runs of run_length_minus1 + 1 for each group in turn.
void interleaved(const h264::Pps& pps, std::vector<std::uint8_t>& map)
{
    const int size = static_cast<int>(map.size());
    const int groups = static_cast<int>(pps.num_slice_groups_minus1) + 1;
    int i = 0;
    do {
        for (int group = 0; group < groups && i < size; i += static_cast<int>(pps.run_length_minus1[group++]) + 1)
            for (int j = 0; j <= static_cast<int>(pps.run_length_minus1[group]) && i + j < size; ++j)
                map[i + j] = static_cast<std::uint8_t>(group);
    } while (i < size);
}

// 8.2.2.2 Dispersed.
void dispersed(const h264::Pps& pps, int width, std::vector<std::uint8_t>& map)
{
    const int groups = static_cast<int>(pps.num_slice_groups_minus1) + 1;
    for (int i = 0; i < static_cast<int>(map.size()); ++i)
        map[i] = static_cast<std::uint8_t>(((i % width) + (((i / width) * groups) / 2)) % groups);
}

// 8.2.2.3 Foreground with left-over: rectangles, lower group numbers on top.
void foreground(const h264::Pps& pps, int width, std::vector<std::uint8_t>& map)
{
    std::fill(map.begin(), map.end(), static_cast<std::uint8_t>(pps.num_slice_groups_minus1));
    for (int group = static_cast<int>(pps.num_slice_groups_minus1) - 1; group >= 0; --group) {
        const int yTopLeft = static_cast<int>(pps.top_left[group]) / width;
        const int xTopLeft = static_cast<int>(pps.top_left[group]) % width;
        const int yBottomRight = static_cast<int>(pps.bottom_right[group]) / width;
        const int xBottomRight = static_cast<int>(pps.bottom_right[group]) % width;
        for (int y = yTopLeft; y <= yBottomRight; ++y)
            for (int x = xTopLeft; x <= xBottomRight; ++x) map[y * width + x] = static_cast<std::uint8_t>(group);
    }
}

// 8.2.2.4 Box-out: group 0 spirals out from the centre.
void boxOut(const h264::Pps& pps, int width, int height, int unitsInGroup0, std::vector<std::uint8_t>& map)
{
    const int direction = pps.slice_group_change_direction_flag ? 1 : 0;
    std::fill(map.begin(), map.end(), 1);
    int x = (width - direction) / 2;
    int y = (height - direction) / 2;
    int leftBound = x, topBound = y, rightBound = x, bottomBound = y;
    int xDir = direction - 1;
    int yDir = direction;
    for (int k = 0; k < unitsInGroup0;) {
        const bool vacant = map[y * width + x] == 1;
        if (vacant) map[y * width + x] = 0;
        if (xDir == -1 && x == leftBound) {
            leftBound = std::max(leftBound - 1, 0);
            x = leftBound;
            xDir = 0;
            yDir = 2 * direction - 1;
        } else if (xDir == 1 && x == rightBound) {
            rightBound = std::min(rightBound + 1, width - 1);
            x = rightBound;
            xDir = 0;
            yDir = 1 - 2 * direction;
        } else if (yDir == -1 && y == topBound) {
            topBound = std::max(topBound - 1, 0);
            y = topBound;
            xDir = 1 - 2 * direction;
            yDir = 0;
        } else if (yDir == 1 && y == bottomBound) {
            bottomBound = std::min(bottomBound + 1, height - 1);
            y = bottomBound;
            xDir = 2 * direction - 1;
            yDir = 0;
        } else {
            x += xDir;
            y += yDir;
        }
        k += vacant ? 1 : 0;
    }
}

// 8.2.2.5 Raster scan and 8.2.2.6 Wipe: the upper-left group in raster or
// column order.
void rasterOrWipe(const h264::Pps& pps, int width, int height, int unitsInGroup0, bool wipe,
                  std::vector<std::uint8_t>& map)
{
    const int size = width * height;
    const std::uint8_t direction = pps.slice_group_change_direction_flag ? 1 : 0;
    const int upperLeft = direction ? size - unitsInGroup0 : unitsInGroup0;
    int k = 0;
    for (int j = 0; j < (wipe ? width : size); ++j) {
        for (int i = 0; i < (wipe ? height : 1); ++i) {
            const int unit = wipe ? i * width + j : j;
            map[unit] = k++ < upperLeft ? direction : static_cast<std::uint8_t>(1 - direction);
        }
    }
}

} // namespace

Status sliceGroupMap(const h264::Pps& pps, int widthInMbs, int heightInMbs, std::uint32_t sliceGroupChangeCycle,
                     std::vector<std::uint8_t>& map)
{
    const int size = widthInMbs * heightInMbs;
    map.assign(static_cast<std::size_t>(std::max(size, 0)), 0);
    if (size <= 0) return broken("empty picture");
    if (pps.num_slice_groups_minus1 == 0) return {};
    const std::size_t groups = pps.num_slice_groups_minus1 + 1;
    const int unitsInGroup0 = static_cast<int>(
        std::min<std::uint64_t>(std::uint64_t{sliceGroupChangeCycle} * (pps.slice_group_change_rate_minus1 + 1),
                                static_cast<std::uint64_t>(size)));
    switch (pps.slice_group_map_type) {
        case 0:
            if (pps.run_length_minus1.size() != groups) return broken("run_length_minus1 missing");
            for (std::uint32_t run : pps.run_length_minus1)
                if (run >= static_cast<std::uint32_t>(size)) return broken("run_length_minus1 exceeds the picture");
            interleaved(pps, map);
            return {};
        case 1:
            dispersed(pps, widthInMbs, map);
            return {};
        case 2:
            if (pps.top_left.size() + 1 < groups || pps.bottom_right.size() + 1 < groups)
                return broken("top_left or bottom_right missing");
            for (std::size_t g = 0; g + 1 < groups; ++g) {
                if (pps.bottom_right[g] >= static_cast<std::uint32_t>(size) || pps.top_left[g] > pps.bottom_right[g] ||
                    pps.top_left[g] % widthInMbs > pps.bottom_right[g] % widthInMbs)
                    return broken("slice group " + std::to_string(g) + " rectangle lies outside the picture");
            }
            foreground(pps, widthInMbs, map);
            return {};
        case 3:
            if (groups != 2) return broken("box-out needs two slice groups");
            boxOut(pps, widthInMbs, heightInMbs, unitsInGroup0, map);
            return {};
        case 4:
        case 5:
            if (groups != 2) return broken("raster scan and wipe need two slice groups");
            rasterOrWipe(pps, widthInMbs, heightInMbs, unitsInGroup0, pps.slice_group_map_type == 5, map);
            return {};
        case 6:
            if (pps.slice_group_id.size() != static_cast<std::size_t>(size))
                return broken("explicit slice group map has " + std::to_string(pps.slice_group_id.size()) +
                              " map units, the picture " + std::to_string(size));
            for (int i = 0; i < size; ++i) map[i] = static_cast<std::uint8_t>(pps.slice_group_id[i]);
            return {};
        default:
            return broken("slice_group_map_type " + std::to_string(pps.slice_group_map_type));
    }
}

int nextMbAddress(const std::vector<std::uint8_t>& map, int n)
{
    const int size = static_cast<int>(map.size());
    int i = n + 1;
    while (i < size && map[i] != map[n]) ++i;
    return i;
}

} // namespace kestrune::codec
