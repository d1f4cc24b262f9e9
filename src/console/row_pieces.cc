// The pieces a flush writes each changed row with, their bytes, and the
// order they are written in.
#include "console/flush_planner.h"

#include <algorithm>

namespace q7t::paint {

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
    const int q = BlankRunEnd(w, c, to);
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
  if (len < 3 || !v_.caps.repeat) return false;
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
  int after = tail ? 0 : ChooseHoriz(0, q + 1).bytes;
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
    if (p.end - 1 == v_.caps.cols) {
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
// need no colour change. Leaves the order in m_.order.
int FlushPlanner::CostCheapestFirst(Term t) {
  constexpr int kLookAhead = 6, kSameColour = 8, kScan = 32;
  const std::vector<Piece>& pieces = *pieces_;
  std::vector<int>& left = m_.left;
  std::vector<int>& order = m_.order;
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
      const int cost =
          ChooseMove(t, v_.caps.rows, p.row, p.col, p.kind == kText || p.kind == kRepeat).bytes +
          ChooseSgr(t, p.attr, v_.caps.bright_by_attributes).bytes;
      if (cost < best_cost) best_cost = cost, best = j;
    }
    total += Step(pieces[left[best]], t, nullptr);
    order.push_back(left[best]);
    left.erase(left.begin() + static_cast<std::ptrdiff_t>(best));
  }
  return total + f_.CursorCost(t);
}

}  // namespace q7t::paint
