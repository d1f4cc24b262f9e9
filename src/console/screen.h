// The console screen as a model in memory: the truth that the terminal is
// brought in line with. Carries out every screen rule: wrap, pending wrap at
// the bottom-right cell, scrolling at row 25, tabs, backspace, line feed,
// carriage return. No I/O, no clock.
#pragma once

#include <functional>
#include <string_view>

#include "console/grid.h"

namespace q7t {

class Screen {
 public:
  Screen() = default;

  // Makes the grid cols x rows (cells kept where they fit), drops a pending
  // wrap, cursor to row 1, column 1.
  void SetSize(int cols, int rows);
  // Every cell blank in the current attribute, cursor to 1,1, pending wrap dropped.
  void Clear();
  // row/col 0 keep that coordinate; out of range leaves the position alone.
  // mode < 0 keeps visibility, 0 hides, > 0 shows. Always drops a pending wrap.
  void MoveCursor(int row, int col, int mode);
  void SetAttr(Attr attr) { attr_ = attr; }
  Attr CurrentAttr() const { return attr_; }
  void SetCursorVisible(bool visible) { grid_.cursor_visible = visible; }
  bool CursorVisible() const { return grid_.cursor_visible; }

  // Writes bytes at the cursor. `bell` is called for each byte 7, after the
  // bytes before it are in the model.
  void PrintText(std::string_view bytes, const std::function<void()>& bell = {});
  // Carries out a pending wrap, if any (the first step of every write).
  void CarryOutPendingWrap();
  // Moves the content up one row; the new bottom row is blank in the current attribute.
  void ScrollUp();

  int CursorRow() const { return grid_.cursor_row; }
  int CursorCol() const { return grid_.cursor_col; }
  bool PendingWrap() const { return pending_wrap_; }
  int Rows() const { return grid_.rows; }
  int Cols() const { return grid_.cols; }
  const Grid& grid() const { return grid_; }
  const Cell& At(int row, int col) const { return grid_.At(row, col); }

 private:
  void PutChar(std::uint8_t ch, bool last);
  void NextRow();  // column 1 of the next row, scrolling below the last row

  Grid grid_;
  Attr attr_ = kTermDefaultAttr;
  bool pending_wrap_ = false;
};

}  // namespace q7t
