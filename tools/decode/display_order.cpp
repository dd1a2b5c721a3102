#include "tools/decode/display_order.h"

#include <algorithm>
#include <numeric>

namespace kestrune::decode {

std::int64_t pocStep(std::int64_t knownStep, std::span<const std::optional<std::int64_t>> pocs)
{
    std::int64_t step = knownStep;
    if (pocs.empty() || !pocs[0]) return step;
    for (const auto& poc : pocs)
        if (poc) step = std::gcd(step, *poc - *pocs[0]);
    return step;
}

std::vector<std::size_t> displayOrder(std::span<const std::optional<std::int64_t>> pocs, std::int64_t step,
                                      bool freeCountsAreLost)
{
    std::vector<std::size_t> decodeOrder(pocs.size());
    std::iota(decodeOrder.begin(), decodeOrder.end(), std::size_t{0});
    if (pocs.empty() || !pocs[0] || step <= 0) return decodeOrder;
    // Pictures nothing refers to leave frame_num alone, so their loss shows
    // only here: positions beyond the pictures placed are pictures lost too,
    // within reason (a damaged count must not multiply the output).
    const std::size_t limit = 3 * pocs.size() + 16;
    std::size_t positions = pocs.size();
    for (const auto& poc : pocs) {
        if (!poc) continue;
        const std::int64_t distance = *poc - *pocs[0];
        if (distance < 0 || distance % step != 0 || std::uint64_t(distance / step) >= limit) return decodeOrder;
        positions = std::max(positions, std::size_t(distance / step) + 1);
    }
    constexpr std::size_t kFree = SIZE_MAX;
    std::vector<std::size_t> shown(positions, kFree);
    for (std::size_t i = 0; i < pocs.size(); ++i) {
        if (!pocs[i]) continue;
        const auto position = std::size_t((*pocs[i] - *pocs[0]) / step);
        if (shown[position] != kFree) return decodeOrder;
        shown[position] = i;
    }
    // Lost pictures repeat the frame before them: which free place each takes
    // changes no frame. Those the counts alone show get indices past the end.
    std::size_t lost = 0;
    for (std::size_t i = 0; i < pocs.size(); ++i)
        if (!pocs[i]) shown[std::size_t(std::find(shown.begin(), shown.end(), kFree) - shown.begin())] = i;
    if (!freeCountsAreLost) {
        std::erase(shown, kFree);
        return shown;
    }
    for (std::size_t& index : shown)
        if (index == kFree) index = pocs.size() + lost++;
    return shown;
}

} // namespace kestrune::decode
