// Text operations shared by every screen: upper-casing, fixed-width decimal
// and hexadecimal number texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace q7t {

// A copy of `text` with a..z turned into A..Z; every other byte and the length stay.
std::string UpperCase(std::string_view text);

// The decimal text of `value` in exactly `width` characters: zero-filled,
// width copies of "E" when a non-negative value exceeds width nines, "-" and the
// last width - 1 digits for a negative value. Widths below 1 give the empty text.
std::string FmtFixedDec(std::int32_t value, int width);

// `value` taken as unsigned 32-bit, in upper-case hexadecimal without leading
// zeros ("0" for zero, so -8 gives "FFFFFFF8").
std::string HexText(std::int64_t value);

// Plain decimal: digits, a leading minus for a negative value, nothing else.
std::string DecText(std::int64_t value);

}  // namespace q7t
