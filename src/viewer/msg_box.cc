#include "viewer/msg_box.h"

#include <array>
#include <cstdint>
#include <string>

#include "console/console.h"

namespace q7t {

namespace {

constexpr int kLineCells = 78;   // columns 2..79
constexpr int kBlankCells = 79;  // removal blanks columns 1..79

// What was current when a line was last drawn on a row.
struct RowSlot {
  std::int32_t fg = 0;
  std::int32_t bg = 0;
  std::int32_t cursor_row = 0;
  std::int32_t cursor_col = 0;
};

std::array<RowSlot, kMsgBoxLastRow + 1>& RowSlots() {
  static std::array<RowSlot, kMsgBoxLastRow + 1> slots{};
  return slots;
}

bool HasSlot(int row) {
  return row >= kMsgBoxFirstRow && row <= kMsgBoxLastRow;
}

// One blank, then the text cut or blank-filled to 77 characters.
std::string MessageLine(std::string_view text) {
  std::string line(kLineCells, ' ');
  std::string_view shown = text.substr(0, kLineCells - 1);
  for (std::size_t i = 0; i < shown.size(); ++i) {
    char c = shown[i];
    bool acted_on = c == '\a' || c == '\b' || c == '\t' || c == '\n' || c == '\r';
    line[i + 1] = acted_on ? ' ' : c;
  }
  return line;
}

void SaveRow(RowSlot& slot) {
  auto [fg, bg] = GetColor();
  slot = {fg, bg, CursorRow(), CursorCol()};
}

void RemoveLine(int row, const RowSlot& slot) {
  SetColor(slot.fg, slot.bg);
  MoveCursor(row, 1, -1);
  PrintText(std::string(kBlankCells, ' '));
  MoveCursor(slot.cursor_row, slot.cursor_col, -1);
}

}  // namespace

void MsgBox(int mode, int row, int bg, int fg, std::string_view text) {
  if (!HasSlot(row)) return;
  RowSlot& slot = RowSlots()[row];
  if (mode == 1) {
    RemoveLine(row, slot);
    return;
  }
  if (mode == 0) SaveRow(slot);
  SetColor(fg, bg);
  MoveCursor(row, 2, -1);
  PrintText(MessageLine(text));
}

void ErrorBox(int row, int bg, int fg, std::string_view text, KeyCode& key) {
  if (!HasSlot(row)) {
    key.clear();
    return;
  }
  MsgBox(0, row, bg, fg, text);
  key = WaitKey();
  // Home as delivered, not upper-cased: the line stays and the program ends.
  if (key == KeyHome) {
    ResetScreen();
    EndProgram(0);
  }
  MsgBox(1, row, bg, fg, text);
}

void ResetScreen() {
  SetColor(7, DefaultBackColor);
  ClearScreen();
}

}  // namespace q7t
