#pragma once
// An owned 4:2:0 picture of whole macroblocks for concealment tests.
#include "tools/decode/picture.h"

#include <functional>
#include <vector>

namespace kestrune::decode::test {

struct OwnedPicture {
    int mbWidth, mbHeight;
    std::vector<std::uint8_t> y, u, v;

    OwnedPicture(int mbW, int mbH)
        : mbWidth(mbW), mbHeight(mbH), y(std::size_t(mbW * 16 * mbH * 16)),
          u(std::size_t(mbW * 8 * mbH * 8)), v(u.size()) {}

    Picture view()
    {
        Picture p;
        p.mbWidth = mbWidth;
        p.mbHeight = mbHeight;
        p.luma = {y.data(), mbWidth * 16, mbHeight * 16, mbWidth * 16};
        p.cb = {u.data(), mbWidth * 8, mbHeight * 8, mbWidth * 8};
        p.cr = {v.data(), mbWidth * 8, mbHeight * 8, mbWidth * 8};
        return p;
    }

    // Luma from f(x, y); chroma from f at the co-sited luma position.
    void paint(const std::function<int(int, int)>& f)
    {
        Picture p = view();
        for (int r = 0; r < p.luma.height; ++r)
            for (int c = 0; c < p.luma.width; ++c) p.luma.at(c, r) = std::uint8_t(f(c, r));
        for (int r = 0; r < p.cb.height; ++r)
            for (int c = 0; c < p.cb.width; ++c) {
                p.cb.at(c, r) = std::uint8_t(f(2 * c, 2 * r) / 2 + 30);
                p.cr.at(c, r) = std::uint8_t(255 - f(2 * c, 2 * r) / 2);
            }
    }

    void fillMacroblock(int mbX, int mbY, std::uint8_t value)
    {
        Picture p = view();
        for (int r = 0; r < 16; ++r)
            for (int c = 0; c < 16; ++c) p.luma.at(mbX * 16 + c, mbY * 16 + r) = value;
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c) p.cb.at(mbX * 8 + c, mbY * 8 + r) = p.cr.at(mbX * 8 + c, mbY * 8 + r) = value;
    }

    // Largest absolute difference in the macroblock between this picture and another.
    int maxDifference(const OwnedPicture& other, int mbX, int mbY)
    {
        int worst = 0;
        for (int r = 0; r < 16; ++r)
            for (int c = 0; c < 16; ++c) {
                std::size_t i = std::size_t((mbY * 16 + r) * mbWidth * 16 + mbX * 16 + c);
                worst = std::max(worst, std::abs(int(y[i]) - int(other.y[i])));
            }
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c) {
                std::size_t i = std::size_t((mbY * 8 + r) * mbWidth * 8 + mbX * 8 + c);
                worst = std::max({worst, std::abs(int(u[i]) - int(other.u[i])), std::abs(int(v[i]) - int(other.v[i]))});
            }
        return worst;
    }
};

} // namespace kestrune::decode::test
