// The renderer: compares the wanted grid with the copy of what the terminal
// shows and writes the fewest bytes it finds that close the gap.
#include "console/render.h"

#include <algorithm>
#include <array>
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

int Digits(int n) {
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
int CsiNCost(int n) {
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

Attr NormalAttr(Attr a) {
  return a > 0xFF ? kTermDefaultAttr : a;
}
bool IsBlank(const Cell& c) {
  return c.ch == ' ';
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

bool RowsEqual(const Cell* a, const Cell* b, int cols) {
  std::uint32_t diff = 0;
  for (int c = 0; c < cols; ++c) diff |= Packed(a[c]) ^ Packed(b[c]);
  return diff == 0;
}

// ---- Terminal state and the cost of changing it ----

struct Term {
  int row = 0, col = 0;       // 1-based; 0 = unknown
  bool wrap_pending = false;  // the last window column was written: col unknown
  Attr sgr = kTermDefaultAttr;
  bool sgr_known = false;
};

// The part of the grid the window shows, and the window itself.
struct View {
  int rows = 0, cols = 0;
  int term_rows = 0, term_cols = 0;
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

// SGR from `t` to `a`: one sequence, naming only the half that changes when
// the other stays (both halves from the terminal's defaults).
int Sgr(Term& t, Attr a, std::string* out) {
  if (t.sgr_known && t.sgr == a) return 0;
  int cost;
  if (a == kTermDefaultAttr) {
    cost = 3;
    if (out) *out += "\x1b[m";
  } else {
    bool fg = true, bg = true;
    if (t.sgr_known && t.sgr != kTermDefaultAttr) {
      fg = (t.sgr & 0x0F) != (a & 0x0F);
      bg = (t.sgr & 0xF0) != (a & 0xF0);
    }
    int fp = FgParam(a), bp = BgParam(a);
    cost = 3 + (fg ? 2 : 0) + (bg ? Digits(bp) : 0) + (fg && bg ? 1 : 0);
    if (out) {
      *out += "\x1b[";
      if (fg) AppendNum(*out, fp);
      if (fg && bg) out->push_back(';');
      if (bg) AppendNum(*out, bp);
      out->push_back('m');
    }
  }
  if (out) {
    t.sgr = a;
    t.sgr_known = true;
  }
  return cost;
}

int SgrCost(Attr from, Attr to) {
  Term t;
  t.sgr = from;
  t.sgr_known = true;
  return Sgr(t, to, nullptr);
}

// Up or down within a column: IND/RI for one row, CUD/CUU, or VPA.
int Vert(int from, int to, std::string* out) {
  int d = to - from;
  if (d == 0) return 0;
  int rel = (d == 1 || d == -1) ? 2 : CsiNCost(d > 0 ? d : -d);
  int vpa = to == 1 ? 3 : 3 + Digits(to);
  if (out) {
    if (rel <= vpa) {
      if (d == 1) {
        *out +=
            "\x1b"
            "D";
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
int Horiz(int from, int to, std::string* out) {
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

int CupCost(int r, int c) {
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
int Move(Term& t, const View& v, int r, int c, bool text_next, std::string* out) {
  int cost = 0;
  if (t.row == r && t.col == c) {
    cost = 0;
  } else if (t.wrap_pending && text_next && r == t.row + 1 && c == 1 && t.row < v.term_rows) {
    cost = 0;
  } else {
    int cup = CupCost(r, c);
    int rel = kFar, nel = kFar;
    if (t.row != 0) {
      rel = Vert(t.row, r, nullptr) + Horiz(t.col, c, nullptr);
      if (r == t.row + 1) nel = 2 + Horiz(1, c, nullptr);
    }
    cost = std::min({cup, rel, nel});
    if (out) {
      if (cup == cost) {
        AppendCup(*out, r, c);
      } else if (nel == cost) {
        *out +=
            "\x1b"
            "E";
        Horiz(1, c, out);
      } else {
        Vert(t.row, r, out);
        Horiz(t.col, c, out);
      }
    }
  }
  if (out) {
    t.row = r;
    t.col = c;
    t.wrap_pending = false;
  }
  return cost;
}

// ---- Painting cells ----

constexpr int kEraseLine = -1;

// A piece of one row: columns [col, text_end) written, then optionally
// `erase` columns (or the rest of the line) blanked without moving.
struct Segment {
  int row = 0;
  int col = 0;
  int text_end = 0;
  int erase = 0;
  Attr erase_attr = kTermDefaultAttr;
  Attr FirstAttr(const Grid& want) const {
    return text_end > col ? want.At(row, col).attr : erase_attr;
  }
};

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

class Painter {
 public:
  Painter(const Flush& flush, Grid& shown, Term& term, std::string& out, std::string& alt)
      : f_(flush),
        v_(flush.view),
        glyphs_(*flush.glyphs),
        want_(*flush.want),
        shown_(shown),
        term_(term),
        out_(out),
        alt_(alt) {}

  // Brings every visible cell in line with the wanted grid: the segments in
  // row order, or as the cheapest next one each time, whichever is shorter.
  void PaintRows() {
    segs_.clear();
    for (int r = 1; r <= v_.rows; ++r) {
      if (!RowsEqual(&shown_.At(r, 1), &want_.At(r, 1), v_.cols)) PlanRow(r);
    }
    const Term start = term_;
    const size_t base = out_.size();
    for (const Segment& s : segs_) Emit(s, term_, out_);
    if (segs_.size() < 2) return;
    Term greedy = start;
    alt_.clear();
    EmitCheapestFirst(greedy);
    if (alt_.size() + f_.CursorCost(greedy) < out_.size() - base + f_.CursorCost(term_)) {
      out_.resize(base);
      out_ += alt_;
      term_ = greedy;
    }
  }

 private:
  const Cell& W(int r, int c) const { return want_.At(r, c); }
  bool Differs(int r, int c) const {
    return !Same(shown_.cells[(r - 1) * shown_.cols + c - 1],
                 want_.cells[(r - 1) * want_.cols + c - 1]);
  }

  int TextCost(int r, int from, int to, Attr before, Attr after) const {
    int cost = 0;
    Attr a = before;
    for (int c = from; c < to; ++c) {
      cost += SgrCost(a, W(r, c).attr) + static_cast<int>(glyphs_.text[W(r, c).ch].size());
      a = W(r, c).attr;
    }
    return cost + SgrCost(a, after);
  }

  bool BlankToEnd(int r, int from, Attr a) const {
    for (int c = from; c <= v_.cols; ++c) {
      if (!IsBlank(W(r, c)) || W(r, c).attr != a) return false;
    }
    return true;
  }

  void PlanRow(int r) {
    int c = 1;
    while (true) {
      while (c <= v_.cols && !Differs(r, c)) ++c;
      if (c > v_.cols) return;
      int from = c, to = c;
      // Grow the cluster over unchanged cells when rewriting them is
      // cheaper than stepping over them.
      while (true) {
        while (to <= v_.cols && Differs(r, to)) ++to;
        int next = to;
        while (next <= v_.cols && !Differs(r, next)) ++next;
        if (next > v_.cols) break;
        Attr before = W(r, to - 1).attr, after = W(r, next).attr;
        int rewrite = TextCost(r, to, next, before, after);
        int skip = CsiNCost(next - to) + SgrCost(before, after);
        if (rewrite > skip) break;
        to = next;
      }
      AddCluster(r, from, to);
      c = to;
    }
  }

  // Columns [from, to) of row r to write, blank runs erased where cheaper.
  void AddCluster(int r, int from, int to) {
    int start = from;
    for (int c = from; c < to;) {
      if (!IsBlank(W(r, c))) {
        ++c;
        continue;
      }
      Attr a = W(r, c).attr;
      int end = c;
      while (end < to && IsBlank(W(r, end)) && W(r, end).attr == a) ++end;
      int len = end - c;
      bool tail = end == to;
      bool line = tail && v_.EraseLineOk(a) && BlankToEnd(r, end, a);
      int erase = line ? 3 : CsiNCost(len);
      if (tail ? erase < len : erase + CsiNCost(len) < len) {
        segs_.push_back({r, start, c, line ? kEraseLine : len, a});
        start = end;
      }
      c = end;
    }
    if (start < to) segs_.push_back({r, start, to, 0, kTermDefaultAttr});
  }

  // Next, always the segment cheapest to reach (cursor motion and colour
  // change): among the first few left in row order, and those that need no
  // colour change.
  void EmitCheapestFirst(Term& t) {
    constexpr int kLookAhead = 6, kSameColour = 16;
    left_.resize(segs_.size());
    for (size_t i = 0; i < segs_.size(); ++i) left_[i] = static_cast<int>(i);
    while (!left_.empty()) {
      size_t best = 0;
      int best_cost = kFar, same_colour = 0;
      for (size_t j = 0; j < left_.size() && best_cost > 0; ++j) {
        const Segment& s = segs_[left_[j]];
        Attr first = s.FirstAttr(want_);
        bool same = t.sgr_known && t.sgr == first;
        if (j >= kLookAhead && !(same && same_colour++ < kSameColour)) continue;
        int cost = Move(t, v_, s.row, s.col, s.text_end > s.col, nullptr) + Sgr(t, first, nullptr);
        if (cost < best_cost) best_cost = cost, best = j;
      }
      Emit(segs_[left_[best]], t, alt_);
      left_.erase(left_.begin() + static_cast<std::ptrdiff_t>(best));
    }
  }

  void Emit(const Segment& s, Term& t, std::string& out) const {
    Move(t, v_, s.row, s.col, s.text_end > s.col, &out);
    const Cell* want = &want_.At(s.row, 1);
    Cell* shown = &shown_.At(s.row, 1);
    for (int c = s.col - 1; c < s.text_end - 1; ++c) {
      const Cell& w = want[c];
      if (w.attr != t.sgr || !t.sgr_known) Sgr(t, w.attr, &out);
      std::string_view glyph = glyphs_.text[w.ch];
      if (glyph.size() == 1) {
        out.push_back(glyph[0]);
      } else {
        out.append(glyph);
      }
      shown[c] = w;
    }
    if (s.text_end > s.col) {
      if (s.text_end - 1 == v_.term_cols) {
        t.col = 0;
        t.wrap_pending = true;
      } else {
        t.col = s.text_end;
      }
    }
    if (s.erase != 0) {
      Sgr(t, s.erase_attr, &out);
      int end = s.erase == kEraseLine ? v_.cols + 1 : s.text_end + s.erase;
      if (s.erase == kEraseLine) {
        out += "\x1b[K";
      } else {
        AppendCsiN(out, s.erase, 'X');
      }
      for (int c = s.text_end; c < end; ++c) shown_.At(s.row, c) = Cell{' ', s.erase_attr};
    }
  }

  const Flush& f_;
  const View& v_;
  const GlyphTable& glyphs_;
  const Grid& want_;
  Grid& shown_;
  Term& term_;
  std::string& out_;
  std::string& alt_;
  std::vector<Segment> segs_;
  std::vector<int> left_;
};

// ---- Rows that moved ----

// A row's fingerprint: two sums of the cells weighted by their column, which
// the compiler vectorises. A collision only costs bytes, never the picture:
// every plan is checked cell by cell when painted.
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

std::uint64_t RowHash(const Grid& g, int r, int cols) {
  return HashCells(&g.At(r, 1), cols);
}

// The fingerprint of a row of blanks in colours `a`.
std::uint64_t BlankRowHash(int cols, Attr a) {
  Cell row[256];
  cols = std::min(cols, 256);
  std::fill(row, row + cols, Cell{' ', a});
  return HashCells(row, cols);
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

// Scrolls the band inside a scroll region (reset at once: the next flush
// finds the terminal clean); the rows left free take `fill`'s colours.
void ScrollRows(const View& v, const RowShift& s, Attr fill, Grid& shown, Term& t,
                std::string& out) {
  Sgr(t, fill, &out);
  const bool whole = s.top == 1 && s.bottom == v.term_rows;
  if (!whole) {
    out += "\x1b[";
    AppendNum(out, s.top);
    out.push_back(';');
    AppendNum(out, s.bottom);
    out.push_back('r');
  }
  AppendCsiN(out, s.by > 0 ? s.by : -s.by, s.by > 0 ? 'S' : 'T');
  if (!whole) {
    out += "\x1b[r";  // also homes the cursor
    t.row = 0;
  }
  t.col = t.wrap_pending ? 0 : t.col;
  if (!whole) t.col = 0;
  t.wrap_pending = false;
  const Cell blank{' ', fill};
  if (s.by > 0) {
    for (int r = s.top; r <= s.bottom; ++r) {
      for (int c = 1; c <= v.cols; ++c) {
        shown.At(r, c) = r + s.by <= s.bottom ? shown.At(r + s.by, c) : blank;
      }
    }
  } else {
    for (int r = s.bottom; r >= s.top; --r) {
      for (int c = 1; c <= v.cols; ++c) {
        shown.At(r, c) = r + s.by >= s.top ? shown.At(r + s.by, c) : blank;
      }
    }
  }
}

// ---- Rows whose content moved sideways ----

// One row's content from column `col` on moved left by `by` columns (right
// when negative): deleting (DCH) or inserting (ICH) characters there.
struct ColShift {
  int row = 0, col = 0, by = 0;
};

// Applies a shift to a row of `shown`, as the terminal does: the columns
// left free at the line's end (DCH) or at `col` (ICH) take `fill`.
void ShiftRowCells(const View& v, const ColShift& s, Attr fill, Cell* row) {
  const Cell blank{' ', fill};
  if (s.by > 0) {
    for (int c = s.col; c <= v.cols; ++c)
      row[c - 1] = c + s.by <= v.cols ? row[c - 1 + s.by] : blank;
  } else {
    for (int c = v.cols; c >= s.col; --c)
      row[c - 1] = c + s.by >= s.col ? row[c - 1 + s.by] : blank;
  }
}

int FirstDiff(const View& v, const Cell* shown, const Cell* want) {
  for (int c = 1; c <= v.cols; ++c) {
    if (!(shown[c - 1] == want[c - 1])) return c;
  }
  return 0;
}

// The distance most changed rows moved sideways by: where a stretch of
// wanted text from a row's first change is found elsewhere on the row the
// terminal shows. 0 when no distance has two rows for it.
int FindColumnShift(const View& v, const Grid& shown, const Grid& want) {
  constexpr int kProbe = 6;
  std::vector<int> votes(2 * v.cols + 1, 0);
  int best = 0, best_votes = 1;
  for (int r = 1; r <= v.rows; ++r) {
    const Cell* s = &shown.At(r, 1);
    const Cell* w = &want.At(r, 1);
    int first = FirstDiff(v, s, w);
    if (first == 0) continue;
    int last = v.cols;
    while (s[last - 1] == w[last - 1]) --last;
    // Probes at the first change and further on: text moved right leaves
    // new text at the start of the change.
    const int span = last - first;
    for (int p : {first, first + span / 2, first + span * 3 / 4}) {
      while (p <= v.cols && IsBlank(w[p - 1])) ++p;
      if (p + kProbe - 1 > v.cols) continue;
      for (int q = 1; q + kProbe - 1 <= v.cols; ++q) {
        if (q == p || !std::equal(w + p - 1, w + p - 1 + kProbe, s + q - 1)) continue;
        int k = q - p;
        if (++votes[k + v.cols] > best_votes) best_votes = votes[k + v.cols], best = k;
      }
    }
  }
  return best;
}

// The rows worth shifting by `by`: those where the shift puts right more
// cells than the sequence costs.
int PlanColumnShifts(const View& v, const Grid& shown, const Grid& want, int by, Attr fill,
                     ColShift* ops) {
  int n = 0;
  Cell row[256];
  if (v.cols > 256) return 0;
  for (int r = 1; r <= v.rows; ++r) {
    const Cell* s = &shown.At(r, 1);
    const Cell* w = &want.At(r, 1);
    int c0 = FirstDiff(v, s, w);
    if (c0 == 0 || (by > 0 ? by : -by) > v.cols - c0) continue;
    std::copy(s, s + v.cols, row);
    ColShift op{r, c0, by};
    ShiftRowCells(v, op, fill, row);
    int gain = 0;
    for (int c = c0 - 1; c < v.cols; ++c) gain += !(s[c] == w[c]) - !(row[c] == w[c]);
    if (gain > 8) ops[n++] = op;
  }
  return n;
}

void ShiftColumns(const View& v, const ColShift* ops, int n, Attr fill, Grid& shown, Term& t,
                  std::string& out) {
  Sgr(t, fill, &out);
  for (int i = 0; i < n; ++i) {
    const ColShift& op = ops[i];
    Move(t, v, op.row, op.col, false, &out);
    AppendCsiN(out, op.by > 0 ? op.by : -op.by, op.by > 0 ? 'P' : '@');
    ShiftRowCells(v, op, fill, &shown.At(op.row, 1));
  }
}

// Space reused by every flush, so that a flush does not allocate.
struct Scratch {
  Grid& best_shown;
  Grid& trial_shown;
  std::string& best_out;
  std::string& trial_out;
  std::string& alt_out;
  std::vector<std::uint64_t>& shown_hash;
  std::vector<std::uint64_t>& want_hash;
  std::vector<std::uint64_t>& trial_hash;
};

// The colours worth filling the rows a scroll frees with: the current one
// (no SGR needed), and those of the cells wanted there, most common first.
int FillCandidates(const Flush& f, int top, int bottom, Attr current, Attr* fills) {
  int n = 0;
  auto add = [&](Attr a) {
    if (!f.view.EraseLineOk(a)) a = kTermDefaultAttr;
    for (int i = 0; i < n; ++i) {
      if (fills[i] == a) return;
    }
    fills[n++] = a;
  };
  add(current);
  int counts[257] = {};
  for (int r = top; r <= bottom; ++r) {
    for (int c = 1; c <= f.view.cols; ++c) ++counts[f.want->At(r, c).attr];
  }
  for (int k = 0; k < 2; ++k) {
    int best = -1;
    for (int a = 0; a < 257; ++a) {
      if (counts[a] > 0 && (best < 0 || counts[a] > counts[best])) best = a;
    }
    if (best < 0) break;
    add(static_cast<Attr>(best));
    counts[best] = 0;
  }
  return n;
}

// Tries the ways of bringing the terminal in line (painting only, or first
// scrolling a band of rows) and keeps the shortest in best_out.
void PlanFlush(const Flush& f, Grid& shown, Term& term, Scratch& s) {
  const View& v = f.view;
  const Grid& want = *f.want;
  size_t best = static_cast<size_t>(-1);
  Term best_term = term;
  auto consider = [&](const Term& t) {
    size_t total = s.trial_out.size() + f.CursorCost(t);
    if (total >= best) return;
    best = total;
    s.trial_out.swap(s.best_out);
    s.trial_shown.cells.swap(s.best_shown.cells);
    best_term = t;
  };
  // At least one byte for each changed cell that is not a blank, on the rows
  // whose fingerprint differs (a collision only weakens the bound).
  auto bound = [&](const Grid& g) {
    size_t n = 0;
    for (int r = 1; r <= v.rows; ++r) {
      if (s.trial_hash[r] == s.want_hash[r]) continue;
      const Cell* a = &g.At(r, 1);
      const Cell* w = &want.At(r, 1);
      for (int c = 0; c < v.cols; ++c) n += !Same(a[c], w[c]) && !IsBlank(w[c]);
    }
    return n;
  };
  auto start_trial = [&](Term& t) {
    s.trial_out.clear();
    s.trial_shown = shown;
    s.trial_hash = s.shown_hash;
    t = term;
  };
  auto paint_trial = [&](Term& t) {
    if (s.trial_out.size() + bound(s.trial_shown) >= best) return;
    Painter(f, s.trial_shown, t, s.trial_out, s.alt_out).PaintRows();
    consider(t);
  };

  s.shown_hash.resize(v.rows + 1);
  s.want_hash.resize(v.rows + 1);
  int first_changed = 0, changed = 0;
  for (int r = 1; r <= v.rows; ++r) {
    s.shown_hash[r] = RowHash(shown, r, v.cols);
    s.want_hash[r] = RowHash(want, r, v.cols);
    if (s.shown_hash[r] != s.want_hash[r]) {
      if (first_changed == 0) first_changed = r;
      ++changed;
    }
  }
  Term t;
  Attr fills[3];

  // A band of rows moved up or down: scroll it, then paint.
  RowShift shifts[2];
  const int found = FindRowShifts(v, s.shown_hash, s.want_hash, shifts, 2);
  for (int i = 0; i < found; ++i) {
    const RowShift& shift = shifts[i];
    int free_top = shift.by > 0 ? shift.bottom - shift.by + 1 : shift.top;
    int free_bottom = shift.by > 0 ? shift.bottom : shift.top - shift.by - 1;
    int n = FillCandidates(f, free_top, free_bottom, term.sgr, fills);
    for (int k = 0; k < n; ++k) {
      start_trial(t);
      ScrollRows(v, shift, fills[k], s.trial_shown, t, s.trial_out);
      const std::uint64_t blank = BlankRowHash(v.cols, fills[k]);
      for (int r = shift.top; r <= shift.bottom; ++r) {
        int src = r + shift.by;
        s.trial_hash[r] = src >= shift.top && src <= shift.bottom ? s.shown_hash[src] : blank;
      }
      paint_trial(t);
    }
  }

  // Rows moved sideways: DCH/ICH, then paint. These drag window cells
  // outside the grid along, so only where the grid reaches the window's
  // right edge; not worth a search when scrolling left little to do.
  const bool cheap_already = best <= static_cast<size_t>(8 * changed);
  const int by =
      v.term_cols <= v.cols && changed > 1 && !cheap_already ? FindColumnShift(v, shown, want) : 0;
  if (by != 0) {
    int n = FillCandidates(f, 1, v.rows, term.sgr, fills);
    for (int k = 0; k < n; ++k) {
      ColShift ops[256];
      int count = PlanColumnShifts(v, shown, want, by, fills[k], ops);
      if (count == 0) continue;
      start_trial(t);
      ShiftColumns(v, ops, count, fills[k], s.trial_shown, t, s.trial_out);
      for (int i = 0; i < count; ++i) {
        s.trial_hash[ops[i].row] = RowHash(s.trial_shown, ops[i].row, v.cols);
      }
      paint_trial(t);
    }
  }

  // Most of the screen to change: erase from the first changed row to the
  // end of the screen (ED) in one colour, then paint. Every cell there that
  // is not a blank is then written: that bounds the plan before trying it.
  if (changed * 2 > v.rows) {
    int n = FillCandidates(f, first_changed, v.rows, term.sgr, fills);
    for (int k = 0; k < n; ++k) {
      if (!v.EraseBelowOk(fills[k])) continue;
      size_t must_write = 0;
      for (int r = first_changed; r <= v.rows; ++r) {
        const Cell* w = &want.At(r, 1);
        for (int c = 0; c < v.cols; ++c) must_write += !IsBlank(w[c]) || w[c].attr != fills[k];
      }
      if (must_write >= best) continue;
      start_trial(t);
      Move(t, v, first_changed, 1, false, &s.trial_out);
      Sgr(t, fills[k], &s.trial_out);
      s.trial_out += "\x1b[J";
      const std::uint64_t blank = BlankRowHash(v.cols, fills[k]);
      for (int r = first_changed; r <= v.rows; ++r) {
        for (int c = 1; c <= v.cols; ++c) s.trial_shown.At(r, c) = Cell{' ', fills[k]};
        s.trial_hash[r] = blank;
      }
      paint_trial(t);
    }
  }

  // Painting only.
  start_trial(t);
  paint_trial(t);

  shown.cells.swap(s.best_shown.cells);
  term = best_term;
}

}  // namespace

void Renderer::SetCaps(const TermCaps& caps) {
  caps_ = caps;
  valid_ = false;
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
    term_row_ = term_col_ = 1;
    wrap_pending_ = false;
    sgr_ = kTermDefaultAttr;
    sgr_known_ = true;
    cursor_shown_known_ = false;
    valid_ = true;
  }

  want_.rows = wanted.rows;
  want_.cols = wanted.cols;
  want_.cells.resize(wanted.cells.size());
  for (size_t i = 0; i < wanted.cells.size(); ++i) {
    want_.cells[i] = Cell{glyphs.canon[wanted.cells[i].ch], NormalAttr(wanted.cells[i].attr)};
  }

  View view;
  view.term_rows = std::max(caps_.rows, 0);
  view.term_cols = std::max(caps_.cols, 0);
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
    Scratch scratch{best_shown_, trial_shown_, best_out_,  trial_out_,
                    alt_out_,    shown_hash_,  want_hash_, trial_hash_};
    PlanFlush(flush, shown_, term, scratch);
    // The cursor goes back where it was: saving and restoring it (DECSC,
    // DECRC; the colours come back with it) may beat moving it.
    if (show && flush.can_restore && !best_out_.empty() &&
        Move(term, view, flush.cursor_row, flush.cursor_col, false, nullptr) > 4) {
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
