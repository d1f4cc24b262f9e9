// Line entry through the console layer with a terminal in memory: the
// editing keys, the screen while typing, and the value taken from the line.
#include <gtest/gtest.h>

#include <string>

#include "console/console.h"
#include "console/screen.h"
#include "support/fake_terminal.h"

namespace q7t {
namespace {

class LineEntry : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallConsole(&term_);
    SetScreenSize(80, 25);
  }
  std::string Row(int row) {
    std::string text;
    for (int c = 1; c <= 80; ++c) text.push_back(static_cast<char>(ConsoleScreen().At(row, c).ch));
    return text;
  }
  std::string Enter(std::string keys, std::string_view prompt = "P") {
    term_.Type(keys);
    return InputLine(prompt);
  }
  test::FakeTerminal term_;
};

TEST_F(LineEntry, EditingKeys) {
  struct Case {
    const char* name;
    std::string keys;
    std::string value;
  };
  const std::string left = "\x1b[D", right = "\x1b[C", home = "\x1b[H", end = "\x1b[F",
                    del = "\x1b[3~", bs = "\x7f";
  const Case kCases[] = {
      {"plain", "9600\r", "9600"},
      {"insert, never overwrite", "9600" + left + left + "x\r", "96x00"},
      {"backspace", "96x" + bs + "00\r", "9600"},
      {"backspace at start does nothing", home + bs + "1\r", "1"},
      {"delete under cursor", "1234" + home + del + "\r", "234"},
      {"home and end", "23" + home + "1" + end + "4\r", "1234"},
      {"left stops at start", left + left + "a\r", "a"},
      {"right stops at end", "ab" + right + right + "c\r", "abc"},
      {"tab to the next multiple of 8", "ab\tc\r", "ab      c"},
      {"ctrl+enter ends too", "77\n", "77"},
      {"enter with the cursor inside", "1234" + left + left + "\r", "1234"},
      {"other keys ignored", "1\x1bOP\x01" "2\r", "12"},
      {"up needs 80 places", "ab\x1b[A" "c\r", "abc"},
      {"down needs 80 more", "ab" + home + "\x1b[B" "c\r", "cab"},
      {"up one row back", std::string(85, 'x') + "\x1b[A" "y\r",
       std::string(5, 'x') + "y" + std::string(80, 'x')},
  };
  for (const Case& c : kCases) {
    SetUp();
    EXPECT_EQ(Enter(c.keys), c.value) << c.name;
  }
}

TEST_F(LineEntry, EscBlanksTheLineAndStartsAgain) {
  MoveCursor(22, 1, -1);
  term_.Type("0123456789");
  term_.Type("\x1b");
  // The lone Esc becomes a key after the decoder's wait; then more typing.
  EXPECT_THROW(InputLine("Select Baud Rate"), test::FakeTerminal::NoMoreInput);
  EXPECT_EQ(Row(22), "Select Baud Rate? " + std::string(62, ' '));
  EXPECT_EQ(CursorRow(), 22);
  EXPECT_EQ(CursorCol(), 19);
}

TEST_F(LineEntry, DeleteAtTheEndBeeps) {
  EXPECT_EQ(Enter("ab\x1b[3~\r"), "ab");
  EXPECT_EQ(term_.bells(), 1);
}

TEST_F(LineEntry, PromptLineAndCursorOnScreen) {
  MoveCursor(22, 1, -1);
  EXPECT_EQ(Enter("9600\r", "Select Baud Rate"), "9600");
  EXPECT_EQ(Row(22).substr(0, 22), "Select Baud Rate? 9600");
  EXPECT_EQ(CursorRow(), 23);
  EXPECT_EQ(CursorCol(), 1);
}

TEST_F(LineEntry, LongLineWrapsAndMovesTheScreenAtRow25) {
  MoveCursor(1, 1, -1);
  PrintText("top");
  MoveCursor(25, 1, -1);
  std::string typed(100, 'k');
  EXPECT_EQ(Enter(typed + "\r"), typed);
  // "P? " plus 100 characters fill row 24 and 23 characters of row 25; the
  // line end then moves the screen once more.
  EXPECT_EQ(Row(23), "P? " + std::string(77, 'k'));
  EXPECT_EQ(Row(24).substr(0, 23), std::string(23, 'k'));
  EXPECT_EQ(CursorRow(), 25);
  EXPECT_EQ(CursorCol(), 1);
  EXPECT_NE(Row(1).substr(0, 3), "top");
}

TEST_F(LineEntry, CursorShownWhileTypingThenPutBack) {
  MoveCursor(0, 0, 0);
  term_.Type("1");
  EXPECT_THROW(InputLine("P"), test::FakeTerminal::NoMoreInput);
  EXPECT_TRUE(ConsoleScreen().CursorVisible());
  SetUp();
  MoveCursor(0, 0, 0);
  Enter("1\r");
  EXPECT_FALSE(ConsoleScreen().CursorVisible());
}

TEST_F(LineEntry, ALineGrowsWithoutLimitButTheValueIsCut) {
  // Typed in bursts that each fit the key queue.
  for (int i = 0; i < 50; ++i) term_.Type(std::string(100, '7'));
  EXPECT_EQ(Enter("\r"), std::string(4096, '7'));
}

TEST(TakeInputValue, Rules) {
  struct Case {
    std::string line;
    std::string value;
  };
  const Case kCases[] = {
      {"", ""},
      {"   \t ", ""},
      {"  9600 ", "9600 "},
      {"12,34", "12"},
      {"\"1,2\"", "1,2"},
      {"\"1,2", "1,2"},
      {" \t\"a b\"tail", "a b"},
      {"9600,8", "9600"},
      {"a\"b", "a\"b"},
      {",5", ""},
      {"\"\"x", ""},
  };
  for (const Case& c : kCases) EXPECT_EQ(TakeInputValue(c.line), c.value) << "[" << c.line << "]";
}

}  // namespace
}  // namespace q7t
