// Line entry on the console: a prompt, a line typed and edited in place,
// and the value taken from it.
#pragma once

#include <string>
#include <string_view>

namespace q7t {

// Writes `prompt` and "? ", then lets the user type and edit a line until
// Enter: returns the value TakeInputValue takes from it.
std::string InputLine(std::string_view prompt);

// The value that line entry takes from a typed line: leading blanks skipped,
// a quoted value up to its closing quote, else up to the first comma; at most
// 4096 characters.
std::string TakeInputValue(std::string_view line);

}  // namespace q7t
