// Port access on x86: the I/O permission bitmap (ioperm) and in/out
// instructions; /dev/port when ioperm is refused.
#include <sys/io.h>

#include "platform/port_bus_hw.h"
#include "platform/port_devport.h"

namespace q7t::os {

namespace {

enum class Way { kNone, kDirect, kDevPort };
Way way = Way::kNone;

}  // namespace

bool AcquirePorts(int base, int count) {
  if (::ioperm(static_cast<unsigned long>(base), static_cast<unsigned long>(count), 1) == 0) {
    way = Way::kDirect;
  } else if (devport::Open()) {
    way = Way::kDevPort;
  }
  return way != Way::kNone;
}

int PortRead(std::uint16_t port) {
  switch (way) {
    case Way::kDirect:
      return ::inb(port);
    case Way::kDevPort:
      return devport::Read(port);
    case Way::kNone:
      break;
  }
  return kPortRefused;
}

void PortWrite(std::uint16_t port, std::uint8_t value) {
  switch (way) {
    case Way::kDirect:
      ::outb(value, port);
      break;
    case Way::kDevPort:
      devport::Write(port, value);
      break;
    case Way::kNone:
      break;
  }
}

}  // namespace q7t::os
