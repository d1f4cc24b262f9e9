// The picture of the screen as plain data: cells, cursor and its visibility.
// The cell model fills it; the renderer brings a terminal in line with it.
#pragma once

#include <cstdint>
#include <vector>

namespace q7t {

inline constexpr int kScreenCols = 80;
inline constexpr int kScreenRows = 25;

// A colour attribute is foreground + 16 x background (colour numbers 0..15),
// or kTermDefaultAttr: the terminal's own default colours, in force until the
// program first sets or reads a colour pair.
using Attr = std::uint16_t;
inline constexpr Attr kTermDefaultAttr = 0x100;

struct Cell {
  std::uint8_t ch = ' ';  // a byte of code page 437
  Attr attr = kTermDefaultAttr;
  bool operator==(const Cell&) const = default;
};

struct Grid {
  int rows = kScreenRows;
  int cols = kScreenCols;
  std::vector<Cell> cells = std::vector<Cell>(kScreenRows * kScreenCols);
  int cursor_row = 1;  // 1-based
  int cursor_col = 1;  // 1-based
  bool cursor_visible = true;

  Cell& At(int row, int col) { return cells[(row - 1) * cols + (col - 1)]; }
  const Cell& At(int row, int col) const { return cells[(row - 1) * cols + (col - 1)]; }
  bool operator==(const Grid&) const = default;
};

}  // namespace q7t
