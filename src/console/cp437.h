// Code page 437: the console's 8-bit character set, and its Unicode glyphs.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace q7t {

// The Unicode code point shown for a CP437 byte: 0x00..0x1F as the CP437
// pictographs (0x00 as a blank), 0x7F as the house, 0xF8 as the degree sign.
char32_t Cp437ToUnicode(std::uint8_t byte);

// The UTF-8 form of that code point (1 to 3 bytes).
std::string_view Cp437ToUtf8(std::uint8_t byte);

// The CP437 byte whose glyph is `cp`, if any. Printable ASCII maps to itself.
std::optional<std::uint8_t> UnicodeToCp437(char32_t cp);

// Each byte's displayed form on a terminal: bytes that look the same share
// one canonical byte, so the renderer never rewrites a cell to the same picture.
struct GlyphTable {
  std::array<std::uint8_t, 256> canon;
  std::array<std::string_view, 256> text;  // the bytes written for a canonical byte
};

// The table for a terminal that takes UTF-8 (the Unicode glyphs), or for one
// that does not (the closest plain ASCII character).
const GlyphTable& Glyphs(bool utf8);

}  // namespace q7t
