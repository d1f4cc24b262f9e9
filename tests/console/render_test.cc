// The renderer against a real terminal emulator: whatever the model does,
// the emulator fed with the renderer's bytes must show the model's grid.
#include "console/render.h"

#include <gtest/gtest.h>
#include <vterm.h>

#include <cctype>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "console/cp437.h"
#include "support/linux_colours.h"
#include "support/vterm_screen.h"

namespace q7t {
namespace {

using test::LinuxColours;
using test::VtermScreen;

constexpr Attr kFrame = 0x17;
constexpr Attr kText = 0x07;

// Whether an erase in colours `a` shows them on a terminal that erases so.
bool ErasedExactly(EraseColours erase, Attr a) {
  return a == kTermDefaultAttr || erase == EraseColours::kBoth ||
         (erase == EraseColours::kBothNormal && (a & 0x08) == 0);
}

// A second emulator fed the same bytes, asked only which cells hold no
// character: those an erase, a scroll or a character shift left. Terminals
// differ in the foreground they give such cells (the colours in force, a
// normal foreground for a bright one, their own default), so only a cell
// whose colours the terminal erases exactly may be left so.
class ErasedCells {
 public:
  ErasedCells(int rows, int cols) : vt_(vterm_new(rows, cols)) {
    vterm_set_utf8(vt_, 1);
    screen_ = vterm_obtain_screen(vt_);
    vterm_screen_reset(screen_, 1);
  }
  ~ErasedCells() { vterm_free(vt_); }
  ErasedCells(const ErasedCells&) = delete;
  ErasedCells& operator=(const ErasedCells&) = delete;

  void Feed(std::string_view bytes) { vterm_input_write(vt_, bytes.data(), bytes.size()); }
  bool Erased(int row, int col) const {
    VTermScreenCell cell;
    return vterm_screen_get_cell(screen_, VTermPos{row - 1, col - 1}, &cell) && cell.chars[0] == 0;
  }

 private:
  VTerm* vt_;
  VTermScreen* screen_ = nullptr;
};

// The emulator the tests read, and the erased cells beside it, taking the
// bytes as a terminal with `caps` does.
struct Emulator {
  Emulator(int rows = 25, int cols = 80, TermCaps term_caps = {})
      : caps(term_caps), screen(rows, cols), erased(rows, cols) {}
  void Feed(std::string_view bytes) {
    std::string linux;
    if (caps.bright_by_attributes) bytes = linux = colours.Translate(bytes);
    screen.Feed(bytes);
    erased.Feed(bytes);
  }
  TermCaps caps;
  LinuxColours colours;
  VtermScreen screen;
  ErasedCells erased;
};

// The first difference between what `term` shows and the grid, or "". With
// `erased`, cells in colours the terminal does not erase exactly must have
// been written; without, the foreground is not compared.
std::string MismatchIn(const VtermScreen& term, const ErasedCells* erased, const Grid& grid,
                       bool utf8, EraseColours erase = EraseColours::kBackground) {
  static std::map<std::uint8_t, char32_t> ascii_seen;
  auto where = [](int r, int c) {
    return "row " + std::to_string(r) + " col " + std::to_string(c) + ": ";
  };
  for (int r = 1; r <= term.Rows(); ++r) {
    for (int c = 1; c <= term.Cols(); ++c) {
      char32_t got = term.CellChar(r, c);
      int fg = term.CellFg(r, c), bg = term.CellBg(r, c);
      if (r > grid.rows || c > grid.cols) {
        if (got != U' ' || fg != -1 || bg != -1) return where(r, c) + "outside the grid not blank";
        continue;
      }
      const Cell& cell = grid.At(r, c);
      char32_t want = Cp437ToUnicode(cell.ch);
      if (!utf8) {
        if (cell.ch >= 0x20 && cell.ch < 0x7F) {
          want = cell.ch;
        } else if (got < 0x20 || got > 0x7E) {
          return where(r, c) + "not plain ASCII";
        } else {
          want = ascii_seen.emplace(cell.ch, got).first->second;
        }
      }
      if (got != want) {
        return where(r, c) + "char U+" + std::to_string(got) + " want U+" + std::to_string(want);
      }
      int want_fg = cell.attr == kTermDefaultAttr ? -1 : cell.attr & 15;
      int want_bg = cell.attr == kTermDefaultAttr ? -1 : cell.attr >> 4;
      if (erased == nullptr) fg = want_fg;
      if (fg != want_fg || bg != want_bg) {
        return where(r, c) + "colours " + std::to_string(fg) + "/" + std::to_string(bg) + " want " +
               std::to_string(want_fg) + "/" + std::to_string(want_bg);
      }
      if (erased != nullptr && !ErasedExactly(erase, cell.attr) && erased->Erased(r, c)) {
        return where(r, c) + "erased, not written, in colours " + std::to_string(cell.attr);
      }
    }
  }
  return CursorMismatch(term, grid.cursor_visible, grid.cursor_row, grid.cursor_col);
}

std::string Mismatch(const Emulator& emulator, const Grid& grid, bool utf8) {
  return MismatchIn(emulator.screen, &emulator.erased, grid, utf8, emulator.caps.erase);
}

// The bytes without REP (CSI n b), as a terminal that ignores it takes them.
std::string WithoutRepeat(const std::string& out) {
  std::string kept;
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == 0x1B && i + 1 < out.size() && out[i + 1] == '[') {
      size_t j = i + 2;
      while (j < out.size() && isdigit(static_cast<unsigned char>(out[j]))) ++j;
      if (j < out.size() && out[j] == 'b') {
        i = j;
        continue;
      }
    }
    kept.push_back(out[i]);
  }
  return kept;
}

