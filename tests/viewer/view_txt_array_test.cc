// The text array viewer on the console model: the frame and its fields, the
// keys and their clamping, how lines are cut and shown, the two array errors.
#include "viewer/view_txt_array.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "viewer/viewer_testing.h"

namespace q7t {
namespace {

using test::FakeTerminal;

const std::string kTitle = "File: SerLog.txt";

// Line n is "line n" unless given otherwise.
LineArray MakeLines(std::int32_t count, const std::vector<std::string>& first = {}) {
  LineArray lines;
  for (std::int32_t n = 1; n <= count && n <= lines.UpperBound(); ++n) {
    std::size_t i = static_cast<std::size_t>(n - 1);
    lines.Set(n, i < first.size() ? first[i] : "line " + std::to_string(n));
  }
  return lines;
}

std::string Repeat(const std::string& keys, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += keys;
  return out;
}

std::string Padded(std::string text) {
  text.resize(76, ' ');
  return text;
}

class ViewerTest : public test::ConsoleTest {
 protected:
  // Runs the viewer on `keys`; true when it returned, false when it was still
  // waiting for a key once they were used up.
  bool View(const LineArray& lines, std::int32_t count, const std::string& keys = "",
            std::string_view title = kTitle) {
    term_.Type(keys);
    try {
      ViewTxtArray(title, lines, count);
      return true;
    } catch (const FakeTerminal::NoMoreInput&) {
      return false;
    }
  }
  static std::string LField() { return Text(25, 66, 77); }
};

TEST_F(ViewerTest, FrameFieldsAndColours) {
  const LineArray lines = MakeLines(5, {"first", "", "third line"});
  EXPECT_FALSE(View(lines, 5));
  const Attr frame = ColorAttr(7, 1), window = ColorAttr(7, 0);
  EXPECT_EQ(Text(1), "   " + kTitle + std::string(46, ' ') + "V:0005 H:010   ");
  EXPECT_EQ(Text(25), "   <Lf><Rg><Home><End> <Up><Dw><Pu><Pd><CtlPu><CtlPd> <ESC>" +
                          std::string(6, ' ') + "L:0001 P:001   ");
  EXPECT_TRUE(AllAttr(1, 1, 80, frame));
  EXPECT_TRUE(AllAttr(25, 1, 80, frame));
  for (int row = 2; row <= 24; ++row) {
    EXPECT_EQ(Text(row, 1, 2) + Text(row, 79, 80), "    ") << row;
    EXPECT_TRUE(AllAttr(row, 1, 2, frame) && AllAttr(row, 79, 80, frame)) << row;
    EXPECT_TRUE(AllAttr(row, 3, 78, window)) << row;
  }
  const std::string kRows[] = {"first", "", "third line", "line 4", "line 5"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Text(i + 2, 3, 78), Padded(kRows[i])) << i;
  for (int row = 7; row <= 24; ++row) EXPECT_EQ(Text(row, 3, 78), Padded("")) << row;
  EXPECT_EQ(CursorRow(), 24);
  EXPECT_EQ(CursorCol(), 79);
}

TEST_F(ViewerTest, KeysAndClamping) {
  using namespace test;
  const std::string k1000(1000, 'w'), k76(76, 's'), k77(77, 's');
  struct Case {
    const char* name;
    std::int32_t count;
    std::string longest;  // line 1
    std::string keys;
    const char* field;  // the "L:" field afterwards
  } const kCases[] = {
      {"5: down stays", 5, "", kDown, "L:0001 P:001"},
      {"5: page down stays", 5, "", kPgDn, "L:0001 P:001"},
      {"5: ctrl+page down stays", 5, "", kCtrlPgDn, "L:0001 P:001"},
      {"30: down", 30, "", kDown + kDown + kDown, "L:0004 P:001"},
      {"30: up", 30, "", kDown + kDown + kUp, "L:0002 P:001"},
      {"30: up at the top", 30, "", kUp, "L:0001 P:001"},
      {"30: ctrl+down", 30, "", kCtrlDown, "L:0005 P:001"},
      {"30: ctrl+up", 30, "", kDown + kDown + kCtrlDown + kCtrlUp, "L:0003 P:001"},
      {"30: ctrl+up at the top", 30, "", kDown + kCtrlUp, "L:0001 P:001"},
      {"30: ctrl+down clamps", 30, "", kCtrlDown + kCtrlDown + kCtrlDown, "L:0008 P:001"},
      {"30: page down clamps", 30, "", kPgDn, "L:0008 P:001"},
      {"30: ctrl+page down", 30, "", kCtrlPgDn, "L:0008 P:001"},
      {"30: down on the last page stays", 30, "", kCtrlPgDn + kDown, "L:0008 P:001"},
      {"30: downs stop at the last page", 30, "", Repeat(kDown, 9), "L:0008 P:001"},
      {"30: shift+F3 is ctrl+page down", 30, "", kShiftF3, "L:0008 P:001"},
      {"30: page up from 10", 30, "", Repeat(kDown, 10) + kPgUp, "L:0001 P:001"},
      {"30: ctrl+page up", 30, "", kCtrlPgDn + kCtrlPgUp, "L:0001 P:001"},
      {"30: home and end are columns", 30, "", kDown + kHome + kEnd, "L:0002 P:001"},
      {"10000: ctrl+page down", 10000, "", kCtrlPgDn, "L:9978 P:001"},
      {"10000: page down", 10000, "", kPgDn + kPgDn, "L:0047 P:001"},
      {"1000: end", 30, k1000, kEnd, "L:0001 P:925"},
      {"1000: right at the end", 30, k1000, kEnd + kRight, "L:0001 P:925"},
      {"1000: left from the end", 30, k1000, kEnd + kLeft, "L:0001 P:924"},
      {"1000: right", 30, k1000, kRight + kRight, "L:0001 P:003"},
      {"1000: left at column 0", 30, k1000, kLeft, "L:0001 P:001"},
      {"1000: home", 30, k1000, kRight + kDown + kHome, "L:0002 P:001"},
      {"76: right", 30, k76, kRight, "L:0001 P:001"},
      {"76: end", 30, k76, kEnd, "L:0001 P:001"},
      {"77: end", 30, k77, kEnd + kRight, "L:0001 P:002"},
      {"a key not in the table", 30, k1000, kDown + "x" + "\r" + kCtrlF10, "L:0002 P:001"},
  };
  for (const Case& c : kCases) {
    Restart();
    const LineArray lines = MakeLines(c.count, {c.longest});
    EXPECT_FALSE(View(lines, c.count, c.keys)) << c.name;
    EXPECT_EQ(LField(), c.field) << c.name;
  }
}

TEST_F(ViewerTest, PageFollowsTheTopOffset) {
  const LineArray lines = MakeLines(30);
  EXPECT_FALSE(View(lines, 30, test::kCtrlPgDn));
  for (int row = 2; row <= 24; ++row) {
    EXPECT_EQ(Text(row, 3, 78), Padded("line " + std::to_string(row + 6))) << row;
  }
}

TEST_F(ViewerTest, LinesCutAtTheColumnOffset) {
  std::string ruler;
  for (int i = 0; i < 1000; ++i) ruler.push_back(static_cast<char>('0' + i % 10));
  const LineArray lines = MakeLines(4, {ruler, "abc", "abcd", std::string(76, 'q')});
  EXPECT_FALSE(View(lines, 4));
  EXPECT_EQ(Text(2, 3, 78), ruler.substr(0, 76));
  EXPECT_EQ(Text(5, 3, 78), std::string(76, 'q'));  // exactly 76 shows whole

  Restart();
  EXPECT_FALSE(View(lines, 4, test::kRight + test::kRight + test::kRight));
  EXPECT_EQ(Text(2, 3, 78), ruler.substr(3, 76));
  EXPECT_EQ(Text(3, 3, 78), Padded(""));  // no longer than the offset: a blank row
  EXPECT_EQ(Text(4, 3, 78), Padded("d"));
  EXPECT_EQ(Text(5, 3, 78), Padded(std::string(73, 'q')));

  Restart();
  EXPECT_FALSE(View(lines, 4, test::kEnd));
  EXPECT_EQ(Text(2, 3, 78), ruler.substr(924, 76));
}

TEST_F(ViewerTest, ControlBytesShowAsSpaces) {
  const std::string line("a\tb\rc\0d\x01\x1f\x20\x21\x7f\x80\xf8\xff", 16);
  const LineArray lines = MakeLines(1, {line});
  EXPECT_FALSE(View(lines, 1));
  EXPECT_EQ(Text(2, 3, 78), Padded("a b c d   !\x7f\x80\xf8\xff"));
}

TEST_F(ViewerTest, EscReturnsWithoutDrawing) {
  const LineArray lines = MakeLines(30);
  EXPECT_FALSE(View(lines, 30, test::kDown));
  const Grid page = ConsoleScreen().grid();
  Restart();
  EXPECT_TRUE(View(lines, 30, test::kDown + test::kEsc));
  EXPECT_EQ(ConsoleScreen().grid(), page);
  EXPECT_EQ(GetColor(), std::make_pair(7, 0));
}

TEST_F(ViewerTest, NoLinesShowsNothing) {
  const Grid before = ConsoleScreen().grid();
  EXPECT_TRUE(View(LineArray(), 0));
  EXPECT_EQ(ConsoleScreen().grid(), before);
}

TEST_F(ViewerTest, CountOutsideTheArray) {
  struct Case {
    std::int32_t count;
    const char* message;
  } const kCases[] = {
      {10001, "ViewTxtArray: Txl Array Overflow File: SerLog.txt 10001 10000"},
      {-1, "ViewTxtArray: Txl Array Overflow File: SerLog.txt -1 10000"},
  };
  const LineArray lines = MakeLines(10000);
  for (const Case& c : kCases) {
    Restart();
    EXPECT_FALSE(View(lines, c.count)) << c.count;  // waiting at the error line
    EXPECT_EQ(Text(24, 2, 79), Padded(std::string(" ") + c.message) + "  ") << c.count;
    EXPECT_TRUE(AllAttr(24, 2, 79, ColorAttr(15, 12))) << c.count;
    EXPECT_EQ(Text(1), std::string(80, ' ')) << "viewer drawn for " << c.count;

    Restart();
    EXPECT_TRUE(View(lines, c.count, "x")) << c.count;  // any key but Home returns
    EXPECT_EQ(Text(24), std::string(80, ' ')) << c.count;
  }
}

// An array that loses lines while the viewer runs: the next page cannot be
// read whole.
class ShrinkingTerminal : public FakeTerminal {
 public:
  ShrinkingTerminal(LineArray& lines, std::int32_t bound) : lines_(&lines), bound_(bound) {}
  bool ReadAvailable(std::string& out) override {
    if (lines_) lines_->Redim(bound_);
    lines_ = nullptr;
    return FakeTerminal::ReadAvailable(out);
  }

