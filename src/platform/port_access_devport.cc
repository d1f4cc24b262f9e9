// Port access where direct I/O instructions are not available: /dev/port.
#include "platform/port_bus_hw.h"
#include "platform/port_devport.h"

namespace q7t::os {

PortAttempt AcquirePorts(int /*base*/, int /*count*/) {
  PortAttempt attempt;
  attempt.devport_error = devport::Open();
  attempt.granted = attempt.devport_error == 0;
  return attempt;
}
int PortRead(std::uint16_t port) {
  return devport::Read(port);
}
void PortWrite(std::uint16_t port, std::uint8_t value) {
  devport::Write(port, value);
}

}  // namespace q7t::os
