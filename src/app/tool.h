// The whole program around what it runs on: a one-shot command, or the menu,
// which takes over the terminal and hands it back on every way out.
#pragma once

#include <memory>
#include <string>

#include "app/command_line.h"
#include "card/card_lock.h"
#include "card/port_bus.h"
#include "platform/terminal_posix.h"

namespace q7t {

// What the program runs on, built by its main (main.cc, main_sim.cc) and
// handed over once, to RunTool: the layers that use each part keep it while
// RunTool runs.
struct ToolParts {
  PortBus* bus = nullptr;                 // the card's ports
  CardLockStore* card_lock = nullptr;     // the card-wide lock; null: the card is ours alone
  std::string log_dir;                    // the log folder chosen; empty: the usual one
  os::PosixTerminal* terminal = nullptr;  // the menu's (TakeTerminal); null for a command
  // What the program has to say on stderr at its orderly end, once the
  // terminal has been handed back (nullptr: nothing).
  std::string (*end_note)() = nullptr;
  // Events around the card a capture tells as they happen (nullptr: none).
  std::string (*capture_news)() = nullptr;
  // The card's line is the program's own (the virtual card): a capture first
  // sets it to the rate it plans for, as an operator sets the real one.
  bool capture_sets_line_rate = false;
};

// The menu's terminal: standard input and output taken over, `after_restore`
// run once its modes are given back (on every way out; async-signal-safe).
// Null, after one line on stderr, when there is no usable terminal.
std::unique_ptr<os::PosixTerminal> TakeTerminal(void (*after_restore)());

// A one-shot command runs without the terminal and returns its exit status.
// The menu never returns: the program ends through EndProgram, in ExitTool.
int RunTool(const Invocation& inv, const ToolParts& parts);

}  // namespace q7t
