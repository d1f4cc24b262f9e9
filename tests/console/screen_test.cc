// The screen rules on the cell model: wrap, pending wrap, scrolling, tabs,
// backspace, clears and cursor moves.
#include "console/screen.h"

#include <gtest/gtest.h>

#include <string>

namespace q7t {
namespace {

std::string RowText(const Screen& s, int row) {
  std::string text;
  for (int c = 1; c <= s.Cols(); ++c) text.push_back(static_cast<char>(s.At(row, c).ch));
  return text;
}

// Puts a recognisable letter at column 1 of every row, so scrolling shows.
void MarkRows(Screen& s) {
  for (int r = 1; r <= 25; ++r) {
    s.MoveCursor(r, 1, -1);
    s.PrintText(std::string(1, static_cast<char>('A' + r - 1)));
  }
}

TEST(Screen, BottomRightWriteWaitsForTheNextWrite) {
  Screen s;
  MarkRows(s);
  s.MoveCursor(25, 1, -1);
  s.PrintText(std::string(80, 'x'));
  EXPECT_TRUE(s.PendingWrap());
  EXPECT_EQ(s.CursorRow(), 25);
  EXPECT_EQ(s.CursorCol(), 80);
  EXPECT_EQ(s.At(1, 1).ch, 'A') << "screen must not move yet";

  // A cursor move drops the pending wrap and nothing scrolls.
  s.MoveCursor(1, 1, -1);
  EXPECT_FALSE(s.PendingWrap());
  EXPECT_EQ(s.At(1, 1).ch, 'A');

  // Instead, a further write first moves the screen up.
  s.MoveCursor(25, 1, -1);
  s.PrintText(std::string(80, 'y'));
  s.PrintText("z");
  EXPECT_EQ(s.At(1, 1).ch, 'B');
  EXPECT_EQ(RowText(s, 24), std::string(80, 'y'));
  EXPECT_EQ(s.At(25, 1).ch, 'z');
  EXPECT_EQ(s.CursorRow(), 25);
  EXPECT_EQ(s.CursorCol(), 2);
}

TEST(Screen, WhatDropsOrKeepsAPendingWrap) {
  struct Case {
    const char* name;
    void (*action)(Screen&);
    bool pending_after;
    bool scrolled;
  };
  const Case kCases[] = {
      {"empty text", [](Screen& s) { s.PrintText(""); }, true, false},
      {"clear", [](Screen& s) { s.Clear(); }, false, false},
      {"set size", [](Screen& s) { s.SetSize(80, 25); }, false, false},
      {"move out of range", [](Screen& s) { s.MoveCursor(26, 1, -1); }, false, false},
      {"bell only", [](Screen& s) { s.PrintText("\x07"); }, false, true},
      {"line end", [](Screen& s) { s.PrintText("\r\n"); }, false, true},
  };
  for (const Case& c : kCases) {
    Screen s;
    MarkRows(s);
    s.MoveCursor(25, 80, -1);
    s.PrintText("q");
    ASSERT_TRUE(s.PendingWrap());
    c.action(s);
    EXPECT_EQ(s.PendingWrap(), c.pending_after) << c.name;
    if (std::string(c.name) != "clear") {
      EXPECT_EQ(s.At(1, 1).ch != 'A', c.scrolled) << c.name;
    }
  }
}

TEST(Screen, CharacterInLastColumnOfRow25FollowedByMoreTextScrollsAtOnce) {
  Screen s;
  MarkRows(s);
  s.MoveCursor(25, 80, -1);
  s.PrintText("\xDB\x07");  // a character, then a bell: the write does not end on the character
  EXPECT_FALSE(s.PendingWrap());
  EXPECT_EQ(s.At(1, 1).ch, 'B');
  EXPECT_EQ(s.At(24, 80).ch, 0xDB);
  EXPECT_EQ(s.CursorRow(), 25);
  EXPECT_EQ(s.CursorCol(), 1);
}

TEST(Screen, LineEnds) {
  Screen s;
  // A line of exactly 80 characters has already wrapped: the line end adds a second row.
  s.MoveCursor(10, 1, -1);
  s.PrintText(std::string(80, 'x'));
  s.PrintText("\r\n");
  EXPECT_EQ(s.CursorRow(), 12);
  EXPECT_EQ(s.CursorCol(), 1);
  EXPECT_EQ(RowText(s, 11), std::string(80, ' '));

  // A short line on row 25 moves the screen up at once.
  MarkRows(s);
  s.MoveCursor(25, 1, -1);
  s.PrintText("end");
  s.PrintText("\r\n");
  EXPECT_EQ(s.At(1, 1).ch, 'B');
  EXPECT_EQ(RowText(s, 24).substr(0, 3), "end");
  EXPECT_EQ(RowText(s, 25), std::string(80, ' '));
  EXPECT_EQ(s.CursorRow(), 25);
  EXPECT_EQ(s.CursorCol(), 1);
}

TEST(Screen, TabStops) {
  struct Case {
    int col;
    int blanks;
    int end_row, end_col;
  };
  const Case kCases[] = {{1, 8, 5, 9},  {2, 7, 5, 9},  {9, 8, 5, 17}, {73, 8, 6, 1},
                         {75, 6, 6, 1}, {80, 1, 6, 1}, {72, 1, 5, 73}};
  for (const Case& c : kCases) {
    Screen s;
    s.MoveCursor(5, 1, -1);
    s.PrintText(std::string(80, '.'));
    s.MoveCursor(5, c.col, -1);
    s.PrintText("\t");
    int blanks = 0;
    for (int col = c.col; col <= 80; ++col) blanks += s.At(5, col).ch == ' ';
    EXPECT_EQ(blanks, c.blanks) << "tab at column " << c.col;
    EXPECT_EQ(s.CursorRow(), c.end_row) << "tab at column " << c.col;
    EXPECT_EQ(s.CursorCol(), c.end_col) << "tab at column " << c.col;
  }
  // The last blank of a tab in the bottom-right cell leaves the wrap pending.
  Screen s;
  s.MoveCursor(25, 75, -1);
  s.PrintText("\t");
  EXPECT_TRUE(s.PendingWrap());
}

TEST(Screen, ControlBytes) {
  Screen s;
  s.MoveCursor(3, 10, -1);
  s.PrintText("\x08");
  EXPECT_EQ(s.CursorCol(), 9);
  s.MoveCursor(3, 1, -1);
  s.PrintText("\x08");
  EXPECT_EQ(s.CursorCol(), 1);

  s.MoveCursor(3, 1, -1);
  s.PrintText("abc\rX");
  EXPECT_EQ(RowText(s, 3).substr(0, 3), "Xbc");
  s.PrintText("\nY");
  EXPECT_EQ(s.At(4, 1).ch, 'Y') << "line feed goes to column 1 of the next row";

  // 0, 11 and 12 are written as glyphs; a bell writes nothing and calls back.
  int bells = 0;
  s.MoveCursor(6, 1, -1);
  s.PrintText(std::string("\x00\x0B\x0C\x07", 4), [&] { ++bells; });
  EXPECT_EQ(s.At(6, 1).ch, 0x00);
  EXPECT_EQ(s.At(6, 2).ch, 0x0B);
  EXPECT_EQ(s.At(6, 3).ch, 0x0C);
  EXPECT_EQ(s.CursorCol(), 4);
  EXPECT_EQ(bells, 1);
}

TEST(Screen, ClearAndScrollUseTheCurrentAttribute) {
  Screen s;
  s.SetAttr(0x1F);
  s.PrintText("hello");
  s.Clear();
  EXPECT_EQ(s.At(1, 1), (Cell{' ', 0x1F}));
  EXPECT_EQ(s.At(25, 80), (Cell{' ', 0x1F}));
  EXPECT_EQ(s.CursorRow(), 1);
  s.SetAttr(0x4E);
  s.MoveCursor(25, 1, -1);
  s.PrintText("\r\n");
  EXPECT_EQ(s.At(25, 1).attr, 0x4E);
  EXPECT_EQ(s.At(24, 1).attr, 0x1F);
}

TEST(Screen, MoveCursorRanges) {
  Screen s;
  s.MoveCursor(5, 5, -1);
  s.MoveCursor(26, 1, -1);
  EXPECT_EQ(s.CursorRow(), 5);
  s.MoveCursor(1, 81, 0);
  EXPECT_EQ(s.CursorCol(), 5);
  EXPECT_FALSE(s.CursorVisible()) << "the visibility part applies even out of range";
  s.MoveCursor(0, 7, 1);
  EXPECT_EQ(s.CursorRow(), 5);
  EXPECT_EQ(s.CursorCol(), 7);
  EXPECT_TRUE(s.CursorVisible());
  s.MoveCursor(-1, 0, -1);
  EXPECT_EQ(s.CursorCol(), 7);
}

}  // namespace
}  // namespace q7t