// Bytes a flush must never hold: control bytes other than ESC, CR, LF and BS
// (a cell byte sent raw would act on the terminal), 8-bit bytes without
// UTF-8, and a scroll region left set.
std::string BadBytes(const std::string& out, bool utf8) {
  bool region_set = false;
  for (size_t i = 0; i < out.size(); ++i) {
    auto b = static_cast<unsigned char>(out[i]);
    if (b < 0x20 && b != 0x1B && b != '\r' && b != '\n' && b != '\b')
      return "control byte " + std::to_string(b);
    if (b >= 0x80 && !utf8) return "8-bit byte";
    if (b == 0x1B && i + 1 < out.size() && out[i + 1] == '[') {
      size_t j = i + 2;
      while (j < out.size() && (isdigit(out[j]) || out[j] == ';' || out[j] == '?')) ++j;
      if (j < out.size() && out[j] == 'r') region_set = j > i + 2;
    }
  }
  return region_set ? "scroll region left set" : "";
}

// Whether the bytes hold a control sequence CSI [digits] <final>.
bool HasCsi(const std::string& out, char final) {
  for (size_t i = 0; i + 2 < out.size(); ++i) {
    if (out[i] != 0x1B || out[i + 1] != '[') continue;
    size_t j = i + 2;
    while (j < out.size() && isdigit(static_cast<unsigned char>(out[j]))) ++j;
    if (j < out.size() && out[j] == final) return true;
  }
  return false;
}

// Sequences a terminal with `caps` lacks: REP, SU/SD, and on the Linux
// console the bright backgrounds of SGR 100-107, which it shows normal.
std::string Unsupported(const std::string& out, const TermCaps& caps) {
  if (!caps.repeat && HasCsi(out, 'b')) return "REP";
  if (!caps.scroll_sequences && (HasCsi(out, 'S') || HasCsi(out, 'T'))) return "SU/SD";
  if (caps.bright_by_attributes) {
    for (size_t i = out.find("\x1b["); i != std::string::npos; i = out.find("\x1b[", i + 1)) {
      size_t j = out.find_first_not_of("0123456789;", i + 2);
      if (j == std::string::npos || out[j] != 'm') continue;
      std::string params = ";" + out.substr(i + 2, j - i - 2) + ";";
      if (params.find(";10") != std::string::npos) return "SGR 100-107";
    }
  }
  return "";
}

