// The renderer: compares the wanted grid with the copy of what the terminal
// shows and writes the fewest bytes it finds that close the gap.
#include "console/render.h"

#include <algorithm>
#include <vector>

#include "console/cell_compare.h"
#include "console/cp437.h"
#include "console/ecma48.h"
#include "console/flush_planner.h"

namespace q7t {
namespace {

using paint::Flush;
using paint::FlushPlanner;
using paint::Move;
using paint::NormalAttr;
using paint::RowsSame;
using paint::Term;
using paint::View;

constexpr std::string_view kRestore = "\x1b[m\x1b[?25h";
constexpr std::string_view kClearAll = "\x1b[m\x1b[H\x1b[2J";

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
      want_.cells[at + c] = Cell{glyphs.canon[raw[c].ch], NormalAttr(raw[c].attr)};
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
