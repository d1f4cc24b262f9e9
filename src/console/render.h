// The renderer: keeps a copy of what the terminal shows and produces the
// bytes (ECMA-48 / xterm) that bring the terminal in line with the model's
// grid, writing only what changed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/flush_planner.h"
#include "console/grid.h"
#include "console/term_caps.h"

namespace q7t {

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
  void Reset(const Grid& wanted, std::string& out);
  void TakeWanted(const Grid& wanted, const GlyphTable& glyphs);
  void Draw(const Grid& wanted, const GlyphTable& glyphs, paint::Term& term, std::string& out);

  TermCaps caps_;
  bool valid_ = false;
  Grid shown_;  // what the terminal shows, each byte in its displayed form
  // What the terminal's own state is after the last flush.
  paint::Term term_;
  bool cursor_shown_ = true;
  bool cursor_shown_known_ = false;
  // The wanted grid in displayed form (reused by every flush), the grid of
  // the last flush as given, and the rows the same since (in planner_).
  Grid want_;
  std::vector<Cell> last_wanted_;
  bool last_wanted_valid_ = false;
  paint::PlannerMemory planner_;
};

}  // namespace q7t
