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

}  // namespace q7t::paint
