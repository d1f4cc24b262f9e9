// A real terminal emulator (libvterm) in memory: feed it the bytes a program
// writes, then read the cells back as the user would see them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct VTerm;
struct VTermScreen;

namespace q7t::test {

class VtermScreen {
 public:
  VtermScreen(int rows = 25, int cols = 80);
  ~VtermScreen();
  VtermScreen(const VtermScreen&) = delete;
  VtermScreen& operator=(const VtermScreen&) = delete;

  void Feed(std::string_view bytes);
  void Resize(int rows, int cols);

  // The text of row `row` (1-based), each cell's character as UTF-8 (a blank
  // for an empty cell), trailing blanks kept: exactly `cols` characters.
  std::string RowText(int row) const;
  // The Unicode code point of one cell (1-based), ' ' for an empty cell.
  char32_t CellChar(int row, int col) const;
  // Colours of one cell as PC colour numbers 0..15; -1 for the terminal's default.
  int CellFg(int row, int col) const;
  int CellBg(int row, int col) const;
  int CursorRow() const;  // 1-based
  int CursorCol() const;
  bool CursorVisible() const;
  int Rows() const { return rows_; }
  int Cols() const { return cols_; }
  // Bytes the emulator would answer with (replies to queries), drained.
  std::string TakeOutput();

 private:
  VTerm* vt_ = nullptr;
  VTermScreen* screen_ = nullptr;
  int rows_, cols_;
  bool cursor_visible_ = true;
  std::string output_;
  friend struct VtermCallbacks;
};

// "" when the emulator's cursor shows as wanted: its visibility, and when
// visible its place (clamped to the window); otherwise what differs.
std::string CursorMismatch(const VtermScreen& term, bool visible, int row, int col);

}  // namespace q7t::test
