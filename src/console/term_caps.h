// What a terminal can do, by its TERM name: the character set, the window,
// how its erases colour the cells they blank, and which sequences it takes.
#pragma once

#include <cstdint>
#include <string_view>

#include "console/grid.h"

namespace q7t {

// What an erase (ECH, EL, ED, a scroll, DCH, ICH) leaves in the cells it
// blanks, besides the terminal's own colours, which every terminal erases
// exactly.
enum class EraseColours : std::uint8_t {
  kBackground,  // the background in force, with a foreground of the terminal's choosing
  kBoth,        // the foreground and background in force
  kBothNormal,  // the same, a bright foreground as its normal one (the Linux console)
};

struct TermCaps {
  bool utf8 = true;        // show CP437 bytes as their Unicode glyphs in UTF-8
  int rows = kScreenRows;  // the terminal window; only what fits is drawn
  int cols = kScreenCols;
  EraseColours erase = EraseColours::kBackground;
  // REP (CSI n b) may be sent: the picture is right without it too, only
  // the foreground of the blanks it writes would differ.
  bool repeat = true;
  // SU/SD scroll a region; without them, DL/IL at the region's top do.
  bool scroll_sequences = true;
  // The Linux console's colours: SGR 90-97 also turn on bold, which stays
  // until SGR 22; a bright background is the blink attribute (SGR 5 until
  // SGR 25), as SGR 100-107 there give the normal background.
  bool bright_by_attributes = false;

  // Whether an erase in colours `a` shows them exactly (the terminal's own
  // colours are erased exactly everywhere).
  bool EraseExact(Attr a) const {
    if (a == kTermDefaultAttr) return true;
    switch (erase) {
      case EraseColours::kBoth:
        return true;
      case EraseColours::kBothNormal:
        return (a & 0x08) == 0;
      case EraseColours::kBackground:
        break;
    }
    return false;
  }
};

// What the terminal named by TERM can do; an unknown or empty name gets
// what every ECMA-48 terminal has.
TermCaps CapsForTerm(std::string_view term);

}  // namespace q7t
