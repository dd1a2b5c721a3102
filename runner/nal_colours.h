#pragma once
// Colours of the NAL unit map and its legend, as 0xRRGGBB values; they
// become QColors only where they are painted.
#include "runner/analyzer_interface.h"

#include <QString>
#include <array>
#include <cstdint>

namespace kestrune {

inline constexpr std::uint32_t kWhiteRgb = 0xFFFFFF;

// Fill colour of a map column by its type label: SEI yellow, SPS green,
// PPS lime, I red, P aqua, anything else white.
constexpr std::uint32_t nalLabelRgb(NalLabel label)
{
    switch (label) {
    case NalLabel::Sei: return 0xFFFF00;
    case NalLabel::Sps: return 0x008000;
    case NalLabel::Pps: return 0x00FF00;
    case NalLabel::I: return 0xFF0000;
    case NalLabel::P: return 0x00FFFF;
    case NalLabel::None: break;
    }
    return kWhiteRgb;
}
// The same decided on the cell's text, matched exactly (case-sensitive).
std::uint32_t nalLabelRgb(const QString& labelText);

struct LegendEntry {
    const char16_t* caption;
    std::uint32_t rgb;
};
// The legend beside the counters, in display order. B slices have a legend
// colour but are never coloured in the map.
inline constexpr std::array<LegendEntry, 7> kNalLegend = {{
    {u"SEI", nalLabelRgb(NalLabel::Sei)},
    {u"SPS", nalLabelRgb(NalLabel::Sps)},
    {u"PPS", nalLabelRgb(NalLabel::Pps)},
    {u"I-Slice", nalLabelRgb(NalLabel::I)},
    {u"P-Slice", nalLabelRgb(NalLabel::P)},
    {u"B-Slice", 0xA6CAF0},  // sky blue; B slices stay white in the map
    {u"Others", kWhiteRgb},
}};

} // namespace kestrune
