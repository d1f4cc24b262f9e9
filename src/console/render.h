// The renderer: keeps a copy of what the terminal shows and produces the
// bytes (ECMA-48 / xterm) that bring the terminal in line with the model's
// grid, writing only what changed.
#pragma once

#include <string>
#include <string_view>

#include "console/grid.h"

namespace q7t {

struct TermCaps {
  bool utf8 = true;        // show CP437 bytes as their Unicode glyphs in UTF-8
  int rows = kScreenRows;  // the terminal window; only what fits is drawn
  int cols = kScreenCols;
};

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
  // Scratch space reused by every flush, so that a flush does not allocate.
  Grid want_;
  Grid trial_shown_, best_shown_;
  std::string trial_out_, best_out_, alt_out_;
  std::vector<std::uint64_t> shown_hash_, want_hash_, trial_hash_;
};

}  // namespace q7t
