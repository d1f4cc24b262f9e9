// The renderer: keeps a copy of what the terminal shows and produces the
// bytes (ECMA-48 / xterm) that bring the terminal in line with the model's
// grid, writing only what changed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/grid.h"
#include "console/term_caps.h"

namespace q7t {

namespace paint {
class FlushPlanner;
}

class Renderer {
 public:
  explicit Renderer(TermCaps caps = {}) : caps_(caps) {}

  // New window size or character set: the next Render repaints whole.
  void SetCaps(const TermCaps& caps);
  const TermCaps& caps() const { return caps_; }
  // The terminal may have lost its content (start, resize, resume): the next
  // Render clears it and draws the whole grid.
  void Invalidate() { valid_ = false; }

  // Appends to `out` the bytes that bring the terminal from what it shows to
  // `wanted` (cells, cursor position, cursor visibility); nothing when equal.
  void Render(const Grid& wanted, std::string& out);

  // Bytes that leave the terminal's colours at their defaults and the cursor
  // shown, for handing the terminal back (the picture stays).
  static std::string_view RestoreSequence();

 private:
  friend class paint::FlushPlanner;  // render.cc: plans and writes one flush

  // One run of cells of one row that a flush writes or erases, in one
  // colour pair (the kinds are in render.cc).
  struct Piece {
    int row = 0, col = 0, end = 0;  // columns [col, end)
    int guard = 0;                  // cells blanked before a repeat
    int body = 0;                   // its bytes, without motion and colours
    Attr attr = kTermDefaultAttr;
    std::uint8_t kind = 0;
  };

  TermCaps caps_;
  bool valid_ = false;
  Grid shown_;  // what the terminal shows, each byte in its displayed form
  // What the terminal's own state is after the last flush.
  Attr sgr_ = kTermDefaultAttr;
  bool sgr_known_ = false;
  int term_row_ = 0, term_col_ = 0;  // 1-based; 0 = unknown
  bool wrap_pending_ = false;        // the last window column was written (col unknown)
  bool cursor_shown_ = true;
  bool cursor_shown_known_ = false;
  // Scratch space reused by every flush, so that a flush does not allocate
  // once the sizes have been seen.
  Grid want_;
  // The grid of the last flush as given, and the rows the same since.
  std::vector<Cell> last_wanted_;
  bool last_wanted_valid_ = false;
  std::vector<std::uint8_t> same_rows_;
  std::vector<const Cell*> rows_;   // each row as the terminal shows it under a plan
  std::vector<Cell> erased_rows_;   // rows an erase leaves, one per colour tried
  std::vector<Cell> shifted_rows_;  // rows after a sideways shift
  std::vector<Piece> trial_pieces_, best_pieces_, second_pieces_;
  std::vector<int> order_, best_order_, left_, votes_;
  std::string trial_out_, best_out_, second_out_;
  // Fingerprints of the rows shown (valid for hashed_rows_ x hashed_cols_)
  // and wanted, changed non-blank cells per row (-1: the row is right).
  std::vector<std::uint64_t> shown_hash_, want_hash_;
  int hashed_rows_ = 0, hashed_cols_ = 0;
  std::vector<int> row_text_;
  std::vector<int> plan_text_;  // the same under a plan
  std::vector<int> want_text_;  // the wanted characters per row (-1: not counted yet)
};

}  // namespace q7t
