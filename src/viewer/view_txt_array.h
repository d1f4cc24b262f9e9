// The text array viewer: shows lines 1..count of a line array on the whole
// 80 x 25 screen in a blue frame and scrolls them by line, four lines, page,
// to either end and sideways by column until Esc. Reports a count outside
// the array, and a line the array cannot give, through ErrorBox.
#pragma once

#include <cstdint>
#include <string_view>

#include "viewer/line_array.h"

namespace q7t {

// Reads `lines` and `count` and changes neither. Returns on Esc, leaving the
// last page on the screen and 7 on 0 as the current colours, or after an
// array error has been shown and a key other than Home pressed.
void ViewTxtArray(std::string_view title, const LineArray& lines, std::int32_t count);

}  // namespace q7t
