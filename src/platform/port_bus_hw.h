// The real card through the I/O bus. Port permission is sought at the first
// access and again at every access while refused; once granted it is kept.
// Refused reads give -8, refused writes do nothing; nothing is reported,
// and nothing is given back at exit.
#pragma once

#include <cstdint>

#include "card/port_bus.h"

namespace q7t {

class HardwarePortBus : public PortBus {
 public:
  // The ports from `base` to `base + count - 1` (the card's data and index port).
  explicit HardwarePortBus(int base = 0x350, int count = 2) : base_(base), count_(count) {}
  HardwarePortBus(const HardwarePortBus&) = delete;
  HardwarePortBus& operator=(const HardwarePortBus&) = delete;

  int In(std::uint16_t port) override;
  void Out(std::uint16_t port, int value) override;
  bool Refused() const override { return !granted_; }

 private:
  bool Granted(std::uint16_t port);

  int base_;
  int count_;
  bool granted_ = false;
};

namespace os {

// One way into the I/O ports, chosen when the program is built (direct
// access on x86, /dev/port elsewhere and as x86's second choice).
bool AcquirePorts(int base, int count);
int PortRead(std::uint16_t port);  // 0..255, or -8 when the read fails
void PortWrite(std::uint16_t port, std::uint8_t value);

}  // namespace os

}  // namespace q7t
