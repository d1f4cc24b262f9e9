// The port bus: what answers at the card's I/O ports. The real card through
// the I/O bus, the virtual card, or a recorder in tests.
#pragma once

#include <cstdint>

namespace q7t {

// What a read gives when port access is refused.
inline constexpr int kPortRefused = -8;

class PortBus {
 public:
  virtual ~PortBus() = default;
  // One byte from `port`: 0..255, or kPortRefused when port access is refused.
  virtual int In(std::uint16_t port) = 0;
  // The low byte of `value` to `port`; does nothing when access is refused.
  virtual void Out(std::uint16_t port, int value) = 0;
};

}  // namespace q7t
