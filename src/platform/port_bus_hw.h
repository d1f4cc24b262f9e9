// The real card through the I/O bus. Port permission is sought at the first
// access and again at every access while refused; once granted it is kept,
// and the privilege that won it is given up for good. Refused reads give -8,
// refused writes do nothing; the screens never show a refusal, but its
// reasons are kept for a last word on stderr at exit.
#pragma once

#include <cstdint>
#include <string>

#include "card/port_bus.h"

namespace q7t {

namespace os {

// What one attempt on the ports found: the errno of each way tried, 0 for a
// way not tried (or not built in).
struct PortAttempt {
  bool granted = false;
  int ioperm_error = 0;
  int devport_error = 0;
  bool operator==(const PortAttempt&) const = default;
};

}  // namespace os

class HardwarePortBus : public PortBus {
 public:
  // The ports from `base` to `base + count - 1` (the card's data and index port).
  explicit HardwarePortBus(int base = 0x350, int count = 2) : base_(base), count_(count) {}
  HardwarePortBus(const HardwarePortBus&) = delete;
  HardwarePortBus& operator=(const HardwarePortBus&) = delete;

  int In(std::uint16_t port) override;
  void Out(std::uint16_t port, int value) override;
  bool Refused() const override { return !granted_; }
  std::string RefusalText() const override { return granted_ ? std::string() : refusal_; }

  // Why the ports are refused, in words for the user: the ports, each way
  // tried with the system's reason, and the remedy. Empty while access was
  // never sought and once it is granted.
  const std::string& Refusal() const { return refusal_; }
  // Why the privilege could not be given up after the ports were granted;
  // empty when it was (or access was never granted).
  const std::string& DropFailure() const { return drop_failure_; }

 private:
  bool Granted(std::uint16_t port);

  int base_;
  int count_;
  bool granted_ = false;
  os::PortAttempt last_;
  std::string refusal_;
  std::string drop_failure_;
};

// The program's last word about its ports, "name: text" and a line end, to
// stderr: the refusal while access is refused, or the privilege that could
// not be given up; nothing otherwise. Async-signal-safe, for the terminal's
// end (see PosixTerminal::Start).
void WritePortNotes();

namespace os {

// One way into the I/O ports, chosen when the program is built (direct
// access on x86, /dev/port elsewhere and as x86's second choice).
PortAttempt AcquirePorts(int base, int count);
int PortRead(std::uint16_t port);  // 0..255, or -8 when the read fails
void PortWrite(std::uint16_t port, std::uint8_t value);

// Gives up, for good, the power to gain port access: a process that is not
// root loses every capability (effective, permitted, inheritable, ambient);
// root loses the raw I/O capability from every set and from the bounding
// set, and keeps its other powers. Ports already granted stay granted. False
// with what failed and why in `*err`.
bool DropPortPrivilege(std::string* err);

}  // namespace os

}  // namespace q7t
