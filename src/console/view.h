// One flush's window: the part of the grid it shows and what the terminal
// can do there.
#pragma once

#include "console/cell_compare.h"
#include "console/term_caps.h"

namespace q7t::paint {

// The part of the grid the window shows, the window itself, and what the
// terminal can do.
struct View {
  int rows = 0, cols = 0;
  int term_rows = 0, term_cols = 0;
  EraseColours erase = EraseColours::kBackground;
  bool repeat = true;
  bool scroll_sequences = true;
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
  Cell ErasedCell(Attr fill) const {
    return {' ', EraseExact(fill) ? fill : static_cast<Attr>(fill | kErasedFlag)};
  }
  // Erasing to the end of a line (or screen) also reaches window cells
  // outside the grid: only the terminal's own colours may go there.
  bool EraseLineOk(Attr a) const { return a == kTermDefaultAttr || term_cols <= cols; }
  bool EraseBelowOk(Attr a) const {
    return a == kTermDefaultAttr || (term_cols <= cols && term_rows <= rows);
  }
};

}  // namespace q7t::paint
