// Shared pieces of the viewer tests: a console on a terminal in memory, the
// screen read back as text and colours, and the terminal bytes of the keys.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "console/console.h"
#include "console/screen.h"
#include "support/fake_terminal.h"

namespace q7t::test {

// What xterm sends for the viewer's keys. A lone Esc becomes the Esc key once
// the decoder's wait has passed, which the fake's clock lets happen.
inline const std::string kDown = "\x1b[B", kUp = "\x1b[A", kCtrlDown = "\x1b[1;5B",
                         kCtrlUp = "\x1b[1;5A", kPgDn = "\x1b[6~", kPgUp = "\x1b[5~",
                         kCtrlPgDn = "\x1b[6;5~", kCtrlPgUp = "\x1b[5;5~", kHome = "\x1b[H",
                         kEnd = "\x1b[F", kLeft = "\x1b[D", kRight = "\x1b[C", kEsc = "\x1b",
                         kShiftF3 = "\x1b[1;2R", kCtrlF10 = "\x1b[21;5~";

// Thrown by the exit handler the tests install, so an ended program can be seen.
struct ProgramEnded {
  int status;
};

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override { Restart(); }

  // A fresh console on a fresh terminal.
  void Restart() {
    term_ = FakeTerminal();
    InstallConsole(&term_, {}, [](int status, const std::string&) { throw ProgramEnded{status}; });
    SetScreenSize(80, 25);
  }

  static const Cell& At(int row, int col) { return ConsoleScreen().At(row, col); }
  // Columns first..last of a row as bytes.
  static std::string Text(int row, int first = 1, int last = 80) {
    std::string text;
    for (int c = first; c <= last; ++c) text.push_back(static_cast<char>(At(row, c).ch));
    return text;
  }
  // True when every cell of row, first..last has attribute `attr`.
  static bool AllAttr(int row, int first, int last, Attr attr) {
    for (int c = first; c <= last; ++c) {
      if (At(row, c).attr != attr) return false;
    }
    return true;
  }
  static Attr ColorAttr(int fg, int bg) { return static_cast<Attr>(fg + 16 * bg); }

  FakeTerminal term_;
};

}  // namespace q7t::test
