// Planning a flush: the strategies tried and the choice between them.
#include "console/flush_planner.h"

#include <algorithm>

#include "console/row_moves.h"

namespace q7t::paint {
namespace {

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
      const int q = BlankRunEnd(w, c, v_.cols);
      const int len = q - c;
      if (cell.attr != fill || !v_.EraseExact(fill)) {
        const bool cut = v_.EraseExact(cell.attr) || v_.caps.repeat;
        estimate += len >= 6 && cut ? 5 + (q < v_.cols ? 4 : 0) : len;
      }
      c = q;
    }
  }
  return estimate;
}

// A plan: `ops` (already leaving the terminal in `after_ops`), then painting
// the rows, each as m_.rows says the terminal shows it then (m_.plan_text:
// its changed cells that are not blanks, -1 when it is right). Kept when
// shorter in row order than the second best so far.
void FlushPlanner::TryPlan(const std::string& ops, const Term& after_ops) {
  // A lower bound first: a byte for each changed cell that is not a blank.
  int bound = static_cast<int>(ops.size());
  for (int r = 1; r <= v_.rows; ++r) bound += std::max(m_.plan_text[r], 0);
  if (bound >= second_.cost) return;

  std::vector<Piece>& pieces = m_.trial_pieces;
  pieces.clear();
  pieces_ = &pieces;
  for (int r = 1; r <= v_.rows; ++r) {
    if (m_.plan_text[r] >= 0) PlanRow(r, m_.rows[r], WantRow(r));
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

// Each row's fingerprint and changed characters. The terminal's rows are the
// last flush's wanted rows, whose fingerprints are kept, unless the screen
// was cleared since.
void FlushPlanner::CompareRows() {
  const int rows = v_.rows, cols = v_.cols;
  m_.rows.resize(rows + 1);
  m_.plan_text.resize(rows + 1);
  m_.want_text.assign(rows + 1, -1);
  m_.shown_hash.resize(rows + 1);
  m_.want_hash.resize(rows + 1);
  m_.erased_rows.resize(3 * static_cast<size_t>(cols));
  m_.row_text.resize(rows + 1);
  const bool hashed = m_.hashed_rows == rows && m_.hashed_cols == cols;
  for (int row = 1; row <= rows; ++row) {
    if (hashed && m_.same_rows[row]) {
      // As at the last flush, which left the window showing it.
      m_.want_hash[row] = m_.shown_hash[row];
      m_.row_text[row] = -1;
      continue;
    }
    const Cell* s = &shown_.At(row, 1);
    if (!hashed) m_.shown_hash[row] = HashCells(s, cols);
    m_.want_hash[row] = HashCells(WantRow(row), cols);
    // Rows with different fingerprints differ; the others are compared.
    m_.row_text[row] = m_.shown_hash[row] == m_.want_hash[row] && RowsSame(s, WantRow(row), cols)
                           ? -1
                           : ChangedText(s, WantRow(row), cols);
    if (m_.row_text[row] >= 0) {
      if (first_changed_ == 0) first_changed_ = row;
      ++changed_;
    }
  }
}

// Every row as the terminal shows it now.
void FlushPlanner::ResetRows() {
  for (int row = 1; row <= v_.rows; ++row) {
    m_.rows[row] = &shown_.At(row, 1);
    m_.plan_text[row] = m_.row_text[row];
  }
}

// A row erased in fills[k]: the k-th of the erased rows.
Cell* FlushPlanner::ErasedRow(int k, Attr fill) {
  Cell* row = &m_.erased_rows[static_cast<size_t>(k) * v_.cols];
  std::fill(row, row + v_.cols, v_.ErasedCell(fill));
  return row;
}

// Row `row` shown erased in `fill`: in colours other than the terminal's
// own every cell differs, so only the wanted characters count.
void FlushPlanner::SetErased(int row, const Cell* blank, Attr fill) {
  m_.rows[row] = blank;
  if (!v_.EraseExact(fill)) {
    if (m_.want_text[row] < 0) {
      const Cell* w = WantRow(row);
      m_.want_text[row] = static_cast<int>(
          std::count_if(w, w + v_.cols, [](const Cell& cell) { return !IsBlank(cell); }));
    }
    m_.plan_text[row] = m_.want_text[row];
  } else {
    m_.plan_text[row] = ChangedText(blank, WantRow(row), v_.cols);
  }
}

// A band of rows moved up or down: scroll it, then paint.
void FlushPlanner::TryScrolls(const Term& term) {
  RowShift shifts[2];
  const int found = changed_ > 0 ? FindRowShifts(v_, m_.shown_hash, m_.want_hash, shifts, 2) : 0;
  Attr fills[3];  // at most the current colours and two more
  for (int i = 0; i < found; ++i) {
    const RowShift& shift = shifts[i];
    const int free_top = shift.by > 0 ? shift.bottom - shift.by + 1 : shift.top;
    const int free_bottom = shift.by > 0 ? shift.bottom : shift.top - shift.by - 1;
    const int n = FillCandidates(v_, want_, free_top, free_bottom, &term.sgr, 2, fills);
    for (int row = shift.top; row <= shift.bottom; ++row) {
      const int src = row + shift.by;
      if (src < shift.top || src > shift.bottom) continue;
      m_.rows[row] = &shown_.At(src, 1);
      // Rows whose fingerprints differ differ (their characters are not
      // counted: the bound is only weaker); the others are compared.
      m_.plan_text[row] = m_.shown_hash[src] == m_.want_hash[row]
                              ? ChangedText(m_.rows[row], WantRow(row), v_.cols)
                              : 0;
    }
    for (int k = 0; k < n; ++k) {
      std::string& ops = m_.trial_out;
      ops.clear();
      Term t = term;
      ScrollRows(v_, shift, fills[k], t, ops);
      const Cell* blank = ErasedRow(k, fills[k]);
      for (int row = free_top; row <= free_bottom; ++row) SetErased(row, blank, fills[k]);
      TryPlan(ops, t);
    }
    ResetRows();
  }
}

// Rows moved sideways: DCH/ICH, then paint. These drag window cells outside
// the grid along, so only where the grid reaches the window's right edge;
// not worth a search when what was found leaves little to do.
void FlushPlanner::TryColumnShift(const Term& term) {
  const int rows = v_.rows, cols = v_.cols;
  const bool cheap_already = best_.cost <= 8 * changed_;
  const int by = v_.caps.cols <= cols && changed_ > 1 && !cheap_already
                     ? FindColumnShift(v_, shown_, want_, m_.votes)
                     : 0;
  const int dist = by > 0 ? by : -by;
  if (by == 0 || dist >= cols) return;
  m_.shifted_rows.resize(static_cast<size_t>(rows) * cols);
  Attr fills[3];
  const int n = FillCandidates(v_, want_, 1, rows, &term.sgr, 1, fills);
  for (int k = 0; k < n; ++k) {
    std::string& ops = m_.trial_out;
    ops.clear();
    Term t = term;
    Sgr(v_, t, fills[k], &ops);
    int shifted = 0;
    for (int row = 1; row <= rows; ++row) {
      const Cell* s = &shown_.At(row, 1);
      const Cell* w = WantRow(row);
      const int c0 = FirstDiff(cols, s, w);
      if (c0 == 0 || dist > cols - c0) continue;
      Cell* moved = &m_.shifted_rows[static_cast<size_t>(row - 1) * cols];
      std::copy(s, s + cols, moved);
      ShiftRowCells(v_, ColShift{row, c0, by}, fills[k], moved);
      // Worth it where it puts right more cells than the sequence costs.
      int gain = 0;
      for (int c = c0 - 1; c < cols; ++c) gain += !Same(s[c], w[c]) - !Same(moved[c], w[c]);
      if (gain <= 8) continue;
      Move(t, v_, row, c0, false, &ops);
      AppendCsiN(ops, dist, by > 0 ? 'P' : '@');
      m_.rows[row] = moved;
      m_.plan_text[row] = ChangedText(moved, w, cols);
      ++shifted;
    }
    if (shifted > 0) TryPlan(ops, t);
    ResetRows();
  }
}

// Most of the screen to change: erase from the first changed row to the end
// of the screen (ED), then paint, in the colours wanted most (where the
// terminal does not erase them exactly, their background still spares
// blanked runs a second erase), and in the terminal's own.
void FlushPlanner::TryEraseBelow(const Term& term) {
  const int rows = v_.rows;
  Attr fills[3];
  int n = FillCandidates(v_, want_, first_changed_, rows, nullptr, 2, fills);
  if (std::find(fills, fills + n, kTermDefaultAttr) == fills + n &&
      WantsDefault(want_, first_changed_, rows, v_.cols)) {
    fills[n++] = kTermDefaultAttr;
  }
  for (int k = 0; k < n; ++k) {
    if (!v_.EraseBelowOk(fills[k]) || ErasedEstimate(first_changed_, fills[k]) >= best_.cost) {
      continue;
    }
    std::string& ops = m_.trial_out;
    ops.clear();
    Term t = term;
    Move(t, v_, first_changed_, 1, false, &ops);
    Sgr(v_, t, fills[k], &ops);
    ops += "\x1b[J";
    const Cell* blank = ErasedRow(k, fills[k]);
    for (int row = first_changed_; row <= rows; ++row) SetErased(row, blank, fills[k]);
    TryPlan(ops, t);
    ResetRows();
  }
}

// The shorter of the two plans kept, each in row order or, where that may
// win, cheapest piece first: its bytes before painting, then its pieces.
// The other order saves motion and colours only, rarely more than half of
// them (what row order spends beyond the floor).
void FlushPlanner::WriteWinner(Term& term) {
  Kept* winner = &best_;
  int winner_cost = best_.cost;
  bool cheapest_first = false;
  for (Kept* kept : {&best_, &second_}) {
    pieces_ = kept->pieces;
    if (kept->pieces->size() < 2 || (kept->cost + kept->floor) / 2 >= winner_cost) continue;
    const int cost = static_cast<int>(kept->ops->size()) + CostCheapestFirst(kept->term);
    if (cost < winner_cost) {
      winner = kept, winner_cost = cost, cheapest_first = true;
      m_.best_order.swap(m_.order);
    }
  }
  if (winner->ops != &m_.best_out) m_.best_out.swap(*winner->ops);
  term = winner->term;
  const std::vector<Piece>& pieces = *winner->pieces;
  if (!cheapest_first) {
    for (const Piece& p : pieces) Step(p, term, &m_.best_out);
  } else {
    for (int i : m_.best_order) Step(pieces[i], term, &m_.best_out);
  }
}

void FlushPlanner::Plan(Term& term) {
  CompareRows();
  ResetRows();
  TryScrolls(term);
  TryColumnShift(term);
  // Erasing writes every character wanted below the first changed row: at
  // least the changed ones.
  int changed_text = 0;
  for (int row = first_changed_; row <= v_.rows && first_changed_ > 0; ++row) {
    changed_text += std::max(m_.row_text[row], 0);
  }
  const bool most_changed = changed_ * 2 > v_.rows;
  // Painting only: for a large change first, so that it bounds the erase;
  // for a small one last, where the bound cuts it off.
  if (most_changed) {
    m_.trial_out.clear();
    TryPlan(m_.trial_out, term);
    if (changed_text < second_.cost) TryEraseBelow(term);
  } else {
    m_.trial_out.clear();
    TryPlan(m_.trial_out, term);
  }
  WriteWinner(term);
  m_.shown_hash.swap(m_.want_hash);
  m_.hashed_rows = v_.rows;
  m_.hashed_cols = v_.cols;
}

}  // namespace q7t::paint