 private:
  LineArray* lines_;
  std::int32_t bound_;
};

TEST_F(ViewerTest, LineBeyondTheArray) {
  LineArray lines = MakeLines(30);
  ShrinkingTerminal term(lines, 10);
  InstallConsole(&term);
  term.Type(test::kDown);
  EXPECT_THROW(ViewTxtArray(kTitle, lines, 30), FakeTerminal::NoMoreInput);
  EXPECT_EQ(Text(24, 2, 79), Padded(" ViewTxtArray: Txl Array Rd Overflow11") + "  ");
  for (int row = 2; row <= 10; ++row) {
    EXPECT_EQ(Text(row, 3, 78), Padded("line " + std::to_string(row))) << row;
  }
  EXPECT_EQ(Text(11, 3, 78), Padded("line 10")) << "row 11 keeps the previous page";

  lines = MakeLines(30);
  ShrinkingTerminal again(lines, 10);
  InstallConsole(&again);
  again.Type(test::kDown + "x");
  ViewTxtArray(kTitle, lines, 30);  // returns after the key
  EXPECT_EQ(Text(24, 1, 79), std::string(79, ' '));
  InstallConsole(&term_);
}

TEST_F(ViewerTest, LongTitleStaysOnRowOne) {
  std::string title;
  for (int i = 0; i < 100; ++i) title.push_back(static_cast<char>('A' + i % 26));
  const LineArray lines = MakeLines(3);
  EXPECT_FALSE(View(lines, 3, "", title));
  EXPECT_EQ(Text(1, 4, 65), title.substr(0, 62));
  EXPECT_EQ(Text(1, 66, 77), "V:0003 H:006");
  EXPECT_EQ(Text(1, 78, 80), title.substr(74, 3));
  EXPECT_EQ(Text(2, 1, 2), "  ");
}

}  // namespace
}  // namespace q7t
