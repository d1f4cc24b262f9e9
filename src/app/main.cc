// q7tlog: the maintenance tool on the real card, through the I/O bus.
#include "app/tool.h"
#include "platform/port_bus_hw.h"

int main() {
  q7t::HardwarePortBus bus;
  return q7t::RunTool(bus);
}
