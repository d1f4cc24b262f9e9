// Port access on x86: the I/O permission bitmap (ioperm) and in/out
// instructions; /dev/port when ioperm is refused.
#include <errno.h>
#include <sys/io.h>

#include "platform/port_bus_hw.h"
#include "platform/port_devport.h"

namespace q7t::os {

namespace {

enum class Way { kNone, kDirect, kDevPort };
Way way = Way::kNone;

}  // namespace

PortAttempt AcquirePorts(int base, int count) {
  PortAttempt attempt;
  if (::ioperm(static_cast<unsigned long>(base), static_cast<unsigned long>(count), 1) == 0) {
    way = Way::kDirect;
  } else {
    attempt.ioperm_error = errno;
    attempt.devport_error = devport::Open();
    if (attempt.devport_error == 0) way = Way::kDevPort;
  }
  attempt.granted = way != Way::kNone;
  return attempt;
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
