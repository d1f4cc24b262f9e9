// The message line and the error box on the console model: cells, colours
// and cursor before and after, the keys that return and the one that ends.
#include "viewer/msg_box.h"

#include <gtest/gtest.h>

#include <string>

#include "viewer/viewer_testing.h"

namespace q7t {
namespace {

using test::ProgramEnded;

class MsgBoxTest : public test::ConsoleTest {
 protected:
  // Row 24 full of 'x' in 2 on 3; then colours 5 on 6 and the cursor at 10,20.
  void Prepare() {
    SetColor(2, 3);
    MoveCursor(24, 1, -1);
    PrintText(std::string(80, 'x'));
    SetColor(5, 6);
    MoveCursor(10, 20, -1);
  }
  // The state Prepare left, with the line removed again.
  void ExpectRestored(const std::string& name) {
    EXPECT_EQ(Text(24, 1, 79), std::string(79, ' ')) << name;
    EXPECT_TRUE(AllAttr(24, 1, 79, ColorAttr(5, 6))) << name;
    EXPECT_EQ(At(24, 80).ch, 'x') << name;
    EXPECT_EQ(At(24, 80).attr, ColorAttr(2, 3)) << name;
    EXPECT_EQ(CursorRow(), 10) << name;
    EXPECT_EQ(CursorCol(), 20) << name;
    EXPECT_EQ(GetColor(), std::make_pair(5, 6)) << name;
  }
};

TEST_F(MsgBoxTest, DrawsSeventySevenCharactersAndRemoves) {
  const std::string k77(77, 'a');
  const std::string k100 = std::string(77, 'b') + std::string(23, 'c');
  struct Case {
    const char* name;
    std::string text;
    std::string shown;  // columns 3..79
  } const kCases[] = {
      {"empty", "", std::string(77, ' ')},
      {"short", "Hi", "Hi" + std::string(75, ' ')},
      {"exactly 77", k77, k77},
      {"100 cut to 77", k100, std::string(77, 'b')},
      {"bytes the console acts on", "a\tb\nc\rd\be\a", "a b c d e " + std::string(67, ' ')},
      {"high and zero bytes kept", std::string("\xF8\x00z", 3),
       std::string("\xF8\x00z", 3) + std::string(74, ' ')},
  };
  for (const Case& c : kCases) {
    Restart();
    Prepare();
    MsgBox(0, 24, 12, 15, c.text);
    EXPECT_EQ(At(24, 1).ch, 'x') << c.name;
    EXPECT_EQ(At(24, 1).attr, ColorAttr(2, 3)) << c.name;
    EXPECT_EQ(Text(24, 2, 2), " ") << c.name;
    EXPECT_EQ(Text(24, 3, 79), c.shown) << c.name;
    EXPECT_TRUE(AllAttr(24, 2, 79, ColorAttr(15, 12))) << c.name;
    EXPECT_EQ(At(24, 80).ch, 'x') << c.name;
    EXPECT_EQ(At(24, 80).attr, ColorAttr(2, 3)) << c.name;
    EXPECT_EQ(CursorRow(), 24) << c.name;
    EXPECT_EQ(CursorCol(), 80) << c.name;
    EXPECT_EQ(GetColor(), std::make_pair(15, 12)) << c.name;

    MsgBox(1, 24, 0, 0, "ignored");
    ExpectRestored(c.name);
  }
}

TEST_F(MsgBoxTest, RowsKeepTheirSlotsApart) {
  SetColor(1, 2);
  MoveCursor(3, 4, -1);
  MsgBox(0, 5, 12, 15, "five");
  SetColor(9, 10);
  MoveCursor(11, 12, -1);
  MsgBox(0, 6, 12, 15, "six");

  MsgBox(1, 5, 0, 0, "");
  EXPECT_EQ(GetColor(), std::make_pair(1, 2));
  EXPECT_EQ(CursorRow(), 3);
  EXPECT_EQ(CursorCol(), 4);
  EXPECT_TRUE(AllAttr(5, 1, 79, ColorAttr(1, 2)));
  EXPECT_EQ(Text(6, 3, 5), "six");

  MsgBox(1, 6, 0, 0, "");
  EXPECT_EQ(GetColor(), std::make_pair(9, 10));
  EXPECT_EQ(CursorRow(), 11);
  EXPECT_EQ(CursorCol(), 12);
  EXPECT_TRUE(AllAttr(6, 1, 79, ColorAttr(9, 10)));
}

// Row 0 has a slot; MoveCursor(0, ...) keeps the cursor's row, so the line
// lands on the row the cursor is on.
TEST_F(MsgBoxTest, RowZeroIsTheCursorRow) {
  MoveCursor(7, 30, -1);
  MsgBox(0, 0, 12, 15, "zero");
  EXPECT_EQ(Text(7, 2, 6), " zero");
  MsgBox(1, 0, 0, 0, "");
  EXPECT_EQ(Text(7, 1, 79), std::string(79, ' '));
  EXPECT_EQ(CursorRow(), 7);
  EXPECT_EQ(CursorCol(), 30);
}

TEST_F(MsgBoxTest, RowWithoutSlotChangesNothing) {
  Prepare();
  const Grid before = ConsoleScreen().grid();
  for (int row : {-1, 26, 1000}) {
    MsgBox(0, row, 12, 15, "nowhere");
    MsgBox(1, row, 12, 15, "nowhere");
    EXPECT_EQ(ConsoleScreen().grid(), before) << row;
    EXPECT_EQ(GetColor(), std::make_pair(5, 6)) << row;
  }
  // The error box neither shows nor waits: the typed key stays for the next reader.
  term_.Type("q");
  KeyCode key = "old";
  ErrorBox(26, 12, 15, "nowhere", key);
  EXPECT_EQ(key, "");
  EXPECT_EQ(ConsoleScreen().grid(), before);
  EXPECT_EQ(WaitKey(), "q");
}

TEST_F(MsgBoxTest, ErrorBoxReturnsEveryKeyButHome) {
  struct Case {
    const char* name;
    std::string typed;
    KeyCode key;
  } const kCases[] = {
      {"Esc", test::kEsc, "\x1b"},
      {"Enter", "\r", "\r"},
      {"letter as delivered", "x", "x"},
      {"Ctrl+F10 is not upper-cased into anything", test::kCtrlF10, "\xFF\x67"},
      {"End", test::kEnd, "\xFF\x4F"},
  };
  for (const Case& c : kCases) {
    Restart();
    Prepare();
    term_.Type(c.typed);
    KeyCode key;
    ErrorBox(24, 12, 15, "ViewTxtArray: Txl Array Rd Overflow7", key);
    EXPECT_EQ(key, c.key) << c.name;
    ExpectRestored(c.name);
  }
}

TEST_F(MsgBoxTest, HomeAtTheErrorLineEndsTheProgram) {
  Prepare();
  term_.Type(test::kHome);
  KeyCode key;
  try {
    ErrorBox(24, 12, 15, "ViewTxtArray: Txl Array Overflow", key);
    FAIL() << "ErrorBox returned";
  } catch (const ProgramEnded& ended) {
    EXPECT_EQ(ended.status, 0);
  }
  for (int row = 1; row <= 25; ++row) {
    EXPECT_EQ(Text(row), std::string(80, ' ')) << row;
    EXPECT_TRUE(AllAttr(row, 1, 80, ColorAttr(7, 0))) << row;
  }
  EXPECT_EQ(CursorRow(), 1);
  EXPECT_EQ(CursorCol(), 1);
}

}  // namespace
}  // namespace q7t
