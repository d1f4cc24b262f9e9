// The renderer's steps: for random terminal states, each cursor motion and
// colour change writes exactly the bytes it counts, and they do what it says
// on a terminal emulator.
#include "console/ecma48.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/vterm_screen.h"

namespace q7t::paint {
namespace {

using test::VtermScreen;

constexpr int kRows = 25, kCols = 80;

std::string Cup(int r, int c) {
  return "\x1b[" + std::to_string(r) + ";" + std::to_string(c) + "H";
}

struct Random {
  std::mt19937 gen{20261209};
  int In(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen); }
  Attr Colours() { return In(0, 9) == 0 ? kTermDefaultAttr : static_cast<Attr>(In(0, 255)); }
  Term State() {
    Term t;
    t.row = In(0, 4) == 0 ? 0 : In(1, kRows);
    t.col = t.row == 0 || In(0, 4) == 0 ? 0 : In(1, kCols);
    t.wrap_pending = t.col == 0 && t.row != 0 && In(0, 1) == 0;
    t.sgr = Colours();
    t.sgr_known = In(0, 5) != 0;
    return t;
  }
};

TEST(Ecma48, EveryStepWritesTheBytesItCounts) {
  Random rnd;
  for (int i = 0; i < 20000; ++i) {
    const Term t = rnd.State();
    const int r = rnd.In(1, kRows), c = rnd.In(1, kCols);
    std::string out;
    const VertStep v = ChooseVert(rnd.In(1, kRows), r);
    AppendStep(v, out);
    ASSERT_EQ(out.size(), static_cast<size_t>(v.bytes)) << "vertical step " << int(v.kind);
    out.clear();
    const HorizStep h = ChooseHoriz(t.col, c);
    AppendStep(h, out);
    ASSERT_EQ(out.size(), static_cast<size_t>(h.bytes)) << "horizontal step " << int(h.kind);
    out.clear();
    const MoveStep m = ChooseMove(t, kRows, r, c, rnd.In(0, 1) == 1);
    AppendStep(m, out);
    ASSERT_EQ(out.size(), static_cast<size_t>(m.bytes)) << "cursor motion " << int(m.kind);
    for (bool linux_colours : {false, true}) {
      out.clear();
      const SgrStep s = ChooseSgr(t, rnd.Colours(), linux_colours);
      if (s.bytes > 0) AppendStep(s, out);
      ASSERT_EQ(out.size(), static_cast<size_t>(s.bytes)) << "colour change";
    }
  }
}

TEST(Ecma48, MotionsAndColoursLandWhereTheySay) {
  Random rnd;
  VtermScreen term(kRows, kCols);
  for (int i = 0; i < 3000; ++i) {
    Term t = rnd.State();
    t.wrap_pending = false;
    // The emulator's cursor where the state says, or anywhere when unknown.
    term.Feed(Cup(t.row != 0 ? t.row : rnd.In(1, kRows), t.col != 0 ? t.col : rnd.In(1, kCols)));
    const int r = rnd.In(1, kRows), c = rnd.In(1, kCols);
    std::string out;
    AppendStep(ChooseMove(t, kRows, r, c, false), out);
    term.Feed(out);
    ASSERT_EQ(term.CursorRow(), r) << "from " << t.row << "," << t.col;
    ASSERT_EQ(term.CursorCol(), c) << "from " << t.row << "," << t.col;

    // Colours from known ones (xterm's rules): a character written after
    // the change shows the new pair.
    t.sgr_known = true;
    const Attr to = rnd.Colours();
    out = "\x1b[m";
    if (t.sgr != kTermDefaultAttr) AppendStep(ChooseSgr(Term{}, t.sgr, false), out);
    const SgrStep s = ChooseSgr(t, to, false);
    if (s.bytes > 0) AppendStep(s, out);
    term.Feed(out + "x");
    ASSERT_EQ(term.CellFg(r, c), to == kTermDefaultAttr ? -1 : to & 15);
    ASSERT_EQ(term.CellBg(r, c), to == kTermDefaultAttr ? -1 : to >> 4);
  }
}

}  // namespace
}  // namespace q7t::paint
