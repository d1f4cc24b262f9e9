// The renderer: compares the wanted grid with the copy of what the terminal
// shows and writes the fewest bytes it finds that close the gap.
#include "console/render.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstddef>
#include <cstring>
#include <vector>

#include "console/cp437.h"

namespace q7t {
namespace {

constexpr std::string_view kRestore = "\x1b[m\x1b[?25h";
constexpr std::string_view kClearAll = "\x1b[m\x1b[H\x1b[2J";
constexpr int kFar = 1 << 20;  // a cost no real choice reaches

// ---- Numbers and control sequences ----

inline int Digits(int n) {
  if (n < 10) return 1;
  if (n < 100) return 2;
  if (n < 1000) return 3;
  int d = 4;
  for (n /= 10000; n > 0; n /= 10) ++d;
  return d;
}

void AppendNum(std::string& out, int n) {
  char buf[12];
  auto res = std::to_chars(buf, buf + sizeof buf, n);
  out.append(buf, res.ptr);
}

// CSI n <final>, the parameter left out when it is 1, its default.
inline int CsiNCost(int n) {
  return n == 1 ? 3 : 3 + Digits(n);
}
void AppendCsiN(std::string& out, int n, char final) {
  out += "\x1b[";
  if (n != 1) AppendNum(out, n);
  out.push_back(final);
}

// ---- Glyphs ----

// The closest plain ASCII character to each CP437 glyph, for a terminal that
// does not take UTF-8: 0x00..0x1F, then 0x80..0xFF.
constexpr std::string_view kAsciiLow = " oo****.#o#*****><|!PS-|^v><L-^v";
constexpr std::string_view kAsciiHigh =
    "CueaaaaceeeiiiAA"
    "EaAooouuyOUcLYPf"
    "aiounNao?--%%!<>"
    "###|++++++|+++++"
    "++++-++++++++=++"
    "+++++++++++#####"
    "aBGpSsutFOOd8oen"
    "=+><()/~o..vn2# ";
static_assert(kAsciiLow.size() == 32 && kAsciiHigh.size() == 128);

std::uint8_t AsciiFor(int byte) {
  if (byte < 0x20) return kAsciiLow[byte];
  if (byte == 0x7F) return '^';
  if (byte >= 0x80) return kAsciiHigh[byte - 0x80];
  return static_cast<std::uint8_t>(byte);
}

// Each byte's displayed form: bytes that look the same share one canonical
// byte, so the diff never rewrites a cell to the same picture.
struct GlyphTable {
  std::array<std::uint8_t, 256> canon;
  std::array<std::string_view, 256> text;  // the bytes written for a canonical byte
};

GlyphTable MakeGlyphTable(bool utf8) {
  GlyphTable t{};
  for (int b = 0; b < 256; ++b) {
    int c = b;
    if (!utf8) {
      c = AsciiFor(b);
    } else {
      for (int d = 0; d < b; ++d) {
        if (Cp437ToUnicode(static_cast<std::uint8_t>(d)) ==
            Cp437ToUnicode(static_cast<std::uint8_t>(b))) {
          c = d;
          break;
        }
      }
    }
    t.canon[b] = static_cast<std::uint8_t>(c);
  }
  // A blank is always written as the space byte.
  for (int b = 0; b < 256; ++b) {
    if (t.canon[b] == t.canon[' ']) t.canon[b] = ' ';
  }
  for (int b = 0; b < 256; ++b) t.text[b] = Cp437ToUtf8(t.canon[b]);
  return t;
}

const GlyphTable& Glyphs(bool utf8) {
  static const GlyphTable tables[2] = {MakeGlyphTable(false), MakeGlyphTable(true)};
  return tables[utf8 ? 1 : 0];
}

// With `steady`, a bright background is shown as its normal colour, and
// text in that colour as its bright one so that it stays readable.
Attr NormalAttr(Attr a, bool steady = false) {
  if (a > 0xFF) return kTermDefaultAttr;
  if (!steady || (a & 0x80) == 0) return a;
  a &= 0x7F;
  if ((a & 0x0F) == (a >> 4)) a |= 0x08;
  return a;
}
bool IsBlank(const Cell& c) {
  return c.ch == ' ';
}

// A cell an erase (ECH, EL, ED, a scroll, DCH, ICH) left blank in colours
// the terminal may not show exactly there: its background is right, its
// foreground perhaps not, so it never counts as showing a wanted cell and is
// written again.
constexpr Attr kErasedFlag = 0x200;

// The background a cell shows: a PC colour number, or -1 for the terminal's own.
int Background(Attr a) {
  a &= static_cast<Attr>(~kErasedFlag);
  return a == kTermDefaultAttr ? -1 : a >> 4;
}

// A cell's byte and colours as one number (its padding masked off), so that
// loops over rows compare and hash whole cells and vectorise.
static_assert(sizeof(Cell) == 4 && offsetof(Cell, ch) == 0 && offsetof(Cell, attr) == 2);
std::uint32_t Packed(const Cell& c) {
  std::uint32_t raw;
  std::memcpy(&raw, &c, sizeof raw);
  return raw & 0xFFFF00FFu;
}
bool Same(const Cell& a, const Cell& b) {
  return Packed(a) == Packed(b);
}

// Two cells at once, their padding masked off: a difference in either half
// of the result means that cell differs.
constexpr std::uint64_t kPairMask = 0xFFFF00FFFFFF00FFull;
std::uint64_t PairDiff(const Cell* a, const Cell* b) {
  std::uint64_t x, y;
  std::memcpy(&x, a, sizeof x);
  std::memcpy(&y, b, sizeof y);
  return (x ^ y) & kPairMask;
}
// The half of a PairDiff for the first cell, and for the second.
constexpr bool kLittleEndian = std::endian::native == std::endian::little;
std::uint32_t FirstOfPair(std::uint64_t d) {
  return static_cast<std::uint32_t>(kLittleEndian ? d : d >> 32);
}
std::uint32_t SecondOfPair(std::uint64_t d) {
  return static_cast<std::uint32_t>(kLittleEndian ? d >> 32 : d);
}

// The first column from c (0-based, below n) where the rows differ, or n.
int NextDiff(const Cell* s, const Cell* w, int c, int n) {
  for (; c + 2 <= n; c += 2) {
    const std::uint64_t d = PairDiff(s + c, w + c);
    if (d != 0) return FirstOfPair(d) != 0 ? c : c + 1;
  }
  return c < n && !Same(s[c], w[c]) ? c : n;
}

// The first column from c where the rows are the same, or n.
int NextSame(const Cell* s, const Cell* w, int c, int n) {
  for (; c + 2 <= n; c += 2) {
    const std::uint64_t d = PairDiff(s + c, w + c);
    if (FirstOfPair(d) == 0) return c;
    if (SecondOfPair(d) == 0) return c + 1;
  }
  return c < n && Same(s[c], w[c]) ? c : n;
}

// Whether two rows hold the same cells: two at a time.
bool RowsSame(const Cell* a, const Cell* b, int cols) {
  std::uint64_t diff = 0;
  int c = 0;
  for (; c + 2 <= cols; c += 2) diff |= PairDiff(a + c, b + c);
  return diff == 0 && (c == cols || Same(a[c], b[c]));
}

// How many cells of a row differ that are not blanks where wanted (each
// costs a byte at least); -1 when the rows are the same.
int ChangedText(const Cell* shown, const Cell* want, int cols) {
  // Eight cells at a time, in a loop of fixed length the compiler vectorises.
  constexpr int kChunk = 8;
  std::uint32_t changed = 0, text = 0;
  int c = 0;
  for (; c + kChunk <= cols; c += kChunk) {
    std::uint32_t a[kChunk], b[kChunk];
    std::memcpy(a, shown + c, sizeof a);
    std::memcpy(b, want + c, sizeof b);
    for (int i = 0; i < kChunk; ++i) {
      const std::uint32_t diff = ((a[i] ^ b[i]) & 0xFFFF00FFu) != 0;
      changed += diff;
      text += diff & ((b[i] & 0xFFu) != ' ');
    }
  }
  for (; c < cols; ++c) {
    const std::uint32_t diff = Packed(shown[c]) != Packed(want[c]);
    changed += diff;
    text += diff & !IsBlank(want[c]);
  }
  return changed > 0 ? static_cast<int>(text) : -1;
}

// ---- Terminal state and the cost of changing it ----

struct Term {
  int row = 0, col = 0;       // 1-based; 0 = unknown
  bool wrap_pending = false;  // the last window column was written: col unknown
  Attr sgr = kTermDefaultAttr;
  bool sgr_known = false;
};

// The part of the grid the window shows, the window itself, and what the
// terminal can do.
struct View {
  int rows = 0, cols = 0;
  int term_rows = 0, term_cols = 0;
  EraseColours erase = EraseColours::kBackground;
  bool repeat = true;
  bool scroll_sequences = true;
  bool bright_by_attributes = false;
  // Whether an erase in colours `a` shows them exactly (the terminal's own
  // colours are erased exactly everywhere).
  bool EraseExact(Attr a) const {
    if (a == kTermDefaultAttr) return true;
    switch (erase) {
      case EraseColours::kBoth:
        return true;
      case EraseColours::kBothNormal:
        return (a & 0x08) == 0;
      case EraseColours::kBackground:
        break;
    }
    return false;
  }
  Cell ErasedCell(Attr fill) const {
    return {' ', EraseExact(fill) ? fill : static_cast<Attr>(fill | kErasedFlag)};
  }
  // Erasing to the end of a line (or screen) also reaches window cells
  // outside the grid: only the terminal's own colours may go there.
  bool EraseLineOk(Attr a) const { return a == kTermDefaultAttr || term_cols <= cols; }
  bool EraseBelowOk(Attr a) const {
    return a == kTermDefaultAttr || (term_cols <= cols && term_rows <= rows);
  }
};

// PC colour numbers have blue in bit 0 and red in bit 2; ANSI the reverse.
int AnsiColour(int pc) {
  return (pc & 2) | ((pc & 1) << 2) | ((pc >> 2) & 1);
}
int FgParam(Attr a) {
  return ((a & 8) ? 90 : 30) + AnsiColour(a & 7);
}
int BgParam(Attr a) {
  return ((a & 0x80) ? 100 : 40) + AnsiColour((a >> 4) & 7);
}

// The parameters of one SGR from `t` to `a` (not the terminal's own
// colours), naming only the half that changes when the other stays (both
// halves from the terminal's defaults). With `bright_by_attributes` (the
// Linux console) a bright foreground also sets bold and a bright background
// is blink: leaving them takes SGR 22 or 25 as well.
struct SgrParams {
  int n = 0;
  int p[4] = {};
  int Bytes() const {
    int bytes = 3 + n - 1;
    for (int i = 0; i < n; ++i) bytes += Digits(p[i]);
    return bytes;
  }
};

inline SgrParams SgrFor(const Term& t, Attr a, bool bright_by_attributes) {
  const bool from_known = t.sgr_known && t.sgr != kTermDefaultAttr;
  const bool fg = !from_known || (t.sgr & 0x0F) != (a & 0x0F);
  const bool bg = !from_known || (t.sgr & 0xF0) != (a & 0xF0);
  SgrParams s;
  if (!bright_by_attributes) {
    if (fg) s.p[s.n++] = FgParam(a);
    if (bg) s.p[s.n++] = BgParam(a);
    return s;
  }
  // From the terminal's own colours (after SGR 0) neither bold nor blink is on.
  const bool bold = t.sgr_known ? from_known && (t.sgr & 0x08) != 0 : true;
  const bool blink = t.sgr_known ? from_known && (t.sgr & 0x80) != 0 : true;
  if (fg) {
    if ((a & 0x08) == 0 && bold) s.p[s.n++] = 22;
    s.p[s.n++] = FgParam(a);
  }
  if (bg) {
    if ((a & 0x80) != 0 && !blink) s.p[s.n++] = 5;
    if ((a & 0x80) == 0 && blink) s.p[s.n++] = 25;
    s.p[s.n++] = 40 + AnsiColour((a >> 4) & 7);
  }
  return s;
}

// SGR from `t` to `a`. `t` follows whether or not the bytes are wanted.
inline int SgrBytes(const View& v, const Term& t, Attr a) {
  if (t.sgr_known && t.sgr == a) return 0;
  if (a == kTermDefaultAttr) return 3;
  return SgrFor(t, a, v.bright_by_attributes).Bytes();
}

inline int Sgr(const View& v, Term& t, Attr a, std::string* out) {
  int cost = 0;
  if (!t.sgr_known || t.sgr != a) {
    if (a == kTermDefaultAttr) {
      cost = 3;
      if (out != nullptr) *out += "\x1b[m";
    } else {
      const SgrParams s = SgrFor(t, a, v.bright_by_attributes);
      cost = s.Bytes();
      if (out != nullptr) {
        *out += "\x1b[";
        for (int i = 0; i < s.n; ++i) {
          if (i > 0) out->push_back(';');
          AppendNum(*out, s.p[i]);
        }
        out->push_back('m');
      }
    }
  }
  t.sgr = a;
  t.sgr_known = true;
  return cost;
}

inline int SgrCost(const View& v, Attr from, Attr to) {
  Term t;
  t.sgr = from;
  t.sgr_known = true;
  return SgrBytes(v, t, to);
}

// The bytes of the shortest vertical and horizontal motions below.
inline int VertBytes(int from, int to) {
  const int d = to - from;
  if (d == 0) return 0;
  const int rel = d == 1 ? 1 : d == -1 ? 2 : CsiNCost(d > 0 ? d : -d);
  return std::min(rel, to == 1 ? 3 : 3 + Digits(to));
}
inline int HorizBytes(int from, int to) {
  if (from == to) return 0;
  int best = std::min(to == 1 ? 1 : 1 + CsiNCost(to - 1), to == 1 ? 3 : 3 + Digits(to));
  if (from != 0) {
    const int d = to - from;
    if (d > 0) best = std::min(best, CsiNCost(d));
    if (d < 0) best = std::min(best, -d <= 3 ? -d : CsiNCost(-d));
  }
  return best;
}

// Up or down within a column: LF (the output is not post-processed, so the
// column stays) or RI for one row, CUD/CUU, or VPA.
inline int Vert(int from, int to, std::string* out) {
  int d = to - from;
  if (d == 0) return 0;
  int rel = d == 1 ? 1 : d == -1 ? 2 : CsiNCost(d > 0 ? d : -d);
  int vpa = to == 1 ? 3 : 3 + Digits(to);
  if (out) {
    if (rel <= vpa) {
      if (d == 1) {
        out->push_back('\n');
      } else if (d == -1) {
        *out += "\x1bM";
      } else {
        AppendCsiN(*out, d > 0 ? d : -d, d > 0 ? 'B' : 'A');
      }
    } else {
      AppendCsiN(*out, to, 'd');
    }
  }
  return std::min(rel, vpa);
}

// Along a row from column `from` (0 = unknown): CR, CR + CUF, CHA, CUF,
// CUB, or a few backspaces.
inline int Horiz(int from, int to, std::string* out) {
  if (from == to) return 0;
  enum { kCr, kCha, kCuf, kCub, kBs } kind = kCr;
  int best = to == 1 ? 1 : 1 + CsiNCost(to - 1);
  auto take = [&](int cost, decltype(kind) k) {
    if (cost < best) best = cost, kind = k;
  };
  take(to == 1 ? 3 : 3 + Digits(to), kCha);
  if (from != 0) {
    int d = to - from;
    if (d > 0) take(CsiNCost(d), kCuf);
    if (d < 0) {
      take(CsiNCost(-d), kCub);
      if (-d <= 3) take(-d, kBs);
    }
  }
  if (out) {
    switch (kind) {
      case kCr:
        out->push_back('\r');
        if (to > 1) AppendCsiN(*out, to - 1, 'C');
        break;
      case kCha:
        AppendCsiN(*out, to, 'G');
        break;
      case kCuf:
        AppendCsiN(*out, to - from, 'C');
        break;
      case kCub:
        AppendCsiN(*out, from - to, 'D');
        break;
      case kBs:
        out->append(static_cast<size_t>(from - to), '\b');
        break;
    }
  }
  return best;
}

inline int CupCost(int r, int c) {
  return 3 + (r > 1 ? Digits(r) : 0) + (c > 1 ? 1 + Digits(c) : 0);
}
void AppendCup(std::string& out, int r, int c) {
  out += "\x1b[";
  if (r > 1) AppendNum(out, r);
  if (c > 1) {
    out.push_back(';');
    AppendNum(out, c);
  }
  out.push_back('H');
}

// The cursor to (r, c). With `text_next`, a character follows at once: from a
// pending wrap at the end of the row above, that character lands there itself.
// `t` follows whether or not the bytes are wanted.
inline int MoveBytes(const Term& t, const View& v, int r, int c, bool text_next) {
  if (t.row == r && t.col == c) return 0;
  if (t.wrap_pending && text_next && r == t.row + 1 && c == 1 && t.row < v.term_rows) return 0;
  int cost = CupCost(r, c);
  if (t.row != 0) {
    cost = std::min(cost, VertBytes(t.row, r) + HorizBytes(t.col, c));
    if (r == t.row + 1) cost = std::min(cost, 2 + HorizBytes(1, c));
  }
  return cost;
}

inline int Move(Term& t, const View& v, int r, int c, bool text_next, std::string* out) {
  const int cost = MoveBytes(t, v, r, c, text_next);
  if (out != nullptr && cost > 0) {
    if (CupCost(r, c) == cost) {
      AppendCup(*out, r, c);
    } else if (t.row != 0 && r == t.row + 1 && 2 + HorizBytes(1, c) == cost) {
      *out +=
          "\x1b"
          "E";
      Horiz(1, c, out);
    } else {
      Vert(t.row, r, out);
      Horiz(t.col, c, out);
    }
  }
  t.row = r;
  t.col = c;
  t.wrap_pending = false;
  return cost;
}

// What one flush works towards.
struct Flush {
  View view;
  const GlyphTable* glyphs = nullptr;
  const Grid* want = nullptr;
  int cursor_row = 0, cursor_col = 0;  // where the cursor ends; 0 = hidden
  bool can_restore = false;            // it ends where it started (DECSC/DECRC)
  // Bytes still due after the cells to take the cursor to its place.
  int CursorCost(const Term& t) const {
    if (cursor_row == 0) return 0;
    Term probe = t;
    int move = Move(probe, view, cursor_row, cursor_col, false, nullptr);
    return can_restore ? std::min(move, 4) : move;
  }
};

// The kinds of piece a row is written with.
enum PieceKind : std::uint8_t {
  kText,        // the cells' bytes
  kRepeat,      // a blank, then REP repeating it over the rest of the run
  kRepeatOver,  // the same, after ECH over the cells that show a character
  kErase,       // ECH: blanks in colours the terminal erases exactly
  kEraseToEnd,  // EL: the same to the end of the line
};

// ---- Rows that moved ----

// A row's fingerprint: two sums of the cells weighted by their column, which
// the compiler vectorises. It only guides the search for rows that moved: a
// collision costs bytes, never the picture, as every plan is compared cell
// by cell.
std::uint64_t HashCells(const Cell* row, int cols) {
  std::uint32_t a = 0, b = 0;
  for (int c = 0; c < cols; ++c) {
    std::uint32_t v = Packed(row[c]) + 1;
    std::uint32_t k = static_cast<std::uint32_t>(c) * 2654435761u;
    a += v * (k | 1);
    b += (v ^ k) * 0x2545F491u;
  }
  return static_cast<std::uint64_t>(a) << 32 | b;
}

// Rows [top, bottom] scrolled up by `by` rows (down when negative).
struct RowShift {
  int top = 0, bottom = 0, by = 0;
};

// The bands worth scrolling: for each distance, each run of wanted rows the
// terminal already shows that far away, scored by the rows it puts right
// less the right rows it would blank; the best few, best first.
int FindRowShifts(const View& v, const std::vector<std::uint64_t>& shown,
                  const std::vector<std::uint64_t>& want, RowShift* best, int max_found) {
  int found = 0;
  int scores[8] = {};
  const int h = v.rows;
  for (int k = 1 - h; k < h; ++k) {
    if (k == 0) continue;
    for (int i = std::max(1, 1 - k); i <= std::min(h, h - k);) {
      if (want[i] != shown[i + k]) {
        ++i;
        continue;
      }
      int first = i, fixed = 0;
      for (; i <= std::min(h, h - k) && want[i] == shown[i + k]; ++i) fixed += want[i] != shown[i];
      int last = i - 1;
      RowShift s = k > 0 ? RowShift{first, last + k, k} : RowShift{first + k, last, k};
      int lost = 0;
      for (int r = (k > 0 ? last + 1 : first + k); r <= (k > 0 ? last + k : first - 1); ++r) {
        lost += want[r] == shown[r];
      }
      int score = fixed - lost;
      if (fixed < 2 || score < 1) continue;
      int pos = found;
      while (pos > 0 && scores[pos - 1] < score) --pos;
      if (pos >= max_found) continue;
      found = std::min(found + 1, max_found);
      for (int j = found - 1; j > pos; --j) best[j] = best[j - 1], scores[j] = scores[j - 1];
      best[pos] = s;
      scores[pos] = score;
    }
  }
  return found;
}

// Scrolls the band inside a scroll region, reset at once (the next flush
// finds the terminal clean; setting or resetting the region homes the
// cursor): SU/SD, or where the terminal lacks them, deleting (DL) or
// inserting (IL) lines at the band's top. The rows left free are erased in
// `fill`.
void ScrollRows(const View& v, const RowShift& s, Attr fill, Term& t, std::string& out) {
  Sgr(v, t, fill, &out);
  const bool whole = s.top == 1 && s.bottom == v.term_rows;
  if (!whole) {
    out += "\x1b[";
    AppendNum(out, s.top);
    out.push_back(';');
    AppendNum(out, s.bottom);
    out.push_back('r');
    t.row = t.col = 1;
    t.wrap_pending = false;
  }
  const int n = s.by > 0 ? s.by : -s.by;
  if (v.scroll_sequences) {
    AppendCsiN(out, n, s.by > 0 ? 'S' : 'T');
    if (t.wrap_pending) t.col = 0;
  } else {
    Move(t, v, s.top, 1, false, &out);
    AppendCsiN(out, n, s.by > 0 ? 'M' : 'L');
  }
  if (!whole) {
    out += "\x1b[r";
    t.row = t.col = 1;
  }
  t.wrap_pending = false;
}

// ---- Rows whose content moved sideways ----

// One row's content from column `col` on moved left by `by` columns (right
// when negative): deleting (DCH) or inserting (ICH) characters there.
struct ColShift {
  int row = 0, col = 0, by = 0;
};

// Applies a shift to a row as the terminal does: the columns left free at the
// line's end (DCH) or at `col` (ICH) are erased in `fill`.
void ShiftRowCells(const View& v, const ColShift& s, Attr fill, Cell* row) {
  const int cols = v.cols;
  const Cell blank = v.ErasedCell(fill);
  if (s.by > 0) {
    for (int c = s.col; c <= cols; ++c) row[c - 1] = c + s.by <= cols ? row[c - 1 + s.by] : blank;
  } else {
    for (int c = cols; c >= s.col; --c) row[c - 1] = c + s.by >= s.col ? row[c - 1 + s.by] : blank;
  }
}

int FirstDiff(int cols, const Cell* shown, const Cell* want) {
  for (int c = 1; c <= cols; ++c) {
    if (!Same(shown[c - 1], want[c - 1])) return c;
  }
  return 0;
}

// The distance most changed rows moved sideways by: where a stretch of
// wanted text from a row's first change is found elsewhere on the row the
// terminal shows. 0 when no distance has two rows for it, or none has yet
// after the first few rows probed (where rows moved, most did).
int FindColumnShift(const View& v, const Grid& shown, const Grid& want, std::vector<int>& votes) {
  constexpr int kProbe = 6, kRowsForAVote = 6;
  votes.assign(2 * v.cols + 1, 0);
  int best = 0, best_votes = 1, probed = 0;
  for (int r = 1; r <= v.rows; ++r) {
    if (probed >= kRowsForAVote && best == 0) break;
    const Cell* s = &shown.At(r, 1);
    const Cell* w = &want.At(r, 1);
    int first = FirstDiff(v.cols, s, w);
    if (first == 0) continue;
    int last = v.cols;
    while (Same(s[last - 1], w[last - 1])) --last;
    // Probes at the first change and further on: text moved right leaves
    // new text at the start of the change.
    const int span = last - first;
    for (int p : {first, first + span / 2, first + span * 3 / 4}) {
      while (p <= v.cols && IsBlank(w[p - 1])) ++p;
      if (p + kProbe - 1 > v.cols) continue;
      probed += p == first;
      const std::uint32_t head = Packed(w[p - 1]);
      for (int q = 1; q + kProbe - 1 <= v.cols; ++q) {
        if (Packed(s[q - 1]) != head || q == p ||
            !std::equal(w + p, w + p - 1 + kProbe, s + q, Same)) {
          continue;
        }
        int k = q - p;
        if (++votes[k + v.cols] > best_votes) best_votes = votes[k + v.cols], best = k;
      }
    }
    // Enough rows agree.
    if (best_votes >= 4) break;
  }
  return best;
}

// Whether a cell of rows [top, bottom] wants the terminal's own colours.
bool WantsDefault(const Grid& want, int top, int bottom, int cols) {
  for (int r = top; r <= bottom; ++r) {
    const Cell* w = &want.At(r, 1);
    for (int c = 0; c < cols; ++c) {
      if (w[c].attr == kTermDefaultAttr) return true;
    }
  }
  return false;
}

// The colours worth erasing with: the current ones (no SGR needed) unless
// `current` is null, and the `most_common` ones of the cells wanted in rows
// [top, bottom]. Where an erase also reaches window cells outside the grid,
// only the terminal's own.
int FillCandidates(const View& v, const Grid& want, int top, int bottom, const Attr* current,
                   int most_common, Attr* fills) {
  int n = 0;
  auto add = [&](Attr a) {
    if (!v.EraseLineOk(a)) a = kTermDefaultAttr;
    for (int i = 0; i < n; ++i) {
      if (fills[i] == a) return;
    }
    fills[n++] = a;
  };
  if (current != nullptr) add(*current);
  // Counted by runs of one colour pair; the pairs met listed once each.
  int counts[257] = {};
  Attr seen[257];
  int distinct = 0;
  for (int r = top; r <= bottom; ++r) {
    const Cell* w = &want.At(r, 1);
    for (int c = 0; c < v.cols;) {
      const Attr a = w[c].attr;
      int end = c + 1;
      while (end < v.cols && w[end].attr == a) ++end;
      if (counts[a] == 0) seen[distinct++] = a;
      counts[a] += end - c;
      c = end;
    }
  }
  for (int k = 0; k < most_common; ++k) {
    int best = -1;
    for (int i = 0; i < distinct; ++i) {
      if (counts[seen[i]] > 0 && (best < 0 || counts[seen[i]] > counts[seen[best]])) best = i;
    }
    if (best < 0) break;
    add(seen[best]);
    counts[seen[best]] = 0;
  }
  return n;
}

}  // namespace

// ---- Planning a flush ----

// Tries the ways of bringing the terminal in line (painting only, or first
// scrolling a band of rows, shifting rows sideways or erasing below) and
// writes the shortest.
//
// Blanks in colours the terminal does not erase exactly are always written
// as characters: one blank and REP for a long run. A terminal without REP
// still shows the run blank, in the right background: a run over cells
// that show characters is erased first (ECH), and the cursor's column is
// taken as unknown after REP, so the next motion does not rely on it.
class FlushPlanner {
 public:
  using Piece = Renderer::Piece;

