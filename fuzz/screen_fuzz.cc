// Fuzzes the cell model with any sequence of screen operations and, now and
// then, brings a terminal emulator in line with it through the renderer.
// After every operation the cursor and the pending wrap must be where the
// screen rules allow; after every flush the bytes must be clean and the
// emulator must show the model's grid.
//
// Input: byte 0 picks the window (kWindows); then operations, each an
// operation byte (kind = byte % kKinds) and its arguments (see Apply).
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "console/cp437.h"
#include "console/grid.h"
#include "console/render.h"
#include "console/screen.h"
#include "support/vterm_screen.h"

namespace {

using q7t::Attr;
using q7t::Cell;
using q7t::Grid;
using q7t::kTermDefaultAttr;
using q7t::Renderer;
using q7t::Screen;
using q7t::TermCaps;

// A terminal window, and the TERM whose abilities the renderer uses (null:
// its defaults). The emulator erases in the colours in force, as xterm does.
struct Window {
  int rows, cols;
  bool utf8;
  const char* term = nullptr;

  TermCaps Caps() const {
    TermCaps caps = term != nullptr ? q7t::CapsForTerm(term) : TermCaps{};
    caps.utf8 = utf8;
    caps.rows = rows;
    caps.cols = cols;
    return caps;
  }
};
constexpr Window kWindows[] = {
    {25, 80, true},         {25, 80, false}, {24, 80, true}, {25, 79, true},
    {30, 100, true},        {20, 60, true},  {3, 5, true},   {25, 80, true, "xterm-256color"},
    {24, 80, true, "vt220"}};

std::string g_trace;  // the operations so far, printed with a failure

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "screen_fuzz: %s\n  after: %s\n", what.c_str(), g_trace.c_str());
  std::abort();
}

void Check(bool ok, const char* what) {
  if (!ok) Fail(what);
}

