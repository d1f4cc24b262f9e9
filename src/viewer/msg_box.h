// The message line: a bar of 78 cells across one screen row in given colours,
// drawn and later removed with the colours and cursor from before put back;
// the error box built on it, and the reset of the screen before the end.
#pragma once

#include <string_view>

#include "console/key_codes.h"

namespace q7t {

// The rows that have a slot for the state saved under a message line.
inline constexpr int kMsgBoxFirstRow = 0;
inline constexpr int kMsgBoxLastRow = 25;

// mode 0: saves the current colours and cursor in the row's slot, then draws
// " " + text cut or blank-filled to 77 characters in fg on bg over columns
// 2..79 (column 1 and 80 untouched). mode 1: puts the slot's colours back,
// blanks columns 1..79 of the row, puts the cursor back. Any other mode
// draws without saving. Bytes the console would act on rather than show (7,
// 8, 9, 10, 13) are drawn as blanks, so the bar stays one row of 78 cells.
// A row outside 0..25 has no slot: the call does nothing. Row 0 means the
// cursor's own row, as MoveCursor takes it.
void MsgBox(int mode, int row, int bg, int fg, std::string_view text);

// Draws the message line, waits for a key and gives it back in `key` after
// removing the line. Home, compared as delivered, ends the program instead:
// ResetScreen, then exit status 0. A row outside 0..25 shows nothing, waits
// for nothing and gives back the empty key (no key).
void ErrorBox(int row, int bg, int fg, std::string_view text, KeyCode& key);

// Light grey on the default background, whole screen cleared, cursor at 1,1.
void ResetScreen();

}  // namespace q7t