// Random changes to a grid, as the console's model makes them.
class ModelChanger {
 public:
  explicit ModelChanger(unsigned seed) : rng_(seed) {}

  int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

  Attr RandomAttr() {
    static constexpr Attr kPalette[] = {
        kTermDefaultAttr, kText, kFrame, 0x1F, 0x70, 0x4E, 0xC0, 0x0A};
    return Pick(0, 9) < 8 ? kPalette[Pick(0, 7)] : static_cast<Attr>(Pick(0, 255));
  }
  std::uint8_t RandomByte() {
    return Pick(0, 9) < 7 ? static_cast<std::uint8_t>(Pick(0x20, 0x7E))
                          : static_cast<std::uint8_t>(Pick(0, 255));
  }

  // One change; returns what it did, for the failure message.
  std::string Change(Grid& g) {
    switch (Pick(0, 11)) {
      case 0:
      case 1:
      case 2: {  // a run of text
        int r = Pick(1, g.rows), c = Pick(1, g.cols), n = Pick(1, 30);
        Attr a = RandomAttr();
        for (int i = 0; i < n && c + i <= g.cols; ++i) g.At(r, c + i) = {RandomByte(), a};
        return "text at " + std::to_string(r) + "," + std::to_string(c);
      }
      case 3: {  // a blank rectangle
        int r0 = Pick(1, g.rows), r1 = Pick(r0, g.rows), c0 = Pick(1, g.cols),
            c1 = Pick(c0, g.cols);
        Attr a = RandomAttr();
        for (int r = r0; r <= r1; ++r) {
          for (int c = c0; c <= c1; ++c) g.At(r, c) = {static_cast<std::uint8_t>(' '), a};
        }
        return "blank rect";
      }
      case 4:
        g.cursor_row = Pick(1, g.rows);
        g.cursor_col = Pick(1, g.cols);
        return "cursor move";
      case 5:
        g.cursor_visible = !g.cursor_visible;
        return "cursor visibility";
      case 6:
      case 7:
        return ShiftRows(g);
      case 8:
      case 9:
        return ShiftColumns(g);
      case 10: {  // clear all
        Attr a = RandomAttr();
        for (Cell& cell : g.cells) cell = {' ', a};
        return "clear";
      }
      default: {  // the bottom-right corner and its row
        Attr a = RandomAttr();
        for (int c = Pick(1, g.cols); c <= g.cols; ++c) g.At(g.rows, c) = {RandomByte(), a};
        return "last row";
      }
    }
  }

 private:
  // Whole rows of a band move up or down; the rows left free get new text.
  std::string ShiftRows(Grid& g) {
    int top = Pick(1, g.rows - 1), bottom = Pick(top + 1, g.rows);
    int k = Pick(1, bottom - top) * (Pick(0, 1) ? 1 : -1);
    Grid old = g;
    Attr fill = RandomAttr();
    for (int r = top; r <= bottom; ++r) {
      int src = r + k;
      for (int c = 1; c <= g.cols; ++c) {
        g.At(r, c) = (src >= top && src <= bottom) ? old.At(src, c) : Cell{RandomByte(), fill};
      }
    }
    return "rows " + std::to_string(top) + ".." + std::to_string(bottom) + " by " +
           std::to_string(k);
  }

  // A rectangle's content moves sideways; the columns left free are blank.
  std::string ShiftColumns(Grid& g) {
    int top = Pick(1, g.rows), bottom = Pick(top, g.rows);
    int left = Pick(1, g.cols - 1), right = Pick(left + 1, g.cols);
    int k = Pick(1, right - left) * (Pick(0, 1) ? 1 : -1);
    Grid old = g;
    Attr fill = RandomAttr();
    for (int r = top; r <= bottom; ++r) {
      for (int c = left; c <= right; ++c) {
        int src = c + k;
        g.At(r, c) = (src >= left && src <= right) ? old.At(r, src)
                                                   : Cell{static_cast<std::uint8_t>(' '), fill};
      }
    }
    return "columns " + std::to_string(left) + ".." + std::to_string(right) + " of rows " +
           std::to_string(top) + ".." + std::to_string(bottom) + " by " + std::to_string(k);
  }