// The input read from the front; zeros once it is used up.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::string_view Slice(std::size_t n) {
    n = std::min(n, size_ - std::min(pos_, size_));
    std::string_view s(reinterpret_cast<const char*>(data_) + pos_, n);
    pos_ += n;
    return s;
  }
  // Mostly small numbers around the screen's range, sometimes the extremes
  // or any 32-bit value.
  int Int() {
    std::uint8_t s = Byte();
    if (s < 0xF0) return static_cast<int>(s) - 16;
    if (s == 0xF0) return INT_MIN;
    if (s == 0xF1) return INT_MAX;
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | Byte();
    return static_cast<int>(v);
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

void CheckInvariants(const Screen& s) {
  const Grid& g = s.grid();
  Check(g.rows >= 1 && g.cols >= 1, "grid without cells");
  Check(g.cells.size() == static_cast<std::size_t>(g.rows) * g.cols, "cell count != rows x cols");
  Check(s.CursorRow() >= 1 && s.CursorRow() <= s.Rows(), "cursor row outside 1..Rows");
  Check(s.CursorCol() >= 1 && s.CursorCol() <= s.Cols(), "cursor column outside 1..Cols");
  if (s.PendingWrap()) {
    Check(s.CursorRow() == s.Rows() && s.CursorCol() == s.Cols(),
          "pending wrap away from the bottom-right cell");
  }
}

// Control bytes a flush may hold outside escape sequences: ESC starts one,
// CR, BS and LF move the cursor. Everything else must be a shown character:
// printable ASCII, or (on a UTF-8 terminal) well-formed UTF-8 that is no C1
// control.
std::string BadBytes(std::string_view out, bool utf8) {
  std::size_t i = 0;
  while (i < out.size()) {
    auto b = static_cast<unsigned char>(out[i]);
    if (b == 0x1B) {
      if (++i >= out.size()) return "ESC at the end of a flush";
      if (out[i] == '[') {  // CSI: parameters and intermediates, then a final byte
        ++i;
        while (i < out.size() && static_cast<unsigned char>(out[i]) >= 0x20 &&
               static_cast<unsigned char>(out[i]) <= 0x3F) {
          ++i;
        }
        if (i >= out.size()) return "CSI cut off";
        auto f = static_cast<unsigned char>(out[i]);
        if (f < 0x40 || f > 0x7E) return "CSI without a final byte";
        ++i;
      } else {
        auto f = static_cast<unsigned char>(out[i]);
        if (f < 0x30 || f > 0x7E) return "ESC followed by byte " + std::to_string(f);
        ++i;
      }
      continue;
    }
    if (b == '\r' || b == '\b' || b == '\n') {
      ++i;
      continue;
    }
    if (b < 0x20 || b == 0x7F) return "control byte " + std::to_string(b);
    if (b < 0x80) {
      ++i;
      continue;
    }
    if (!utf8) return "8-bit byte on a terminal without UTF-8";
    int len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
    if (len == 0 || b > 0xF4 || i + len > out.size()) return "bad UTF-8 lead byte";
    char32_t cp = b & (0x3F >> (len - 1));
    for (int k = 1; k < len; ++k) {
      auto c = static_cast<unsigned char>(out[i + k]);
      if ((c & 0xC0) != 0x80) return "bad UTF-8 continuation byte";
      cp = cp << 6 | (c & 0x3F);
    }
    if (cp >= 0x80 && cp <= 0x9F) return "C1 control character";
    i += len;
  }
  return "";
}

std::string At(int r, int c) {
  return "row " + std::to_string(r) + " col " + std::to_string(c) + ": ";
}

// The first difference between the emulator and the grid, or "".
std::string Mismatch(const q7t::test::VtermScreen& term, const Grid& grid, bool utf8) {
  for (int r = 1; r <= term.Rows(); ++r) {
    for (int c = 1; c <= term.Cols(); ++c) {
      char32_t got = term.CellChar(r, c);
      int fg = term.CellFg(r, c), bg = term.CellBg(r, c);
      if (r > grid.rows || c > grid.cols) {
        if (got != U' ' || fg != -1 || bg != -1) return At(r, c) + "outside the grid not blank";
        continue;
      }
      const Cell& cell = grid.At(r, c);
      if (utf8) {
        if (got != q7t::Cp437ToUnicode(cell.ch)) return At(r, c) + "wrong character";
      } else if (cell.ch > 0x20 && cell.ch < 0x7F) {
        if (got != cell.ch) return At(r, c) + "wrong character";
      } else if (got < 0x20 || got > 0x7E) {
        return At(r, c) + "not plain ASCII";
      }
      Attr a = cell.attr > 0xFF ? kTermDefaultAttr : cell.attr;
      int want_fg = a == kTermDefaultAttr ? -1 : a & 15;
      int want_bg = a == kTermDefaultAttr ? -1 : a >> 4;
      if (fg != want_fg || bg != want_bg) return At(r, c) + "wrong colours";
    }
  }
  return q7t::test::CursorMismatch(term, grid.cursor_visible, grid.cursor_row, grid.cursor_col);
}

constexpr int kMaxFlushes = 40;

struct Session {
  Window window;
  Screen screen;
  Renderer renderer;
  q7t::test::VtermScreen term;
  std::string out;
  int flushes_left = kMaxFlushes;

  explicit Session(const Window& w) : window(w), renderer(w.Caps()), term(w.rows, w.cols) {
    // What the shell left behind: the first flush must clear it.
    term.Feed("$ make run\r\n\x1b[31mleft over\x1b[m");
  }

  // Brings the emulator in line and compares; past kMaxFlushes only when
  // `always` (the input's last flush), to keep long inputs quick.
  void Flush(bool always = false) {
    if (flushes_left == 0 && !always) return;
    if (flushes_left > 0) --flushes_left;
    out.clear();
    renderer.Render(screen.grid(), out);
    std::string bad = BadBytes(out, window.utf8);
    if (!bad.empty()) Fail("flush bytes: " + bad);
    term.Feed(out);
    std::string diff = Mismatch(term, screen.grid(), window.utf8);
    if (!diff.empty()) Fail("emulator differs from the model: " + diff);
    out.clear();
    renderer.Render(screen.grid(), out);
    if (!out.empty()) Fail("a flush with nothing changed wrote bytes");
  }
};

// PrintText of bytes that only place characters, where they fit on the
// cursor's row: exactly those cells change and the cursor moves past them.
void CheckPlainWrite(const Grid& before, bool pending_before, const Screen& s,
                     std::string_view bytes, Attr attr) {
  if (pending_before || bytes.empty()) return;
  for (char ch : bytes) {
    auto b = static_cast<unsigned char>(ch);
    if (b == 7 || b == 8 || b == 9 || b == 10 || b == 13) return;
  }
  int row = before.cursor_row, col = before.cursor_col;
  if (col + static_cast<int>(bytes.size()) > before.cols) return;
  Check(s.CursorRow() == row && s.CursorCol() == col + static_cast<int>(bytes.size()),
        "cursor not after the text written");
  Grid want = before;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    want.At(row, col + static_cast<int>(i)) = Cell{static_cast<std::uint8_t>(bytes[i]), attr};
  }
  Check(want.cells == s.grid().cells, "text written into the wrong cells");
}

void CheckMove(const Grid& before, const Screen& s, int row, int col, int mode) {
  Check(!s.PendingWrap(), "MoveCursor kept a pending wrap");
  bool row_ok = row == 0 || (row >= 1 && row <= before.rows);
  bool col_ok = col == 0 || (col >= 1 && col <= before.cols);
  int want_row = before.cursor_row, want_col = before.cursor_col;
  if (row_ok && col_ok) {
    if (row != 0) want_row = row;
    if (col != 0) want_col = col;
  }
  Check(s.CursorRow() == want_row && s.CursorCol() == want_col, "MoveCursor went elsewhere");
  bool want_visible = mode < 0 ? before.cursor_visible : mode > 0;
  Check(s.CursorVisible() == want_visible, "MoveCursor set the wrong visibility");
}

