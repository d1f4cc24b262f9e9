// The plan of one flush: the ways of bringing the terminal in line with the
// wanted grid, and the pieces of rows each writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console/cp437.h"
#include "console/ecma48.h"
#include "console/grid.h"

namespace q7t::paint {

inline constexpr int kFar = 1 << 20;  // a cost no real choice reaches

// What one flush works towards.
struct Flush {
  View view;
  const GlyphTable* glyphs = nullptr;
  const Grid* want = nullptr;
  int cursor_row = 0, cursor_col = 0;  // where the cursor ends; 0 = hidden
  bool can_restore = false;            // it ends where it started (DECSC/DECRC)
  // Whether DECRC may take the cursor back after cells that leave the
  // terminal in state `t`. Not after a write into the last column: some
  // terminals keep the wrap pending through DECRC, so the next character
  // would wrap and scroll; the cursor is moved there instead.
  bool Restores(const Term& t) const { return can_restore && !t.wrap_pending; }
  // Bytes still due after the cells to take the cursor to its place.
  int CursorCost(const Term& t) const {
    if (cursor_row == 0) return 0;
    Term probe = t;
    int move = Move(probe, view, cursor_row, cursor_col, false, nullptr);
    return Restores(t) ? std::min(move, 4) : move;
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

//// One run of cells of one row that a flush writes or erases, in one colour
// pair.
struct Piece {
  int row = 0, col = 0, end = 0;  // columns [col, end)
  int guard = 0;                  // cells blanked before a repeat
  int body = 0;                   // its bytes, without motion and colours
  Attr attr = kTermDefaultAttr;
  PieceKind kind = kText;
};

// What the planner keeps from one flush to the next: the fingerprints of the
// rows shown, and scratch space reused by every flush, so that a flush does
// not allocate once the sizes have been seen.
struct PlannerMemory {
  // Fingerprints of the rows shown (valid for hashed_rows x hashed_cols)
  // and wanted.
  std::vector<std::uint64_t> shown_hash, want_hash;
  int hashed_rows = 0, hashed_cols = 0;
  // The rows wanted as at the last flush (set by the renderer), which the
  // terminal shows already.
  std::vector<std::uint8_t> same_rows;
  // Changed non-blank cells per row (-1: the row is right), the same under
  // a plan, and the wanted characters per row (-1: not counted yet).
  std::vector<int> row_text, plan_text, want_text;
  std::vector<const Cell*> rows;   // each row as the terminal shows it under a plan
  std::vector<Cell> erased_rows;   // rows an erase leaves, one per colour tried
  std::vector<Cell> shifted_rows;  // rows after a sideways shift
  std::vector<Piece> trial_pieces, best_pieces, second_pieces;
  std::vector<int> order, best_order, left, votes;
  std::string trial_out, best_out, second_out;

  // The terminal was cleared: no row fingerprints are known.
  void Forget() { hashed_rows = hashed_cols = 0; }
};

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
  FlushPlanner(PlannerMemory& m, const Flush& f, const Grid& shown)
      : m_(m), f_(f), v_(f.view), glyphs_(*f.glyphs), want_(*f.want), shown_(shown) {}

  // Leaves the bytes in m.best_out and the terminal's state after them in
  // `term`; the wanted rows' fingerprints are the shown ones' after it.
  void Plan(Term& term);

 private:
  const Cell* WantRow(int r) const { return &want_.At(r, 1); }

  // The plans (flush_planner.cc).
  void CompareRows();
  void ResetRows();
  Cell* ErasedRow(int k, Attr fill);
  void SetErased(int row, const Cell* blank, Attr fill);
  void TryScrolls(const Term& term);
  void TryColumnShift(const Term& term);
  void TryEraseBelow(const Term& term);
  void TryPlan(const std::string& ops, const Term& after_ops);
  void WriteWinner(Term& term);
  int ErasedEstimate(int top, Attr fill) const;

  // The pieces of rows and their order (row_pieces.cc).
  void PlanRow(int r, const Cell* s, const Cell* w);
  void AddCluster(int r, const Cell* s, const Cell* w, int from, int to);
  bool BlankPiece(const Cell* s, const Cell* w, int p, int q, bool tail, Piece& piece) const;
  void AddText(int r, const Cell* w, int from, int to, int body);
  int TextCost(const Cell* w, int from, int to, Attr before, Attr after) const;
  bool BlankToEnd(const Cell* w, int from, Attr a) const;
  int Step(const Piece& p, Term& t, std::string* out) const;
  int CostInOrder(Term t) const;
  int CostCheapestFirst(Term t);

  PlannerMemory& m_;
  const Flush& f_;
  const View& v_;
  const GlyphTable& glyphs_;
  const Grid& want_;
  const Grid& shown_;
  int first_changed_ = 0, changed_ = 0;   // the first changed row, how many changed
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
  Kept best_{&m_.best_out, &m_.best_pieces, {}};
  Kept second_{&m_.second_out, &m_.second_pieces, {}};
};

}  // namespace q7t::paint
