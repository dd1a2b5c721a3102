#include "runner/nal_colours.h"

namespace kestrune {

std::uint32_t nalLabelRgb(const QString& labelText)
{
    return nalLabelRgb(nalLabelFromText(labelText));
}

} // namespace kestrune
