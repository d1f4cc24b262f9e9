// The plan of one flush: the ways of bringing the terminal in line with the
// wanted grid, and the pieces of rows each writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console/cp437.h"
#include "console/ecma48.h"
#include "console/render.h"

namespace q7t::paint {

inline constexpr int kFar = 1 << 20;  // a cost no real choice reaches

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

}  // namespace q7t::paint