  std::mt19937 rng_;
};

struct RandomCase {
  const char* name;
  int term_rows, term_cols;
  bool utf8;
  const char* term = nullptr;  // the TERM whose abilities are used; null: the defaults

  TermCaps Caps() const {
    TermCaps caps = term != nullptr ? CapsForTerm(term) : TermCaps{};
    caps.utf8 = utf8;
    caps.rows = term_rows;
    caps.cols = term_cols;
    return caps;
  }
};

class RandomSequence : public ::testing::TestWithParam<RandomCase> {};

TEST_P(RandomSequence, EmulatorShowsTheModelAfterEveryFlush) {
  const RandomCase& tc = GetParam();
  ModelChanger changer(20240611);
  Grid grid;
  const TermCaps caps = tc.Caps();
  Renderer renderer(caps);
  Emulator term(tc.term_rows, tc.term_cols, caps);
  // A terminal without REP shows every character and background right
  // still; only the foreground of blanks may differ.
  VtermScreen no_repeat(tc.term_rows, tc.term_cols);
  term.Feed("garbage left by the shell\r\n$ ");
  no_repeat.Feed("garbage left by the shell\r\n$ ");
  std::string out;
  int scrolled = 0, sideways = 0, repeated = 0;
  for (int step = 1; step <= 2500; ++step) {
    std::string did;
    for (int n = changer.Pick(1, 4); n > 0; --n) did += changer.Change(grid) + "; ";
    if (step % 500 == 0) {
      renderer.Invalidate();
      did += "invalidate";
    }
    out.clear();
    renderer.Render(grid, out);
    term.Feed(out);
    std::string bad = BadBytes(out, tc.utf8) + Unsupported(out, caps);
    ASSERT_EQ(bad, "") << "step " << step << " (" << did << ")";
    std::string diff = Mismatch(term, grid, tc.utf8);
    ASSERT_EQ(diff, "") << "step " << step << " (" << did << ")";
    if (caps.repeat) {
      no_repeat.Feed(WithoutRepeat(out));
      diff = MismatchIn(no_repeat, nullptr, grid, tc.utf8);
      ASSERT_EQ(diff, "") << "without REP, step " << step << " (" << did << ")";
    }
    scrolled += HasCsi(out, 'S') || HasCsi(out, 'T') || HasCsi(out, 'M') || HasCsi(out, 'L');
    sideways += HasCsi(out, 'P') || HasCsi(out, '@');
    repeated += HasCsi(out, 'b');
  }
  // The scrolling, repeating and sideways paths were taken (a wider window
  // has no sideways shifts; where most colours erase exactly, blanks are
  // erased rather than repeated).
  EXPECT_GT(scrolled, 20);
  if (caps.repeat && caps.erase == EraseColours::kBackground) {
    EXPECT_GT(repeated, 20);
  }
  if (tc.term_cols <= 80) {
    EXPECT_GT(sideways, 20);
  }
}

