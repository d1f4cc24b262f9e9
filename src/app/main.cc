// q7tlog: the maintenance tool on the real card, through the I/O bus.
#include "app/tool.h"
#include "platform/port_bus_hw.h"
#include "platform/terminal_posix.h"

int main() {
  q7t::HardwarePortBus bus;
  // Below the picture at the end: why the ports were refused, if they were.
  q7t::os::SetAfterRestore(q7t::WritePortNotes);
  return q7t::RunTool(bus);
}
