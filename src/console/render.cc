// The renderer: compares the wanted grid with the copy of what the terminal
// shows and writes the fewest bytes it finds that close the gap.
#include "console/render.h"

#include <algorithm>
#include <vector>

#include "console/cell_compare.h"
#include "console/cp437.h"
#include "console/ecma48.h"
#include "console/flush_planner.h"
#include "console/terminal.h"

namespace q7t {
namespace {

using paint::Flush;
using paint::FlushPlanner;
using paint::Move;
using paint::NormalAttr;
using paint::RowsSame;
using paint::Term;
using paint::View;

constexpr std::string_view kClearAll = "\x1b[m\x1b[H\x1b[2J";

}  // namespace

void Renderer::SetCaps(const TermCaps& caps) {
  caps_ = caps;
  valid_ = false;
}

std::string_view Renderer::RestoreSequence() {
  return kTerminalRestore;
}

// A fresh start (first flush, lost picture, new grid size): clear with the
// terminal's own colours, which also cleans a window larger than the grid.
void Renderer::Reset(const Grid& wanted, std::string& out) {
  out += kClearAll;
  shown_.rows = wanted.rows;
  shown_.cols = wanted.cols;
  shown_.cells.assign(wanted.cells.size(), Cell{' ', kTermDefaultAttr});
  planner_.Forget();
  last_wanted_valid_ = false;
  term_ = Term{1, 1, false, kTermDefaultAttr, true};
  cursor_shown_known_ = false;
  valid_ = true;
}

// Each row of `wanted` in its displayed form; a row as at the last flush is
// that already.
void Renderer::TakeWanted(const Grid& wanted, const GlyphTable& glyphs) {
  want_.rows = wanted.rows;
  want_.cols = wanted.cols;
  want_.cells.resize(wanted.cells.size());
  last_wanted_.resize(wanted.cells.size());
  std::vector<std::uint8_t>& same_rows = planner_.same_rows;
  same_rows.assign(static_cast<size_t>(wanted.rows) + 1, 0);
  const int cols = wanted.cols;
  for (int r = 1; r <= wanted.rows; ++r) {
    const size_t at = static_cast<size_t>(r - 1) * cols;
    const Cell* raw = &wanted.cells[at];
    if (last_wanted_valid_ && RowsSame(raw, &last_wanted_[at], cols)) {
      same_rows[r] = 1;
      continue;
    }
    std::copy_n(raw, cols, &last_wanted_[at]);
    for (int c = 0; c < cols; ++c) {
      want_.cells[at + c] =
          Cell{glyphs.canon[raw[c].ch], NormalAttr(raw[c].attr, caps_.steady_backgrounds)};
    }
  }
  last_wanted_valid_ = true;
}

// The cells the window shows, then the cursor to its place when shown: the
// cursor goes back where it was, where saving and restoring it (DECSC,
// DECRC; the colours come back with it) beats moving it.
void Renderer::Draw(const Grid& wanted, const GlyphTable& glyphs, Term& term, std::string& out) {
  Flush flush;
  flush.view.caps = caps_;
  flush.view.caps.rows = std::max(caps_.rows, 0);
  flush.view.caps.cols = std::max(caps_.cols, 0);
  const View& view = flush.view;
  flush.view.rows = std::min(wanted.rows, view.caps.rows);
  flush.view.cols = std::min(wanted.cols, view.caps.cols);
  if (view.rows <= 0 || view.cols <= 0) return;
  flush.glyphs = &glyphs;
  flush.want = &want_;
  const bool show = wanted.cursor_visible;
  if (show) {
    flush.cursor_row = std::clamp(wanted.cursor_row, 1, view.caps.rows);
    flush.cursor_col = std::clamp(wanted.cursor_col, 1, view.caps.cols);
    flush.can_restore = term.row == flush.cursor_row && term.col == flush.cursor_col;
  }
  const Term start = term;
  std::string& cells = planner_.best_out;
  cells.clear();
  FlushPlanner(planner_, flush, shown_).Plan(term);
  // What the window shows of the grid is now the grid.
  for (int r = 1; r <= view.rows; ++r) {
    std::copy_n(&want_.At(r, 1), view.cols, &shown_.At(r, 1));
  }
  Term probe = term;
  if (show && flush.Restores(term) && !cells.empty() &&
      Move(probe, view, flush.cursor_row, flush.cursor_col, false, nullptr) > 4) {
    out +=
        "\x1b"
        "7";
    out += cells;
    out +=
        "\x1b"
        "8";
    term = start;
  } else {
    out += cells;
    if (show) Move(term, view, flush.cursor_row, flush.cursor_col, false, &out);
  }
}

void Renderer::Render(const Grid& wanted, std::string& out) {
  if (wanted.rows < 1 || wanted.cols < 1 ||
      wanted.cells.size() != static_cast<size_t>(wanted.rows) * wanted.cols) {
    return;
  }
  const GlyphTable& glyphs = Glyphs(caps_.utf8);
  if (!valid_ || shown_.rows != wanted.rows || shown_.cols != wanted.cols) Reset(wanted, out);
  TakeWanted(wanted, glyphs);
  const bool show = wanted.cursor_visible;
  if (!show && (!cursor_shown_known_ || cursor_shown_)) out += "\x1b[?25l";
  Draw(wanted, glyphs, term_, out);
  if (show && (!cursor_shown_known_ || !cursor_shown_)) out += "\x1b[?25h";
  cursor_shown_ = show;
  cursor_shown_known_ = true;
}

}  // namespace q7t
