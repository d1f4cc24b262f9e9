// The ECMA-48 / xterm control sequences the renderer writes: numbers, the
// terminal state they change, and the bytes of each cursor motion and colour
// change.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>

#include "console/view.h"

namespace q7t::paint {

// ---- Numbers and control sequences ----

inline int Digits(int n) {
  if (n < 10) return 1;
  if (n < 100) return 2;
  if (n < 1000) return 3;
  int d = 4;
  for (n /= 10000; n > 0; n /= 10) ++d;
  return d;
}

inline void AppendNum(std::string& out, int n) {
  char buf[12];
  auto res = std::to_chars(buf, buf + sizeof buf, n);
  out.append(buf, res.ptr);
}

// CSI n <final>, the parameter left out when it is 1, its default.
inline int CsiNCost(int n) {
  return n == 1 ? 3 : 3 + Digits(n);
}
inline void AppendCsiN(std::string& out, int n, char final) {
  out += "\x1b[";
  if (n != 1) AppendNum(out, n);
  out.push_back(final);
}

// ---- Terminal state and the steps that change it ----

// What the terminal's cursor and colours are, as far as known.
struct Term {
  int row = 0, col = 0;       // 1-based; 0 = unknown
  bool wrap_pending = false;  // the last window column was written: col unknown
  Attr sgr = kTermDefaultAttr;
  bool sgr_known = false;
};

// PC colour numbers have blue in bit 0 and red in bit 2; ANSI the reverse.
inline int AnsiColour(int pc) {
  return (pc & 2) | ((pc & 1) << 2) | ((pc >> 2) & 1);
}
inline int FgParam(Attr a) {
  return ((a & 8) ? 90 : 30) + AnsiColour(a & 7);
}
inline int BgParam(Attr a) {
  return ((a & 0x80) ? 100 : 40) + AnsiColour((a >> 4) & 7);
}

// One colour change from `t` to `a`: SGR 0 for the terminal's own colours,
// else the parameters, naming only the half that changes when the other
// stays (both halves from the terminal's defaults). With
// `bright_by_attributes` (the Linux console) a bright foreground also sets
// bold and a bright background is blink: leaving them takes SGR 22 or 25 as
// well. `bytes` is 0 when the colours are in force already.
struct SgrStep {
  int bytes = 0;
  int n = 0;  // parameters; none: SGR 0
  int p[4] = {};
};

inline SgrStep ChooseSgr(const Term& t, Attr a, bool bright_by_attributes) {
  SgrStep s;
  if (t.sgr_known && t.sgr == a) return s;
  if (a == kTermDefaultAttr) {
    s.bytes = 3;
    return s;
  }
  const bool from_known = t.sgr_known && t.sgr != kTermDefaultAttr;
  const bool fg = !from_known || (t.sgr & 0x0F) != (a & 0x0F);
  const bool bg = !from_known || (t.sgr & 0xF0) != (a & 0xF0);
  if (!bright_by_attributes) {
    if (fg) s.p[s.n++] = FgParam(a);
    if (bg) s.p[s.n++] = BgParam(a);
  } else {
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
  }
  s.bytes = 3 + s.n - 1;
  for (int i = 0; i < s.n; ++i) s.bytes += Digits(s.p[i]);
  return s;
}

// Up or down within a column: LF (the output is not post-processed, so the
// column stays) or RI for one row, CUD/CUU, or VPA; the shortest.
struct VertStep {
  enum Kind : std::uint8_t { kNone, kLf, kRi, kCud, kCuu, kVpa } kind = kNone;
  int n = 0;  // rows for CUD/CUU, the row for VPA
  int bytes = 0;
};

inline VertStep ChooseVert(int from, int to) {
  const int d = to - from;
  if (d == 0) return {};
  VertStep rel;
  if (d == 1) {
    rel = {VertStep::kLf, 1, 1};
  } else if (d == -1) {
    rel = {VertStep::kRi, 1, 2};
  } else {
    const int n = d > 0 ? d : -d;
    rel = {d > 0 ? VertStep::kCud : VertStep::kCuu, n, CsiNCost(n)};
  }
  const int vpa = to == 1 ? 3 : 3 + Digits(to);
  return rel.bytes <= vpa ? rel : VertStep{VertStep::kVpa, to, vpa};
}

// Along a row from column `from` (0 = unknown): CR, CR + CUF, CHA, CUF,
// CUB, or a few backspaces; the shortest, the first of these on a tie.
struct HorizStep {
  enum Kind : std::uint8_t { kNone, kCr, kCha, kCuf, kCub, kBs } kind = kNone;
  int n = 0;  // the column for CR (+ CUF) and CHA, else the columns moved
  int bytes = 0;
};

inline HorizStep ChooseHoriz(int from, int to) {
  if (from == to) return {};
  HorizStep best{HorizStep::kCr, to, to == 1 ? 1 : 1 + CsiNCost(to - 1)};
  auto take = [&best](HorizStep::Kind kind, int n, int bytes) {
    if (bytes < best.bytes) best = {kind, n, bytes};
  };
  take(HorizStep::kCha, to, to == 1 ? 3 : 3 + Digits(to));
  if (from != 0) {
    const int d = to - from;
    if (d > 0) take(HorizStep::kCuf, d, CsiNCost(d));
    if (d < 0) {
      take(HorizStep::kCub, -d, CsiNCost(-d));
      if (-d <= 3) take(HorizStep::kBs, -d, -d);
    }
  }
  return best;
}

// The cursor to (r, c): CUP, NEL and a motion along the row below, or a
// motion up or down and one along the row; the shortest, in that order on
// a tie. With `text_next`, a character follows at once: from a pending wrap
// at the end of the row above, that character lands there itself (no bytes).
struct MoveStep {
  enum Kind : std::uint8_t { kNone, kCup, kNel, kSteps } kind = kNone;
  int row = 0, col = 0;  // for CUP
  VertStep vert;         // for kSteps
  HorizStep horiz;       // for kNel and kSteps
  int bytes = 0;
};

inline MoveStep ChooseMove(const Term& t, int term_rows, int r, int c, bool text_next) {
  MoveStep m;
  if (t.row == r && t.col == c) return m;
  if (t.wrap_pending && text_next && r == t.row + 1 && c == 1 && t.row < term_rows) return m;
  m.kind = MoveStep::kCup;
  m.row = r;
  m.col = c;
  m.bytes = 3 + (r > 1 ? Digits(r) : 0) + (c > 1 ? 1 + Digits(c) : 0);
  if (t.row == 0) return m;
  if (r == t.row + 1) {
    const HorizStep h = ChooseHoriz(1, c);
    if (2 + h.bytes < m.bytes) m.kind = MoveStep::kNel, m.horiz = h, m.bytes = 2 + h.bytes;
  }
  const VertStep v = ChooseVert(t.row, r);
  const HorizStep h = ChooseHoriz(t.col, c);
  if (v.bytes + h.bytes < m.bytes) {
    m.kind = MoveStep::kSteps, m.vert = v, m.horiz = h, m.bytes = v.bytes + h.bytes;
  }
  return m;
}

// The bytes of each step (exactly its `bytes` of them).
void AppendStep(const SgrStep& s, std::string& out);
void AppendStep(const VertStep& s, std::string& out);
void AppendStep(const HorizStep& s, std::string& out);
void AppendStep(const MoveStep& s, std::string& out);

// The colours to `a`, appended to `out` when given; `t` follows whether or
// not the bytes are wanted. Returns the bytes.
inline int Sgr(const View& v, Term& t, Attr a, std::string* out) {
  const SgrStep s = ChooseSgr(t, a, v.caps.bright_by_attributes);
  if (out != nullptr && s.bytes > 0) AppendStep(s, *out);
  t.sgr = a;
  t.sgr_known = true;
  return s.bytes;
}

// The bytes of changing the colours from `from` to `to`.
inline int SgrCost(const View& v, Attr from, Attr to) {
  Term t;
  t.sgr = from;
  t.sgr_known = true;
  return ChooseSgr(t, to, v.caps.bright_by_attributes).bytes;
}

// The cursor to (r, c) as ChooseMove says, appended to `out` when given;
// `t` follows. Returns the bytes.
inline int Move(Term& t, const View& v, int r, int c, bool text_next, std::string* out) {
  const MoveStep m = ChooseMove(t, v.caps.rows, r, c, text_next);
  if (out != nullptr && m.bytes > 0) AppendStep(m, *out);
  t.row = r;
  t.col = c;
  t.wrap_pending = false;
  return m.bytes;
}

}  // namespace q7t::paint
