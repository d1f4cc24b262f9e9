// Bytes on the wire: runs q7tlog-sim on a pseudo-terminal through a fixed
// script of keys (the menu, the viewer on a fixed 300-line log, back to the
// menu, one digit changed) and prints the bytes the program wrote per step,
// with the cells whose colours differ from what the screen should show.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "console/frame_pacer.h"
#include "document.h"
#include "support/pty_harness.h"
#include "support/serial_line.h"

namespace q7t::test {
namespace {

constexpr int kLogLines = 300;
constexpr int kKeyApartMs = FramePacer::kMeasureMs + 150;
constexpr std::string_view kHeader = "Serial Line Log 12-08-2026 05:33:10 RdCnt=0/00123";

// The log: its header line, then the benchmarks' fixed lines.
std::vector<std::string> Document() {
  std::vector<std::string> lines = {std::string(kHeader)};
  for (std::string& line : bench::GeneratedLines(kLogLines - 1)) lines.push_back(std::move(line));
  return lines;
}

// What each cell's colours should be: the terminal's own (-1), or the
// viewer's frame around its text window, or the grey on black the viewer
// leaves for the menu.
enum class Colours { kDefault, kViewer, kGrey };

int WrongColours(const VtermScreen& s, Colours want) {
  int wrong = 0;
  for (int r = 1; r <= s.Rows(); ++r) {
    for (int c = 1; c <= s.Cols(); ++c) {
      int fg = -1, bg = -1;
      if (want == Colours::kGrey) {
        fg = 7, bg = 0;
      } else if (want == Colours::kViewer) {
        fg = 7;
        bg = r >= 2 && r <= 24 && c >= 3 && c <= 78 ? 0 : 1;
      }
      wrong += s.CellFg(r, c) != fg || s.CellBg(r, c) != bg;
    }
  }
  return wrong;
}

struct Step {
  std::string name;
  std::string keys;  // empty: the program's start
  std::function<bool(const VtermScreen&)> settled;
  Colours colours;
  int target;                   // -1: none
  bool one_byte_first = false;  // a byte to the serial line before the keys
};

bool RowHas(const VtermScreen& s, int row, std::string_view text) {
  return s.RowText(row).find(text) != std::string::npos;
}

// The viewer with the position field reading `field`.
std::function<bool(const VtermScreen&)> Viewer(std::string field) {
  return [field](const VtermScreen& s) { return RowHas(s, 25, field); };
}

std::function<bool(const VtermScreen&)> Menu(std::string counter) {
  return [counter](const VtermScreen& s) {
    return RowHas(s, 1, "Q7T Rx Logging Menu") && RowHas(s, 10, " <V> View Log") &&
           RowHas(s, 6, counter) && RowHas(s, 25, "                    ") && s.CursorRow() == 22 &&
           s.CursorCol() == 1;
  };
}

struct Keys {
  std::string home, end;
};

std::vector<Step> Script(const Keys& keys, int longest) {
  char end_field[16];
  std::snprintf(end_field, sizeof end_field, "P:%03d", longest - 76 + 1);
  std::vector<Step> steps;
  steps.push_back({"first menu", "", Menu(": 0/00000"), Colours::kDefault, -1});
  steps.push_back({"V (first viewer screen)", "v", Viewer("L:0001 P:001"), Colours::kViewer, 1750});
  for (int i = 1; i <= 10; ++i) {
    char field[16];
    std::snprintf(field, sizeof field, "L:%04d P:001", 1 + i);
    steps.push_back({"Down " + std::to_string(i), "\x1b[B", Viewer(field), Colours::kViewer, 120});
  }
  steps.push_back({"Up", "\x1b[A", Viewer("L:0010 P:001"), Colours::kViewer, 120});
  steps.push_back({"PgDn", "\x1b[6~", Viewer("L:0033 P:001"), Colours::kViewer, 1400});
  steps.push_back({"Right", "\x1b[C", Viewer("L:0033 P:002"), Colours::kViewer, 600});
  steps.push_back({"Left", "\x1b[D", Viewer("L:0033 P:001"), Colours::kViewer, 600});
  steps.push_back(
      {"End", keys.end, Viewer(std::string("L:0033 ") + end_field), Colours::kViewer, 900});
  steps.push_back({"Home", keys.home, Viewer("L:0033 P:001"), Colours::kViewer, 1500});
  steps.push_back({"x (changes nothing)", "x", nullptr, Colours::kViewer, 0});
  steps.push_back({"Esc (back to the menu)", "\x1b", Menu(": 0/00000"), Colours::kGrey, -1});
  Step digit{"R, one digit changed", "r", Menu(": 0/00001"), Colours::kGrey, 14};
  digit.one_byte_first = true;
  steps.push_back(digit);
  return steps;
}

struct Result {
  std::string name;
  std::string written;  // the bytes themselves
  long bytes = -1;      // -1: the screen did not settle
  int wrong_colours = 0;
  int target = -1;
};

std::vector<Result> Run(const std::string& term, const Keys& keys) {
  const std::vector<std::string> doc = Document();
  std::size_t longest = 0;
  for (const std::string& line : doc) longest = std::max(longest, line.size());

  ScopedTempDir dir;
  {
    std::ofstream log(dir.File("SerLog.txt"), std::ios::binary);
    for (const std::string& line : doc) log << line << "\r\n";
  }
  SerialLine line;
  PtyProgram::Options options;
  options.program = CopyProgram("q7tlog-sim", dir);
  options.args = {line.path};
  options.term = term;
  options.linux_console_colours = term == "linux";
  PtyProgram program(options);

  std::vector<Result> results;
  for (const Step& step : Script(keys, static_cast<int>(longest))) {
    if (step.one_byte_first) {
      (void)!write(line.master, "A", 1);
      // The card takes the byte in the background; R copies what has arrived.
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    program.mark();
    if (!step.keys.empty()) program.Send(step.keys);
    bool ok = true;
    if (step.settled) {
      ok = program.WaitFor(step.settled, 5000);
    }
    // Whatever else the step writes (the flush before the next key wait)
    // arrives within this pause. It also makes each key one a person
    // presses on its own, more than a second after the frame before: a
    // frame that follows another sooner waits for a device attributes
    // request (3 bytes more), which measures the line again.
    program.Pump(kKeyApartMs);
    const std::string& raw = program.raw_output();
    Result r{step.name, raw.substr(raw.size() - program.bytes_since_mark()),
             ok ? static_cast<long>(program.bytes_since_mark()) : -1,
             WrongColours(program.screen(), step.colours), step.target};
    results.push_back(r);
    if (!ok) {
      std::fprintf(stderr, "%s: step \"%s\" did not settle\n%s", term.c_str(), step.name.c_str(),
                   program.ScreenDump().c_str());
      break;
    }
  }
  return results;
}

}  // namespace
}  // namespace q7t::test

// The bytes with ESC as \e and other control bytes in hexadecimal.
std::string Escaped(const std::string& bytes) {
  std::string text;
  for (unsigned char b : bytes) {
    char hex[8];
    if (b == 0x1B) {
      text += "\\e";
    } else if (b < 0x20) {
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      text += hex;
    } else {
      text.push_back(static_cast<char>(b));
    }
  }
  return text;
}

int main(int argc, char** argv) {
  // --dump: each step's bytes too, for every terminal.
  const bool dump = argc > 1 && std::string_view(argv[1]) == "--dump";
  using q7t::test::Keys;
  using q7t::test::Result;

  // Home and End as each terminal sends them; the other keys are the same.
  const std::vector<Result> xterm = q7t::test::Run("xterm-256color", Keys{"\x1b[H", "\x1b[F"});
  const std::vector<Result> linux_console = q7t::test::Run("linux", Keys{"\x1b[1~", "\x1b[4~"});
  // tmux, for comparison: blanks in colours are written there.
  const std::vector<Result> tmux = q7t::test::Run("tmux-256color", Keys{"\x1b[1~", "\x1b[4~"});
  std::printf("%-26s %7s %7s %7s %7s  %s\n", "step", "xterm", "linux", "target", "tmux",
              "wrong colours");
  bool all_met = true;
  for (std::size_t i = 0; i < xterm.size(); ++i) {
    const Result& x = xterm[i];
    const Result* l = i < linux_console.size() ? &linux_console[i] : nullptr;
    const Result* t = i < tmux.size() ? &tmux[i] : nullptr;
    char target[16] = "-";
    if (x.target >= 0) std::snprintf(target, sizeof target, "%d", x.target);
    bool met = x.target < 0 || (x.bytes >= 0 && x.bytes <= x.target && l != nullptr &&
                                l->bytes >= 0 && l->bytes <= x.target);
    all_met = all_met && met;
    std::printf("%-26s %7ld %7ld %7s%s %6ld  %d/%d/%d\n", x.name.c_str(), x.bytes,
                l ? l->bytes : -1, target, met ? " " : "!", t ? t->bytes : -1, x.wrong_colours,
                l ? l->wrong_colours : -1, t ? t->wrong_colours : -1);
  }
  std::printf("%s\n", all_met ? "every target met" : "! marks a target missed");
  if (dump) {
    const std::pair<const char*, const std::vector<Result>*> columns[] = {
        {"xterm", &xterm}, {"linux", &linux_console}, {"tmux", &tmux}};
    for (const auto& [term, results] : columns) {
      for (const Result& x : *results) {
        std::printf("\n%s, %s:\n%s\n", term, x.name.c_str(), Escaped(x.written).c_str());
      }
    }
  }
  return 0;
}
