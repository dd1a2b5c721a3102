#include "tools/codec/picture.h"

#include <algorithm>

namespace kestrune::codec {

Picture::Picture(int widthInMbs, int heightInMbs)
    : widthInMbs_(widthInMbs), heightInMbs_(heightInMbs),
      samples_(static_cast<std::size_t>(widthInMbs) * static_cast<std::size_t>(heightInMbs) * 384)
{
}

std::uint8_t* Picture::mbOrigin(int p, int mbAddr)
{
    int size = p == kLuma ? 16 : 8;
    return plane(p).row((mbAddr / widthInMbs_) * size) + (mbAddr % widthInMbs_) * size;
}

const std::uint8_t* Picture::mbOrigin(int p, int mbAddr) const
{
    int size = p == kLuma ? 16 : 8;
    return plane(p).row((mbAddr / widthInMbs_) * size) + (mbAddr % widthInMbs_) * size;
}

void Picture::fill(std::uint8_t value)
{
    std::fill(samples_.begin(), samples_.end(), value);
}

} // namespace kestrune::codec
