// The whole program around a port bus: takes over the terminal, runs the
// menu, and hands the terminal back on every way out.
#pragma once

#include <string>

#include "card/port_bus.h"

namespace q7t {

// What the program has to say on stderr at its orderly end, once the
// terminal has been handed back (nullptr: nothing).
void SetEndNote(std::string (*note)());

// Never returns normally: the program ends through EndProgram. Returns 1
// when the terminal cannot be taken over (after saying so on stderr).
int RunTool(PortBus& bus);

}  // namespace q7t
