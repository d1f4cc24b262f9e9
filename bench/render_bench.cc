// The renderer's cost: CPU time of a redraw and of one viewer key, and the
// bytes it writes to the terminal for each step of a scripted viewer session.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "console/grid.h"
#include "console/render.h"
#include "document.h"

namespace q7t {
namespace {

constexpr Attr kFrameAttr = 0x17;
constexpr Attr kTextAttr = 0x07;
constexpr int kTextTop = 2, kTextBottom = 24, kTextLeft = 3, kTextRight = 78;
constexpr int kTextRows = kTextBottom - kTextTop + 1;
constexpr int kTextCols = kTextRight - kTextLeft + 1;

// The fixed 300-line document.
const std::vector<std::string>& Document() {
  static const std::vector<std::string> doc = bench::GeneratedLines(300);
  return doc;
}

int LongestLine() {
  size_t n = 0;
  for (const std::string& line : Document()) n = std::max(n, line.size());
  return static_cast<int>(n);
}

void Put(Grid& g, int row, int col, std::string_view text, Attr attr) {
  for (size_t i = 0; i < text.size() && col + static_cast<int>(i) <= g.cols; ++i) {
    g.At(row, col + static_cast<int>(i)) = {static_cast<std::uint8_t>(text[i]), attr};
  }
}

// The viewer's screen: a blue frame, the text window showing the document
// from line `top` (0-based) and column `offset`, the position on row 25,
// and the cursor after the last byte written on row 24.
void ViewerScreen(Grid& g, int top, int offset) {
  for (int r = 1; r <= kScreenRows; ++r) {
    for (int c = 1; c <= kScreenCols; ++c) {
      bool text = r >= kTextTop && r <= kTextBottom && c >= kTextLeft && c <= kTextRight;
      g.At(r, c) = {' ', text ? kTextAttr : kFrameAttr};
    }
  }
  const std::vector<std::string>& doc = Document();
  for (int i = 0; i < kTextRows; ++i) {
    int line = top + i;
    if (line >= static_cast<int>(doc.size())) break;
    const std::string& s = doc[line];
    if (static_cast<int>(s.size()) > offset) {
      std::string_view part = std::string_view(s).substr(offset, kTextCols);
      Put(g, kTextTop + i, kTextLeft, part, kTextAttr);
    }
  }
  char status[32];
  std::snprintf(status, sizeof status, "L:%04d P:%03d", top + 1, offset + 1);
  Put(g, kScreenRows, 66, status, kFrameAttr);
  g.cursor_row = kTextBottom;
  g.cursor_col = kTextRight + 1;
  g.cursor_visible = true;
}

// A menu-like screen in the terminal's own colours, with one changeable value.
void MenuScreen(Grid& g, int value) {
  g = Grid{};
  const char* lines[] = {"Q7T card maintenance",
                         "",
                         "1  Read card register",
                         "2  Write card register",
                         "3  Save the log to SerLog.txt",
                         "4  View SerLog.txt",
                         "",
                         "Esc  End"};
  for (int i = 0; i < 8; ++i) Put(g, 3 + i, 10, lines[i], kTermDefaultAttr);
  char text[40];
  std::snprintf(text, sizeof text, "Card base 0350   Status %04d", value);
  Put(g, 14, 10, text, kTermDefaultAttr);
  Put(g, 20, 10, "Choice: ", kTermDefaultAttr);
  g.cursor_row = 20;
  g.cursor_col = 18;
}

// The renderer as for TERM=xterm-256color, the terminal the figures are for.
TermCaps Xterm() {
  return CapsForTerm("xterm-256color");
}

size_t Step(Renderer& r, const Grid& g) {
  std::string out;
  r.Render(g, out);
  return out.size();
}

// Bytes written for each scripted step, as counters.
void BM_ViewerBytes(benchmark::State& state) {
  const int end_offset = LongestLine() - kTextCols;
  std::map<std::string, double> figures;
  for (auto _ : state) {
    Renderer r(Xterm());
    Grid g;
    ViewerScreen(g, 0, 0);
    figures["first"] = Step(r, g);
    ViewerScreen(g, 1, 0);
    figures["down"] = Step(r, g);
    ViewerScreen(g, 0, 0);
    figures["up"] = Step(r, g);
    ViewerScreen(g, 23, 0);
    figures["pgdn"] = Step(r, g);
    ViewerScreen(g, 23, 1);
    figures["right"] = Step(r, g);
    ViewerScreen(g, 23, 0);
    figures["left"] = Step(r, g);
    ViewerScreen(g, 23, end_offset);
    figures["end"] = Step(r, g);
    ViewerScreen(g, 23, 0);
    figures["home"] = Step(r, g);
    figures["nothing"] = Step(r, g);
    // Down to the end of the document and Up back: the worst step of each.
    double down_max = 0, up_max = 0;
    for (int top = 24; top + kTextRows <= 300; ++top) {
      ViewerScreen(g, top, 0);
      down_max = std::max(down_max, static_cast<double>(Step(r, g)));
    }
    for (int top = 300 - kTextRows - 1; top >= 0; --top) {
      ViewerScreen(g, top, 0);
      up_max = std::max(up_max, static_cast<double>(Step(r, g)));
    }
    figures["down_max"] = down_max;
    figures["up_max"] = up_max;
    Renderer m(Xterm());
    MenuScreen(g, 1234);
    Step(m, g);
    MenuScreen(g, 1235);
    figures["digit"] = Step(m, g);
  }
  // Exact figures too: the counters' table rounds them.
  std::printf("bytes per step:");
  for (const auto& [name, value] : figures) {
    state.counters[name] = value;
    std::printf(" %s=%.0f", name.c_str(), value);
  }
  std::printf("\n");
}
BENCHMARK(BM_ViewerBytes)->Iterations(1);

// CPU time of a whole menu-sized redraw: clear and draw every cell.
void BM_MenuRedraw(benchmark::State& state) {
  Grid g;
  MenuScreen(g, 1234);
  Renderer r(Xterm());
  std::string out;
  for (auto _ : state) {
    r.Invalidate();
    out.clear();
    r.Render(g, out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_MenuRedraw);

// CPU time of one viewer Down key: the model's new screen and its diff.
void BM_ViewerDown(benchmark::State& state) {
  Grid g;
  Renderer r(Xterm());
  std::string out;
  ViewerScreen(g, 0, 0);
  r.Render(g, out);
  int top = 0;
  for (auto _ : state) {
    top = (top + 1) % (300 - kTextRows);
    ViewerScreen(g, top, 0);
    out.clear();
    r.Render(g, out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_ViewerDown);

// CPU time of the widest steps: a page down and a jump to the line ends.
void BM_ViewerPageAndEnd(benchmark::State& state) {
  Grid g;
  Renderer r(Xterm());
  std::string out;
  ViewerScreen(g, 0, 0);
  r.Render(g, out);
  const int end_offset = LongestLine() - kTextCols;
  int step = 0;
  for (auto _ : state) {
    ++step;
    ViewerScreen(g, (step / 2 * 23) % 250, step % 2 ? end_offset : 0);
    out.clear();
    r.Render(g, out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_ViewerPageAndEnd);

// The viewer's keys as changes of the first line shown and the column offset.
struct ViewerKey {
  const char* name;
  int (*top)(int top);
  int (*offset)(int offset);
};
constexpr int kLastTop = 300 - kTextRows;
const ViewerKey kViewerKeys[] = {
    {"None", [](int t) { return t; }, [](int o) { return o; }},
    {"Down", [](int t) { return std::min(t + 1, kLastTop); }, [](int o) { return o; }},
    {"Up", [](int t) { return std::max(t - 1, 0); }, [](int o) { return o; }},
    {"CtrlDown", [](int t) { return std::min(t + 4, kLastTop); }, [](int o) { return o; }},
    {"CtrlUp", [](int t) { return std::max(t - 4, 0); }, [](int o) { return o; }},
    {"PgDn", [](int t) { return std::min(t + kTextRows, kLastTop); }, [](int o) { return o; }},
    {"PgUp", [](int t) { return std::max(t - kTextRows, 0); }, [](int o) { return o; }},
    {"CtrlPgDn", [](int) { return kLastTop; }, [](int o) { return o; }},
    {"CtrlPgUp", [](int) { return 0; }, [](int o) { return o; }},
    {"Right", [](int t) { return t; },
     [](int o) { return std::min(o + 1, LongestLine() - kTextCols); }},
    {"Left", [](int t) { return t; }, [](int o) { return std::max(o - 1, 0); }},
    {"End", [](int t) { return t; }, [](int) { return LongestLine() - kTextCols; }},
    {"Home", [](int t) { return t; }, [](int) { return 0; }},
};

// CPU time of one viewer key (the model's new screen and its diff), from
// screens spread over the document: near its start, middle and end, at the
// line starts and at the line ends. Setting up the screen before the key is
// not timed.
void BM_ViewerKey(benchmark::State& state) {
  const ViewerKey& key = kViewerKeys[state.range(0)];
  state.SetLabel(key.name);
  const int end_offset = LongestLine() - kTextCols;
  std::vector<std::pair<int, int>> starts;
  for (int top = 0; top <= kLastTop; top += 13) {
    for (int offset : {0, 1, end_offset / 2, end_offset}) starts.emplace_back(top, offset);
  }
  Grid g;
  Renderer r(Xterm());
  std::string out;
  size_t next = 0, bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const auto [top, offset] = starts[next++ % starts.size()];
    ViewerScreen(g, top, offset);
    out.clear();
    r.Render(g, out);
    state.ResumeTiming();
    ViewerScreen(g, key.top(top), key.offset(offset));
    out.clear();
    r.Render(g, out);
    bytes += out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["bytes"] =
      benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ViewerKey)->DenseRange(0, std::size(kViewerKeys) - 1);

}  // namespace
}  // namespace q7t
