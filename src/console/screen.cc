#include "console/screen.h"

#include <algorithm>

namespace q7t {

namespace {
constexpr std::uint8_t kBell = 7, kBackspace = 8, kTab = 9, kLineFeed = 10, kReturn = 13;
constexpr int kTabWidth = 8;
}  // namespace

void Screen::SetSize(int cols, int rows) {
  cols = std::max(cols, 1);
  rows = std::max(rows, 1);
  if (cols != grid_.cols || rows != grid_.rows) {
    std::vector<Cell> cells(static_cast<std::size_t>(cols) * rows);
    for (int r = 1; r <= std::min(rows, grid_.rows); ++r) {
      for (int c = 1; c <= std::min(cols, grid_.cols); ++c) {
        cells[(r - 1) * cols + (c - 1)] = grid_.At(r, c);
      }
    }
    grid_.cells = std::move(cells);
    grid_.cols = cols;
    grid_.rows = rows;
  }
  pending_wrap_ = false;
  grid_.cursor_row = 1;
  grid_.cursor_col = 1;
}

void Screen::Clear() {
  std::fill(grid_.cells.begin(), grid_.cells.end(), Cell{' ', attr_});
  grid_.cursor_row = 1;
  grid_.cursor_col = 1;
  pending_wrap_ = false;
}

void Screen::MoveCursor(int row, int col, int mode) {
  pending_wrap_ = false;
  if (mode == 0) grid_.cursor_visible = false;
  if (mode > 0) grid_.cursor_visible = true;
  bool row_ok = row == 0 || (row >= 1 && row <= grid_.rows);
  bool col_ok = col == 0 || (col >= 1 && col <= grid_.cols);
  if (!row_ok || !col_ok) return;
  if (row != 0) grid_.cursor_row = row;
  if (col != 0) grid_.cursor_col = col;
}

void Screen::ScrollUp() {
  auto cols = static_cast<std::ptrdiff_t>(grid_.cols);
  std::move(grid_.cells.begin() + cols, grid_.cells.end(), grid_.cells.begin());
  std::fill(grid_.cells.end() - cols, grid_.cells.end(), Cell{' ', attr_});
}

void Screen::NextRow() {
  grid_.cursor_col = 1;
  if (grid_.cursor_row < grid_.rows) {
    ++grid_.cursor_row;
  } else {
    ScrollUp();
  }
}

void Screen::CarryOutPendingWrap() {
  if (!pending_wrap_) return;
  pending_wrap_ = false;
  NextRow();
}

// A character into the cell at the cursor; `last` says it ends the write, so a
// character in the bottom-right cell leaves the wrap pending instead of scrolling.
void Screen::PutChar(std::uint8_t ch, bool last) {
  grid_.At(grid_.cursor_row, grid_.cursor_col) = Cell{ch, attr_};
  if (grid_.cursor_col < grid_.cols) {
    ++grid_.cursor_col;
  } else if (last && grid_.cursor_row == grid_.rows) {
    pending_wrap_ = true;
  } else {
    NextRow();
  }
}

void Screen::PrintText(std::string_view bytes, const std::function<void()>& bell) {
  if (bytes.empty()) return;
  CarryOutPendingWrap();
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    auto byte = static_cast<std::uint8_t>(bytes[i]);
    bool last = i + 1 == bytes.size();
    switch (byte) {
      case kBell:
        if (bell) bell();
        break;
      case kBackspace:
        if (grid_.cursor_col > 1) --grid_.cursor_col;
        break;
      case kTab: {
        int blanks = kTabWidth - (grid_.cursor_col - 1) % kTabWidth;
        for (int b = 1; b <= blanks; ++b) PutChar(' ', last && b == blanks);
        break;
      }
      case kLineFeed:
        NextRow();
        break;
      case kReturn:
        grid_.cursor_col = 1;
        break;
      default:
        PutChar(byte, last);
        break;
    }
  }
}

}  // namespace q7t
