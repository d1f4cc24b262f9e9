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

// ---- Terminal state and the cost of changing it ----

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
inline void AppendCup(std::string& out, int r, int c) {
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

}  // namespace q7t::paint
