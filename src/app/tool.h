// The whole program around a port bus: a one-shot command, or the menu,
// which takes over the terminal and hands it back on every way out.
#pragma once

#include <string>

#include "app/command_line.h"
#include "card/port_bus.h"

namespace q7t {

// What the program has to say on stderr at its orderly end, once the
// terminal has been handed back (nullptr: nothing).
void SetEndNote(std::string (*note)());

// A one-shot command runs without the terminal and returns its exit status.
// The menu never returns normally: the program ends through EndProgram.
// Returns 1 when the terminal cannot be taken over (after saying so on stderr).
int RunTool(PortBus& bus, const Invocation& inv);

}  // namespace q7t