INSTANTIATE_TEST_SUITE_P(Windows, RandomSequence,
                         ::testing::Values(RandomCase{"Exact", 25, 80, true},
                                           RandomCase{"ExactAscii", 25, 80, false},
                                           RandomCase{"Larger", 30, 100, true},
                                           RandomCase{"Smaller", 20, 60, true},
                                           RandomCase{"OneRowShort", 24, 80, true},
                                           RandomCase{"OneColumnShort", 25, 79, true},
                                           RandomCase{"Xterm", 25, 80, true, "xterm-256color"},
                                           RandomCase{"LinuxConsole", 25, 80, true, "linux"},
                                           RandomCase{"LinuxSmaller", 24, 70, false, "linux"},
                                           RandomCase{"Unknown", 25, 80, true, "vt220"}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// A viewer-like screen: blue frame, black text window showing a document
// from line `top` and column `offset`, position on row 25.
void ViewerGrid(Grid& g, const std::vector<std::string>& doc, int top, int offset) {
  for (int r = 1; r <= 25; ++r) {
    for (int c = 1; c <= 80; ++c) {
      bool text = r >= 2 && r <= 24 && c >= 3 && c <= 78;
      g.At(r, c) = {' ', text ? kText : kFrame};
    }
  }
  for (int i = 0; i < 23 && top + i < static_cast<int>(doc.size()); ++i) {
    const std::string& line = doc[top + i];
    for (int c = 0; c < 76 && offset + c < static_cast<int>(line.size()); ++c) {
      g.At(2 + i, 3 + c).ch = static_cast<std::uint8_t>(line[offset + c]);
    }
  }
  std::string status = "L:" + std::to_string(1000 + top).substr(0, 4);
  for (size_t i = 0; i < status.size(); ++i) g.At(25, 66 + static_cast<int>(i)).ch = status[i];
  g.cursor_row = 24;
  g.cursor_col = 79;
}

TEST(Render, ViewerKeysShowRightInEveryWindow) {
  std::mt19937 rng(7);
  std::vector<std::string> doc;
  for (int i = 0; i < 120; ++i) {
    std::string line(20 + rng() % 101, ' ');
    for (char& ch : line) ch = rng() % 6 ? static_cast<char>('a' + rng() % 26) : ' ';
    if (i % 17 == 0) line[5] = static_cast<char>(0xB3);  // a glyph beyond ASCII
    doc.push_back(line);
  }
  struct Key {
    const char* name;
    int dtop, offset;  // offset < 0: keep the current one
  };
  const Key keys[] = {{"Down", 1, -1},   {"Down", 1, -1}, {"Up", -1, -1},  {"Ctrl+Down", 4, -1},
                      {"PgDn", 23, -1},  {"Right", 0, 1}, {"Right", 0, 2}, {"Left", 0, 1},
                      {"End", 0, 44},    {"Down", 1, -1}, {"Home", 0, 0},  {"Ctrl+Up", -4, -1},
                      {"PgUp", -23, -1}, {"Up", -1, -1}};
  const RandomCase windows[] = {
      {"exact", 25, 80, true},          {"ascii", 25, 80, false},
      {"short", 24, 80, true},          {"narrow", 25, 70, true},
      {"large", 30, 90, true},          {"xterm", 25, 80, true, "xterm-256color"},
      {"linux", 25, 80, true, "linux"}, {"linux short", 24, 80, true, "linux"}};
  for (const RandomCase& w : windows) {
    Grid g;
    Renderer renderer(w.Caps());
    Emulator term(w.term_rows, w.term_cols, w.Caps());
    int top = 30, offset = 0;
    std::string out;
    for (int round = 0; round < 3; ++round) {
      for (const Key& key : keys) {
        top += key.dtop;
        if (key.offset >= 0) offset = key.offset;
        ViewerGrid(g, doc, top, offset);
        out.clear();
        renderer.Render(g, out);
        term.Feed(out);
        ASSERT_EQ(Mismatch(term, g, w.utf8), "") << w.name << " after " << key.name;
        ASSERT_EQ(BadBytes(out, w.utf8) + Unsupported(out, w.Caps()), "")
            << w.name << " after " << key.name;
      }
    }
  }
}

Grid MenuLikeGrid() {
  Grid g;
  const std::string lines[] = {"Q7T maintenance", "1  Read register", "2  Write register",
                               "3  Save log", "Port 0350  Value 00"};
  for (int i = 0; i < 5; ++i) {
    for (size_t c = 0; c < lines[i].size(); ++c) {
      g.At(2 + 2 * i, 5 + static_cast<int>(c)).ch = static_cast<std::uint8_t>(lines[i][c]);
    }
  }
  g.cursor_row = 12;
  g.cursor_col = 24;
  return g;
}

TEST(Render, NothingChangedWritesNothing) {
  for (bool visible : {true, false}) {
    Grid g = MenuLikeGrid();
    g.cursor_visible = visible;
    Renderer renderer;
    std::string out;
    renderer.Render(g, out);
    ASSERT_FALSE(out.empty());
    out.clear();
    renderer.Render(g, out);
    EXPECT_EQ(out, "") << "cursor visible " << visible;
    // A byte with the same picture (0x00 shows as a blank) is no change either.
    g.At(1, 1).ch = 0x00;
    renderer.Render(g, out);
    EXPECT_EQ(out, "") << "cursor visible " << visible;
  }
}

TEST(Render, OneDigitIsAFewBytes) {
  Grid g = MenuLikeGrid();
  Renderer renderer;
  std::string out;
  renderer.Render(g, out);
  g.At(10, 22).ch = '7';
  out.clear();
  renderer.Render(g, out);
  EXPECT_LE(out.size(), 14u) << out;
}

TEST(Render, InvalidateClearsAndRepaintsWhole) {
  Grid g = MenuLikeGrid();
  Renderer renderer;
  Emulator term;
  std::string out;
  renderer.Render(g, out);
  term.Feed(out);
  term.Feed("\x1b[2J\x1b[31mjunk the terminal lost track of");  // e.g. after a resume
  renderer.Invalidate();
  out.clear();
  renderer.Render(g, out);
  term.Feed(out);
  EXPECT_EQ(Mismatch(term, g, true), "");
}

TEST(Render, WindowLargerThanGridShowsNothingStaleOutside) {
  Grid g;
  for (Cell& c : g.cells) c = {'#', kFrame};
  g.cursor_row = 25;
  g.cursor_col = 80;
  Renderer renderer({true, 30, 100});
  Emulator term(30, 100);
  for (int r = 0; r < 30; ++r) term.Feed("\x1b[42m" + std::string(100, 'x'));
  std::string out;
  renderer.Render(g, out);
  term.Feed(out);
  EXPECT_EQ(Mismatch(term, g, true), "");
  // Rows moving within the grid must not drag colours outside it either.
  for (int r = 1; r < 25; ++r) {
    for (int c = 1; c <= 80; ++c) g.At(r, c) = g.At(r + 1, c);
  }
  for (int c = 1; c <= 80; ++c) g.At(25, c) = {static_cast<std::uint8_t>('a' + c % 26), kText};
  out.clear();
  renderer.Render(g, out);
  term.Feed(out);
  EXPECT_EQ(Mismatch(term, g, true), "");
}

TEST(Render, SmallerWindowShowsWhatFitsAndNeverScrolls) {
  Grid g;
  for (int r = 1; r <= 25; ++r) {
    for (int c = 1; c <= 80; ++c)
      g.At(r, c) = {static_cast<std::uint8_t>('A' + (r + c) % 26), kText};
  }
  g.cursor_row = 25;
  g.cursor_col = 80;
  Renderer renderer({true, 10, 40});
  Emulator term(10, 40);
  std::string out;
  renderer.Render(g, out);
  term.Feed(out);
  EXPECT_EQ(Mismatch(term, g, true), "");
  EXPECT_EQ(term.screen.CursorRow(), 10);
  EXPECT_EQ(term.screen.CursorCol(), 40);
}

TEST(Render, BottomRightCellDoesNotScroll) {
  Grid g;
  g.At(1, 1) = {'T', kText};
  g.cursor_visible = false;
  Renderer renderer;
  Emulator term;
  std::string out;
  renderer.Render(g, out);
  for (int c = 70; c <= 80; ++c) g.At(25, c) = {'z', kFrame};
  renderer.Render(g, out);
  g.At(25, 80) = {'!', kText};
  g.At(1, 2) = {'U', kText};
  renderer.Render(g, out);
  term.Feed(out);
  EXPECT_EQ(Mismatch(term, g, true), "");
  // The cursor shown on that cell, its character written: the wrap pending
  // there must not survive to the next flush (a blank would scroll).
  g.cursor_visible = true;
  g.cursor_row = 25;
  g.cursor_col = 80;
  for (char ch : {'!', 'D', ' '}) {
    g.At(25, 80).ch = static_cast<std::uint8_t>(ch);
    out.clear();
    renderer.Render(g, out);
    term.Feed(out);
    EXPECT_EQ(Mismatch(term, g, true), "") << ch;
  }
}

TEST(Render, ColourPairsUseOneSgr) {
  struct Row {
    Attr attr;
    const char* sgr;
  };
  const Row rows[] = {
      {0x07, "\x1b[37;40m"}, {0x17, "\x1b[37;44m"},  {0x1F, "\x1b[97;44m"}, {0x4E, "\x1b[93;41m"},
      {0x62, "\x1b[32;43m"}, {0xC9, "\x1b[94;101m"}, {0x35, "\x1b[35;46m"}, {kTermDefaultAttr, ""},
  };
  for (const Row& row : rows) {
    Grid g;
    g.At(1, 1) = {'x', row.attr};
    g.cursor_visible = false;
    Renderer renderer;
    Emulator term;
    std::string out;
    renderer.Render(g, out);
    term.Feed(out);
    EXPECT_EQ(Mismatch(term, g, true), "") << "attr " << row.attr;
    // The pair in one SGR just before the cell; no other besides the reset
    // that clears the screen.
    const std::string sgr = std::string(row.sgr) + "x";
    EXPECT_EQ(out.substr(out.size() - std::min(out.size(), sgr.size())), sgr)
        << "attr " << row.attr;
    EXPECT_EQ(std::count(out.begin(), out.end(), 'm'), sgr.size() > 1 ? 2 : 1)
        << "attr " << row.attr;
  }
}

TEST(Render, OnlyConAndDigitsNamesTheLinuxConsole) {
  for (const char* name : {"linux", "linux-16color", "con80x25", "con132x43"}) {
    const TermCaps caps = CapsForTerm(name);
    EXPECT_TRUE(caps.bright_by_attributes) << name;
    EXPECT_EQ(caps.erase, EraseColours::kBothNormal) << name;
  }
  for (const char* name : {"contour", "con", "cons25"}) {
    const TermCaps caps = CapsForTerm(name);
    EXPECT_FALSE(caps.bright_by_attributes) << name;
    EXPECT_NE(caps.erase, EraseColours::kBothNormal) << name;
  }
}

// Where a bright background would blink (the Linux console in VGA text
// mode) nothing is set blinking: the normal background instead, and text in
// that colour brightened so that it stays readable.
TEST(Render, SteadyBackgroundsNeverBlink) {
  TermCaps caps = CapsForTerm("linux");
  caps.steady_backgrounds = true;
  Grid g;
  g.At(24, 1) = {'E', 0xCF};
  g.At(24, 2) = {'r', 0xC4};
  g.At(1, 1) = {'x', 0x1F};
  Renderer renderer(caps);
  std::string out;
  renderer.Render(g, out);
  Emulator term(25, 80, caps);  // shows blink as the bright background
  term.Feed(out);
  const std::pair<int, int> kWant[] = {{15, 4}, {12, 4}, {15, 1}};  // fg, bg
  const std::pair<int, int> kCells[] = {{24, 1}, {24, 2}, {1, 1}};
  for (int i = 0; i < 3; ++i) {
    const auto [row, col] = kCells[i];
    EXPECT_EQ(term.screen.CellFg(row, col), kWant[i].first) << row << "," << col;
    EXPECT_EQ(term.screen.CellBg(row, col), kWant[i].second) << row << "," << col;
  }
}

TEST(Render, RestoreSequenceResetsColoursAndShowsCursor) {
  VtermScreen term;
  term.Feed("\x1b[?25l\x1b[31;44m");
  term.Feed(Renderer::RestoreSequence());
  term.Feed("x");
  EXPECT_TRUE(term.CursorVisible());
  EXPECT_EQ(term.CellFg(1, 1), -1);
  EXPECT_EQ(term.CellBg(1, 1), -1);
}

}  // namespace
}  // namespace q7t
