#pragma once
// The integer syntax shared by the window's numeric fields and the tools'
// command lines: optional leading spaces, optional sign, then decimal digits
// (-2147483648..2147483647) or 1 to 8 significant hexadecimal digits after
// "$", "x", "X", "0x" or "0X" (any 32-bit pattern, taken as signed), and
// nothing after them.
#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrune {

std::optional<std::int32_t> parseInteger(std::string_view text);

inline bool isIntegerText(std::string_view text) { return parseInteger(text).has_value(); }

} // namespace kestrune
