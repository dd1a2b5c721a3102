#pragma once
// Plain views of a decoded 4:2:0 picture and its macroblock states, shared by
// the loss detection and the concealment methods. No ownership, no codec types.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrune::decode {

struct Plane {
    std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;

    std::uint8_t& at(int x, int y) const { return data[y * stride + x]; }
};

// A picture whose planes cover whole macroblocks: luma 16 x mbWidth wide,
// chroma half of that.
struct Picture {
    Plane luma;
    Plane cb;
    Plane cr;
    int mbWidth = 0;
    int mbHeight = 0;
};

enum class MbState : std::uint8_t { Correct, Lost, Concealed };

struct MbGrid {
    int width = 0;
    int height = 0;
    std::vector<MbState> states;

    MbGrid() = default;
    MbGrid(int w, int h, MbState fill = MbState::Correct)
        : width(w), height(h), states(std::size_t(w) * std::size_t(h), fill) {}
    MbState& at(int x, int y) { return states[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }
    MbState at(int x, int y) const { return states[std::size_t(y) * std::size_t(width) + std::size_t(x)]; }
    bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
    int count(MbState s) const;
};

} // namespace kestrune::decode
