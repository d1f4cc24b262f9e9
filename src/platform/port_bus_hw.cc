// The hardware port bus: lazy permission, then byte reads and writes.
#include "platform/port_bus_hw.h"

namespace q7t {

// Only the card's own ports are ever touched, and only once permission is held.
bool HardwarePortBus::Granted(std::uint16_t port) {
  if (port < base_ || port >= base_ + count_) return false;
  if (!granted_) granted_ = os::AcquirePorts(base_, count_);
  return granted_;
}

int HardwarePortBus::In(std::uint16_t port) {
  return Granted(port) ? os::PortRead(port) : kPortRefused;
}

void HardwarePortBus::Out(std::uint16_t port, int value) {
  if (Granted(port)) os::PortWrite(port, static_cast<std::uint8_t>(value & 0xFF));
}

}  // namespace q7t
