// One flush's window: the part of the grid it shows and what the terminal
// can do there.
#pragma once

#include "console/cell_compare.h"
#include "console/term_caps.h"

namespace q7t::paint {

// The part of the grid the window shows, and the terminal: its window
// (`caps.rows` x `caps.cols`) and what it can do.
struct View {
  TermCaps caps;
  int rows = 0, cols = 0;
  bool EraseExact(Attr a) const { return caps.EraseExact(a); }
  // What an erase in `fill` leaves in a cell: marked when the terminal may
  // not show exactly those colours there.
  Cell ErasedCell(Attr fill) const {
    return {' ', EraseExact(fill) ? fill : static_cast<Attr>(fill | kErasedFlag)};
  }
  // Erasing to the end of a line (or screen) also reaches window cells
  // outside the grid: only the terminal's own colours may go there.
  bool EraseLineOk(Attr a) const { return a == kTermDefaultAttr || caps.cols <= cols; }
  bool EraseBelowOk(Attr a) const {
    return a == kTermDefaultAttr || (caps.cols <= cols && caps.rows <= rows);
  }
};

}  // namespace q7t::paint
