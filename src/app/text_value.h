// TextValue: the number a typed text stands for, as the menu reads baud
// rates (decimal) and mode entries (hexadecimal, through an "&H" prefix).
#pragma once

#include <string_view>

namespace q7t {

// Leading spaces skipped; "&H", "&O", "&B" (either case) and a bare "&" pick
// radix 16, 8, 2 and 8, digits accumulating in 64 bits with wrap-around;
// "0x"/"0X" gives 0; otherwise the longest leading decimal number (sign,
// digits, fraction, exponent by E, e, D or d); no number gives 0.
double TextValue(std::string_view text);

}  // namespace q7t