void CheckScroll(const Grid& before, const Screen& s) {
  const Grid& g = s.grid();
  for (int r = 1; r <= g.rows; ++r) {
    for (int c = 1; c <= g.cols; ++c) {
      Cell want = r < g.rows ? before.At(r + 1, c) : Cell{' ', s.CurrentAttr()};
      Check(g.At(r, c) == want, "ScrollUp did not move the rows up by one");
    }
  }
}

void CheckResize(const Grid& before, const Screen& s, int cols, int rows) {
  const Grid& g = s.grid();
  Check(g.cols == std::max(cols, 1) && g.rows == std::max(rows, 1), "SetSize gave another size");
  Check(s.CursorRow() == 1 && s.CursorCol() == 1 && !s.PendingWrap(), "SetSize left the cursor");
  for (int r = 1; r <= std::min(g.rows, before.rows); ++r) {
    for (int c = 1; c <= std::min(g.cols, before.cols); ++c) {
      Check(g.At(r, c) == before.At(r, c), "SetSize lost a cell that fits");
    }
  }
}

constexpr int kKinds = 12;

void Apply(Session& ses, Input& in) {
  Screen& s = ses.screen;
  static Grid before;  // reused: a copy per operation without an allocation
  before = s.grid();
  const bool pending_before = s.PendingWrap();
  const int kind = in.Byte() % kKinds;
  switch (kind) {
    case 0:
    case 1: {  // PrintText of any bytes: length byte, then the bytes
      std::string_view bytes = in.Slice(in.Byte());
      int bells = 0;
      s.PrintText(bytes, [&] { ++bells; });
      Check(bells == std::count(bytes.begin(), bytes.end(), '\a'), "a bell lost or added");
      CheckPlainWrite(before, pending_before, s, bytes, s.CurrentAttr());
      g_trace += "print(" + std::to_string(bytes.size()) + ") ";
      break;
    }
    case 2: {  // MoveCursor(row, col, mode)
      int row = in.Int(), col = in.Int(), mode = in.Int();
      s.MoveCursor(row, col, mode);
      CheckMove(before, s, row, col, mode);
      g_trace += "move(" + std::to_string(row) + "," + std::to_string(col) + "," +
                 std::to_string(mode) + ") ";
      break;
    }
    case 3: {  // SetAttr: a colour pair, the terminal's defaults, or any 16 bits
      std::uint8_t sel = in.Byte();
      Attr a = in.Byte();
      if (sel & 1) a = kTermDefaultAttr;
      if ((sel & 0xF0) == 0xF0) a = static_cast<Attr>(a << 8 | in.Byte());
      s.SetAttr(a);
      g_trace += "attr(" + std::to_string(a) + ") ";
      break;
    }
    case 4: {
      s.Clear();
      Check(s.CursorRow() == 1 && s.CursorCol() == 1 && !s.PendingWrap(), "Clear left the cursor");
      for (const Cell& c : s.grid().cells)
        Check(c == Cell{' ', s.CurrentAttr()}, "Clear missed a cell");
      g_trace += "clear ";
      break;
    }
    case 5:
      s.SetSize(80, 25);
      CheckResize(before, s, 80, 25);
      g_trace += "size(80,25) ";
      break;
    case 6: {  // another size, small to large
      int cols = in.Byte() % 101, rows = in.Byte() % 41;
      s.SetSize(cols, rows);
      CheckResize(before, s, cols, rows);
      g_trace += "size(" + std::to_string(cols) + "," + std::to_string(rows) + ") ";
      break;
    }
    case 7:
      s.CarryOutPendingWrap();
      if (pending_before) {
        Check(s.CursorRow() == s.Rows() && s.CursorCol() == 1 && !s.PendingWrap(),
              "a carried-out wrap left the cursor elsewhere");
        CheckScroll(before, s);
      } else {
        Check(s.grid() == before, "CarryOutPendingWrap without a pending wrap changed the screen");
      }
      g_trace += "wrap ";
      break;
    case 8:
      s.ScrollUp();
      CheckScroll(before, s);
      Check(s.CursorRow() == before.cursor_row && s.CursorCol() == before.cursor_col,
            "ScrollUp moved the cursor");
      g_trace += "scroll ";
      break;
    case 9:
      s.SetCursorVisible(in.Byte() & 1);
      g_trace += "visible ";
      break;
    case 10:
      ses.Flush();
      g_trace += "flush ";
      break;
    default:
      ses.renderer.Invalidate();
      ses.Flush();
      g_trace += "repaint ";
      break;
  }
  CheckInvariants(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const Window& window = kWindows[in.Byte() % std::size(kWindows)];
  Session ses(window);
  g_trace.clear();
  CheckInvariants(ses.screen);
  ses.Flush();
  for (int n = 0; !in.Empty() && n < 2000; ++n) Apply(ses, in);
  ses.Flush(true);
  return 0;
}
