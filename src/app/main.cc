// q7tlog: the maintenance tool on the real card, through the I/O bus.
#include <cstdlib>

#include "app/command_line.h"
#include "app/tool.h"
#include "platform/port_bus_hw.h"
#include "platform/terminal_posix.h"

int main(int argc, char** argv) {
  const q7t::Invocation inv =
      q7t::ParseCommandLine(argc, argv, q7t::Program::kRealCard, std::getenv(q7t::kLogDirVariable));
  if (const int status = q7t::AnswerWithoutCard(inv); status >= 0) return status;
  q7t::HardwarePortBus bus;
  // Below the picture at the end: why the ports were refused, if they were.
  q7t::os::SetAfterRestore(q7t::WritePortNotes);
  return q7t::RunTool(bus, inv);
}