  FlushPlanner(Renderer& r, const Flush& f)
      : r_(r), f_(f), v_(f.view), glyphs_(*f.glyphs), want_(*f.want), shown_(r.shown_) {}

  // Leaves the bytes in r_.best_out_ and the terminal's state after them in `term`.
  void Plan(Term& term);

 private:
  const Cell* WantRow(int r) const { return &want_.At(r, 1); }

  void TryPlan(const std::string& ops, const Term& after_ops);
  void PlanRow(int r, const Cell* s, const Cell* w);
  void AddCluster(int r, const Cell* s, const Cell* w, int from, int to);
  bool BlankPiece(const Cell* s, const Cell* w, int p, int q, bool tail, Piece& piece) const;
  void AddText(int r, const Cell* w, int from, int to, int body);
  int TextCost(const Cell* w, int from, int to, Attr before, Attr after) const;
  bool BlankToEnd(const Cell* w, int from, Attr a) const;

  int Step(const Piece& p, Term& t, std::string* out) const;
  int CostInOrder(Term t) const;
  int CostCheapestFirst(Term t);
  int ErasedEstimate(int top, Attr fill) const;

  Renderer& r_;
  const Flush& f_;
  const View& v_;
  const GlyphTable& glyphs_;
  const Grid& want_;
  const Grid& shown_;
  std::vector<Piece>* pieces_ = nullptr;  // the plan being tried
  // The two shortest plans so far (in row order), each with its bytes before
  // painting, the terminal after them, its pieces, and the least it could
  // cost in any order.
  struct Kept {
    std::string* ops;
    std::vector<Piece>* pieces;
    Term term;
    int cost = kFar, floor = kFar;
  };
  Kept best_{&r_.best_out_, &r_.best_pieces_, {}};
  Kept second_{&r_.second_out_, &r_.second_pieces_, {}};
};

// ---- Pieces of rows ----

int FlushPlanner::TextCost(const Cell* w, int from, int to, Attr before, Attr after) const {
  int cost = 0;
  Attr a = before;
  for (int c = from; c < to; ++c) {
    cost += SgrCost(v_, a, w[c].attr) + static_cast<int>(glyphs_.text[w[c].ch].size());
    a = w[c].attr;
  }
  return cost + SgrCost(v_, a, after);
}

bool FlushPlanner::BlankToEnd(const Cell* w, int from, Attr a) const {
  for (int c = from; c < v_.cols; ++c) {
    if (!IsBlank(w[c]) || w[c].attr != a) return false;
  }
  return true;
}

// The pieces for the cells of row r (w wanted, s shown; 0-based columns)
// that differ, with unchanged cells between rewritten where that is cheaper
// than stepping over them.
void FlushPlanner::PlanRow(int r, const Cell* s, const Cell* w) {
  const int n = v_.cols;
  int c = 0;
  while (true) {
    c = NextDiff(s, w, c, n);
    if (c >= n) return;
    int from = c, to = c;
    while (true) {
      to = NextSame(s, w, to, n);
      int next = NextDiff(s, w, to, n);
      if (next >= n) break;
      Attr before = w[to - 1].attr, after = w[next].attr;
      int skip = CsiNCost(next - to) + SgrCost(v_, before, after);
      // Each rewritten cell costs a byte at least.
      if (next - to > skip || TextCost(w, to, next, before, after) > skip) break;
      to = next;
    }
    AddCluster(r, s, w, from, to);
    c = to;
  }
}

// Columns [from, to) of row r, cut into pieces of one colour pair each, with
// runs of blanks erased or repeated where that is shorter.
void FlushPlanner::AddCluster(int r, const Cell* s, const Cell* w, int from, int to) {
  int start = from;  // the first cell not yet in a piece
  int body = 0;      // the bytes of cells [start, c)
  for (int c = from; c < to;) {
    const Cell& cell = w[c];
    if (cell.attr != w[start].attr) {
      AddText(r, w, start, c, body);
      start = c;
      body = 0;
    }
    if (!IsBlank(cell)) {
      body += static_cast<int>(glyphs_.text[cell.ch].size());
      ++c;
      continue;
    }
    int q = c + 1;
    while (q < to && IsBlank(w[q]) && w[q].attr == cell.attr) ++q;
    // Shorter runs are never worth more than their blanks.
    Piece piece;
    if (q - c >= (v_.EraseExact(cell.attr) ? 4 : 6) && BlankPiece(s, w, c, q, q == to, piece)) {
      if (start < c) AddText(r, w, start, c, body);
      piece.row = r;
      pieces_->push_back(piece);
      start = q;
      body = 0;
    } else {
      body += q - c;
    }
    c = q;
  }
  if (start < to) AddText(r, w, start, to, body);
}

// Whether blanks [p, q) are shorter erased (colours the terminal erases
// exactly) or repeated (any other) than written; the piece for them if so.
// `tail`: the last cells to write here, so no motion back into the row is
// due after.
bool FlushPlanner::BlankPiece(const Cell* s, const Cell* w, int p, int q, bool tail,
                              Piece& piece) const {
  const int len = q - p;
  const Attr a = w[p].attr;
  piece.col = p + 1;
  piece.end = q + 1;
  piece.attr = a;
  if (v_.EraseExact(a)) {
    const bool line = tail && v_.EraseLineOk(a) && BlankToEnd(w, q, a);
    const int erase = line ? 3 : CsiNCost(len);
    // Inside a stretch of text, the cursor must also step over the blanks.
    if (tail ? erase >= len : erase + CsiNCost(len) >= len) return false;
    piece.kind = line ? kEraseToEnd : kErase;
    piece.body = erase;
    return true;
  }
  if (len < 3 || !v_.repeat) return false;
  int guard = 0;
  for (int c = q - 1; c >= p; --c) {
    if (!IsBlank(s[c]) || Background(s[c].attr) != Background(a)) {
      guard = c - p + 1;
      break;
    }
  }
  int body = 1 + CsiNCost(len - 1) + (guard > 0 ? CsiNCost(guard) : 0);
  // After the repeat the column is not known: more of the row needs an
  // absolute column.
  int after = tail ? 0 : Horiz(0, q + 1, nullptr);
  if (body + after >= len) return false;
  piece.kind = guard > 0 ? kRepeatOver : kRepeat;
  piece.guard = guard;
  piece.body = body;
  return true;
}

void FlushPlanner::AddText(int r, const Cell* w, int from, int to, int body) {
  Piece piece;
  piece.row = r;
  piece.col = from + 1;
  piece.end = to + 1;
  piece.attr = w[from].attr;
  piece.kind = kText;
  piece.body = body;
  pieces_->push_back(piece);
}

// ---- Writing pieces ----

// One piece from terminal state `t`: its bytes (appended to `out` when given)
// and the state after it.
int FlushPlanner::Step(const Piece& p, Term& t, std::string* out) const {
  const bool text_first = p.kind == kText || p.kind == kRepeat;
  int cost = Move(t, v_, p.row, p.col, text_first, out) + Sgr(v_, t, p.attr, out) + p.body;
  if (out) {
    const int len = p.end - p.col;
    switch (p.kind) {
      case kText: {
        const Cell* w = &want_.At(p.row, p.col);
        for (int c = 0; c < len; ++c) {
          std::string_view glyph = glyphs_.text[w[c].ch];
          if (glyph.size() == 1) {
            out->push_back(glyph[0]);
          } else {
            out->append(glyph);
          }
        }
        break;
      }
      case kRepeatOver:
        AppendCsiN(*out, p.guard, 'X');
        [[fallthrough]];
      case kRepeat:
        out->push_back(' ');
        AppendCsiN(*out, len - 1, 'b');
        break;
      case kErase:
        AppendCsiN(*out, len, 'X');
        break;
      case kEraseToEnd:
        *out += "\x1b[K";
        break;
    }
  }
  if (p.kind == kText) {
    if (p.end - 1 == v_.term_cols) {
      t.col = 0;
      t.wrap_pending = true;
    } else {
      t.col = p.end;
    }
  } else if (p.kind == kRepeat || p.kind == kRepeatOver) {
    // Also where the repeat ended in the window's last column (a wrap is
    // pending there, as after text): the next motion then sets the column
    // absolutely (CR, CHA, CUP), which ends the pending wrap too.
    t.col = 0;
  }
  return cost;
}

int FlushPlanner::CostInOrder(Term t) const {
  int cost = 0;
  for (const Piece& p : *pieces_) cost += Step(p, t, nullptr);
  return cost + f_.CursorCost(t);
}

// Next, always the piece cheapest to reach (cursor motion and colour
// change): among the first few left in row order, and those further on that
// need no colour change. Leaves the order in r_.order_.
int FlushPlanner::CostCheapestFirst(Term t) {
  constexpr int kLookAhead = 6, kSameColour = 8, kScan = 32;
  const std::vector<Piece>& pieces = *pieces_;
  std::vector<int>& left = r_.left_;
  std::vector<int>& order = r_.order_;
  left.resize(pieces.size());
  for (size_t i = 0; i < pieces.size(); ++i) left[i] = static_cast<int>(i);
  order.clear();
  int total = 0;
  while (!left.empty()) {
    size_t best = 0;
    int best_cost = kFar, same_colour = 0;
    const size_t scan = std::min<size_t>(left.size(), kScan);
    for (size_t j = 0; j < scan && best_cost > 0; ++j) {
      const Piece& p = pieces[left[j]];
      bool same = t.sgr_known && t.sgr == p.attr;
      if (j >= kLookAhead && !(same && same_colour++ < kSameColour)) continue;
      const int cost = MoveBytes(t, v_, p.row, p.col, p.kind == kText || p.kind == kRepeat) +
                       SgrBytes(v_, t, p.attr);
      if (cost < best_cost) best_cost = cost, best = j;
    }
    total += Step(pieces[left[best]], t, nullptr);
    order.push_back(left[best]);
    left.erase(left.begin() + static_cast<std::ptrdiff_t>(best));
  }
  return total + f_.CursorCost(t);
}

// ---- Plans ----

// About the bytes of painting rows [top, last] after an erase in `fill`: every
// character, runs of blanks (cut short where long; none where the erase
// left them right), a colour change wherever the colours change, and a
// motion into each row and after each cut run.
int FlushPlanner::ErasedEstimate(int top, Attr fill) const {
  int estimate = 0;
  for (int r = top; r <= v_.rows; ++r) {
    const Cell* w = WantRow(r);
    Attr colours = w[0].attr;
    estimate += 3;
    for (int c = 0; c < v_.cols;) {
      const Cell& cell = w[c];
      if (cell.attr != colours) estimate += 5, colours = cell.attr;
      if (!IsBlank(cell)) {
        estimate += static_cast<int>(glyphs_.text[cell.ch].size());
        ++c;
        continue;
      }
      int q = c + 1;
      while (q < v_.cols && IsBlank(w[q]) && w[q].attr == cell.attr) ++q;
      const int len = q - c;
      if (cell.attr != fill || !v_.EraseExact(fill)) {
        const bool cut = v_.EraseExact(cell.attr) || v_.repeat;
        estimate += len >= 6 && cut ? 5 + (q < v_.cols ? 4 : 0) : len;
      }
      c = q;
    }
  }
  return estimate;
}

// A plan: `ops` (already leaving the terminal in `after_ops`), then painting
// the rows, each as r_.rows_ says the terminal shows it then (r_.plan_text_:
// its changed cells that are not blanks, -1 when it is right). Kept when
// shorter in row order than the second best so far.
void FlushPlanner::TryPlan(const std::string& ops, const Term& after_ops) {
  // A lower bound first: a byte for each changed cell that is not a blank.
  int bound = static_cast<int>(ops.size());
  for (int r = 1; r <= v_.rows; ++r) bound += std::max(r_.plan_text_[r], 0);
  if (bound >= second_.cost) return;

  std::vector<Piece>& pieces = r_.trial_pieces_;
  pieces.clear();
  pieces_ = &pieces;
  for (int r = 1; r <= v_.rows; ++r) {
    if (r_.plan_text_[r] >= 0) PlanRow(r, r_.rows_[r], WantRow(r));
  }
  const int base = static_cast<int>(ops.size());
  const int cost = base + CostInOrder(after_ops);
  if (cost >= second_.cost) return;
  int floor = base;
  for (const Piece& p : pieces) floor += p.body;
  if (cost < best_.cost) std::swap(best_, second_);
  Kept& slot = cost < best_.cost ? best_ : second_;
  *slot.ops = ops;
  slot.pieces->swap(pieces);
  slot.term = after_ops;
  slot.cost = cost;
  slot.floor = floor;
}

void FlushPlanner::Plan(Term& term) {
  Renderer& r = r_;
  const int rows = v_.rows, cols = v_.cols;
  r.rows_.resize(rows + 1);
  r.plan_text_.resize(rows + 1);
  r.want_text_.assign(rows + 1, -1);
  r.shown_hash_.resize(rows + 1);
  r.want_hash_.resize(rows + 1);
  r.erased_rows_.resize(3 * static_cast<size_t>(cols));
  r.row_text_.resize(rows + 1);
  // The terminal's rows are the last flush's wanted rows, whose fingerprints
  // are kept, unless the screen was cleared since.
  const bool hashed = r.hashed_rows_ == rows && r.hashed_cols_ == cols;
  int first_changed = 0, changed = 0;
  for (int row = 1; row <= rows; ++row) {
    r.rows_[row] = &shown_.At(row, 1);
    if (hashed && r.same_rows_[row]) {
      // As at the last flush, which left the window showing it.
      r.want_hash_[row] = r.shown_hash_[row];
      r.row_text_[row] = -1;
      continue;
    }
    if (!hashed) r.shown_hash_[row] = HashCells(&shown_.At(row, 1), cols);
    r.want_hash_[row] = HashCells(WantRow(row), cols);
    // Rows with different fingerprints differ; the others are compared.
    r.row_text_[row] =
        r.shown_hash_[row] == r.want_hash_[row] && RowsSame(&shown_.At(row, 1), WantRow(row), cols)
            ? -1
            : ChangedText(&shown_.At(row, 1), WantRow(row), cols);
    if (r.row_text_[row] >= 0) {
      if (first_changed == 0) first_changed = row;
      ++changed;
    }
  }
  auto reset_rows = [&] {
    for (int row = 1; row <= rows; ++row) {
      r.rows_[row] = &shown_.At(row, 1);
      r.plan_text_[row] = r.row_text_[row];
    }
  };
  reset_rows();
  // A row erased in fills[k]: the k-th of the erased rows.
  auto erased_row = [&](int k, Attr fill) {
    Cell* row = &r.erased_rows_[static_cast<size_t>(k) * cols];
    std::fill(row, row + cols, v_.ErasedCell(fill));
    return row;
  };
  // Row `row` shown erased in `fill`: in colours other than the terminal's
  // own every cell differs, so only the wanted characters count.
  auto set_erased = [&](int row, const Cell* blank, Attr fill) {
    r.rows_[row] = blank;
    if (!v_.EraseExact(fill)) {
      if (r.want_text_[row] < 0) {
        const Cell* w = WantRow(row);
        r.want_text_[row] = static_cast<int>(
            std::count_if(w, w + cols, [](const Cell& cell) { return !IsBlank(cell); }));
      }
      r.plan_text_[row] = r.want_text_[row];
    } else {
      r.plan_text_[row] = ChangedText(blank, WantRow(row), cols);
    }
  };
  std::string& ops = r.trial_out_;
  Term t;
  Attr fills[3];  // at most the current colours and two more

  // A band of rows moved up or down: scroll it, then paint.
  RowShift shifts[2];
  const int found = changed > 0 ? FindRowShifts(v_, r.shown_hash_, r.want_hash_, shifts, 2) : 0;
  for (int i = 0; i < found; ++i) {
    const RowShift& shift = shifts[i];
    const int free_top = shift.by > 0 ? shift.bottom - shift.by + 1 : shift.top;
    const int free_bottom = shift.by > 0 ? shift.bottom : shift.top - shift.by - 1;
    const int n = FillCandidates(v_, want_, free_top, free_bottom, &term.sgr, 2, fills);
    for (int row = shift.top; row <= shift.bottom; ++row) {
      const int src = row + shift.by;
      if (src < shift.top || src > shift.bottom) continue;
      r.rows_[row] = &shown_.At(src, 1);
      // Rows whose fingerprints differ differ (their characters are not
      // counted: the bound is only weaker); the others are compared.
      r.plan_text_[row] = r.shown_hash_[src] == r.want_hash_[row]
                              ? ChangedText(r.rows_[row], WantRow(row), cols)
                              : 0;
    }
    for (int k = 0; k < n; ++k) {
      ops.clear();
      t = term;
      ScrollRows(v_, shift, fills[k], t, ops);
      const Cell* blank = erased_row(k, fills[k]);
      for (int row = free_top; row <= free_bottom; ++row) set_erased(row, blank, fills[k]);
      TryPlan(ops, t);
    }
    reset_rows();
  }

  // Rows moved sideways: DCH/ICH, then paint. These drag window cells
  // outside the grid along, so only where the grid reaches the window's
  // right edge; not worth a search when what was found leaves little to do.
  const bool cheap_already = best_.cost <= 8 * changed;
  const int by = v_.term_cols <= cols && changed > 1 && !cheap_already
                     ? FindColumnShift(v_, shown_, want_, r.votes_)
                     : 0;
  if (by != 0 && (by > 0 ? by : -by) < cols) {
    r.shifted_rows_.resize(static_cast<size_t>(rows) * cols);
    const int n = FillCandidates(v_, want_, 1, rows, &term.sgr, 1, fills);
    for (int k = 0; k < n; ++k) {
      ops.clear();
      t = term;
      Sgr(v_, t, fills[k], &ops);
      int shifted = 0;
      for (int row = 1; row <= rows; ++row) {
        const Cell* s = &shown_.At(row, 1);
        const Cell* w = WantRow(row);
        const int c0 = FirstDiff(cols, s, w);
        if (c0 == 0 || (by > 0 ? by : -by) > cols - c0) continue;
        Cell* moved = &r.shifted_rows_[static_cast<size_t>(row - 1) * cols];
        std::copy(s, s + cols, moved);
        const ColShift op{row, c0, by};
        ShiftRowCells(v_, op, fills[k], moved);
        // Worth it where it puts right more cells than the sequence costs.
        int gain = 0;
        for (int c = c0 - 1; c < cols; ++c) gain += !Same(s[c], w[c]) - !Same(moved[c], w[c]);
        if (gain <= 8) continue;
        Move(t, v_, row, c0, false, &ops);
        AppendCsiN(ops, by > 0 ? by : -by, by > 0 ? 'P' : '@');
        r.rows_[row] = moved;
        r.plan_text_[row] = ChangedText(moved, w, cols);
        ++shifted;
      }
      if (shifted > 0) TryPlan(ops, t);
      reset_rows();
    }
  }

  // Most of the screen to change: erase from the first changed row to the
  // end of the screen (ED), then paint, in the colours wanted most (where
  // the terminal does not erase them exactly, their background still spares
  // blanked runs a second erase).
  // It writes every character wanted there: at least the changed ones.
  int changed_text = 0;
  for (int row = first_changed; row <= rows && first_changed > 0; ++row) {
    changed_text += std::max(r.row_text_[row], 0);
  }
  const bool most_changed = changed * 2 > rows;
  // Painting only: for a large change first, so that it bounds the erase;
  // for a small one last, where the bound cuts it off.
  if (most_changed) {
    ops.clear();
    TryPlan(ops, term);
  }
  if (most_changed && changed_text < second_.cost) {
    // The two colours wanted most, and the terminal's own.
    int n = FillCandidates(v_, want_, first_changed, rows, nullptr, 2, fills);
    if (std::find(fills, fills + n, kTermDefaultAttr) == fills + n &&
        WantsDefault(want_, first_changed, rows, cols)) {
      fills[n++] = kTermDefaultAttr;
    }
    for (int k = 0; k < n; ++k) {
      if (!v_.EraseBelowOk(fills[k]) || ErasedEstimate(first_changed, fills[k]) >= best_.cost) {
        continue;
      }
      ops.clear();
      t = term;
      Move(t, v_, first_changed, 1, false, &ops);
      Sgr(v_, t, fills[k], &ops);
      ops += "\x1b[J";
      const Cell* blank = erased_row(k, fills[k]);
      for (int row = first_changed; row <= rows; ++row) set_erased(row, blank, fills[k]);
      TryPlan(ops, t);
      reset_rows();
    }
  }

  if (!most_changed) {
    ops.clear();
    TryPlan(ops, term);
  }

  // The other order where it may win. It saves motion and colours only,
  // rarely more than half of them (what row order spends beyond the floor).
  Kept* winner = &best_;
  int winner_cost = best_.cost;
  bool cheapest_first = false;
  for (Kept* kept : {&best_, &second_}) {
    pieces_ = kept->pieces;
    if (kept->pieces->size() < 2 || (kept->cost + kept->floor) / 2 >= winner_cost) continue;
    const int cost = static_cast<int>(kept->ops->size()) + CostCheapestFirst(kept->term);
    if (cost < winner_cost) {
      winner = kept, winner_cost = cost, cheapest_first = true;
      r.best_order_.swap(r.order_);
    }
  }
  // The winner's bytes, then its pieces in their order.
  if (winner->ops != &r.best_out_) r.best_out_.swap(*winner->ops);
  term = winner->term;
  const std::vector<Piece>& pieces = *winner->pieces;
  if (!cheapest_first) {
    for (const Piece& p : pieces) Step(p, term, &r.best_out_);
  } else {
    for (int i : r.best_order_) Step(pieces[i], term, &r.best_out_);
  }
}

void Renderer::SetCaps(const TermCaps& caps) {
  caps_ = caps;
  valid_ = false;
}

TermCaps CapsForTerm(std::string_view term) {
  auto starts = [term](std::string_view prefix) { return term.substr(0, prefix.size()) == prefix; };
  TermCaps caps;
  // The console's own names: linux, linux-16color ..., con80x25 ...
  const bool console_size = starts("con") && term.size() > 3 && term[3] >= '0' && term[3] <= '9';
  if (term == "linux" || starts("linux-") || console_size) {
    caps.erase = EraseColours::kBothNormal;
    caps.repeat = false;
    caps.scroll_sequences = false;
    caps.bright_by_attributes = true;
    caps.linux_keys = true;
  } else if (starts("xterm") || starts("vte") || starts("gnome") || starts("konsole") ||
             starts("kitty") || starts("alacritty") || starts("foot") || starts("wezterm") ||
             starts("putty") || starts("st-") || term == "st") {
    // They erase in the colours in force, both halves.
    caps.erase = EraseColours::kBoth;
  } else if (!starts("tmux")) {
    // GNU screen, and terminals not known: blanks in colours are written as
    // spaces, which is right even where an erase takes no colour at all.
    caps.repeat = false;
    // DL/IL are older than SU/SD and more widely kept.
    if (!starts("screen")) caps.scroll_sequences = false;
  }
  return caps;
}

std::string_view Renderer::RestoreSequence() {
  return kRestore;
}

void Renderer::Render(const Grid& wanted, std::string& out) {
  if (wanted.rows < 1 || wanted.cols < 1 ||
      wanted.cells.size() != static_cast<size_t>(wanted.rows) * wanted.cols) {
    return;
  }
  const GlyphTable& glyphs = Glyphs(caps_.utf8);
  if (!valid_ || shown_.rows != wanted.rows || shown_.cols != wanted.cols) {
    // Clear with the terminal's own colours: also cleans a window larger
    // than the grid.
    out += kClearAll;
    shown_.rows = wanted.rows;
    shown_.cols = wanted.cols;
    shown_.cells.assign(wanted.cells.size(), Cell{' ', kTermDefaultAttr});
    hashed_rows_ = hashed_cols_ = 0;
    last_wanted_valid_ = false;
    term_row_ = term_col_ = 1;
    wrap_pending_ = false;
    sgr_ = kTermDefaultAttr;
    sgr_known_ = true;
    cursor_shown_known_ = false;
    valid_ = true;
  }

  // Each row in its displayed form; a row as at the last flush is that
  // already.
  want_.rows = wanted.rows;
  want_.cols = wanted.cols;
  want_.cells.resize(wanted.cells.size());
  last_wanted_.resize(wanted.cells.size());
  same_rows_.assign(static_cast<size_t>(wanted.rows) + 1, 0);
  const int cols = wanted.cols;
  for (int r = 1; r <= wanted.rows; ++r) {
    const size_t at = static_cast<size_t>(r - 1) * cols;
    const Cell* raw = &wanted.cells[at];
    if (last_wanted_valid_ && RowsSame(raw, &last_wanted_[at], cols)) {
      same_rows_[r] = 1;
      continue;
    }
    std::copy_n(raw, cols, &last_wanted_[at]);
    for (int c = 0; c < cols; ++c) {
      want_.cells[at + c] =
          Cell{glyphs.canon[raw[c].ch], NormalAttr(raw[c].attr, caps_.steady_backgrounds)};
    }
  }
  last_wanted_valid_ = true;

  View view;
  view.term_rows = std::max(caps_.rows, 0);
  view.term_cols = std::max(caps_.cols, 0);
  view.erase = caps_.erase;
  view.repeat = caps_.repeat;
  view.scroll_sequences = caps_.scroll_sequences;
  view.bright_by_attributes = caps_.bright_by_attributes;
  view.rows = std::min(wanted.rows, view.term_rows);
  view.cols = std::min(wanted.cols, view.term_cols);
  Term term{term_row_, term_col_, wrap_pending_, sgr_, sgr_known_};

  const bool show = wanted.cursor_visible;
  if (!show && (!cursor_shown_known_ || cursor_shown_)) out += "\x1b[?25l";
  if (view.rows > 0 && view.cols > 0) {
    Flush flush;
    flush.view = view;
    flush.glyphs = &glyphs;
    flush.want = &want_;
    if (show) {
      flush.cursor_row = std::clamp(wanted.cursor_row, 1, view.term_rows);
      flush.cursor_col = std::clamp(wanted.cursor_col, 1, view.term_cols);
      flush.can_restore = term.row == flush.cursor_row && term.col == flush.cursor_col;
    }
    const Term start = term;
    best_out_.clear();
    FlushPlanner(*this, flush).Plan(term);
    // What the window shows of the grid is now the grid.
    for (int r = 1; r <= view.rows; ++r) {
      std::copy_n(&want_.At(r, 1), view.cols, &shown_.At(r, 1));
    }
    shown_hash_.swap(want_hash_);
    hashed_rows_ = view.rows;
    hashed_cols_ = view.cols;
    // The cursor goes back where it was: saving and restoring it (DECSC,
    // DECRC; the colours come back with it) may beat moving it.
    Term probe = term;
    if (show && flush.can_restore && !best_out_.empty() &&
        Move(probe, view, flush.cursor_row, flush.cursor_col, false, nullptr) > 4) {
      out +=
          "\x1b"
          "7";
      out += best_out_;
      out +=
          "\x1b"
          "8";
      term = start;
    } else {
      out += best_out_;
      if (show) Move(term, view, flush.cursor_row, flush.cursor_col, false, &out);
    }
  }
  if (show && (!cursor_shown_known_ || !cursor_shown_)) out += "\x1b[?25h";
  cursor_shown_ = show;
  cursor_shown_known_ = true;

  term_row_ = term.row;
  term_col_ = term.col;
  wrap_pending_ = term.wrap_pending;
  sgr_ = term.sgr;
  sgr_known_ = term.sgr_known;
}

}  // namespace q7t
