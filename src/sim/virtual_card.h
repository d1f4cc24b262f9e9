// The virtual Q7T card: its registers behind the data and index ports, its
// 8192-byte log buffer and counters, and the receiving side that its serial
// sources feed from their own threads. Every member is safe to call from any
// thread.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "card/port_bus.h"

namespace q7t {

class VirtualCard : public PortBus {
 public:
  static constexpr int kPowerOnDivisor = 13021;  // 9600 bit/s
  static constexpr int kBufferSize = 8192;

  explicit VirtualCard(int base = 0x350) : base_(base) {}

  int In(std::uint16_t port) override;
  void Out(std::uint16_t port, int value) override;

  // Bytes arriving on the serial line, in order: stored, held back while
  // mode bit 0x10 is set, or dropped while the divisor is 0.
  void Receive(std::string_view bytes);

  int Divisor() const;
  // Called (under the card's lock, so keep it short and lock-free) whenever
  // a write changes the divisor; nullptr removes it.
  void SetDivisorListener(std::function<void(int divisor)> listener);

  // The card's inner state, for tests and diagnostics.
  struct State {
    int divisor = kPowerOnDivisor;
    int mode = 0;
    int write_counter = 0;  // bit 15 flag, bits 0..14 count
    int read_counter = 0;
    int write_pos = 0;
    int read_pos = 0;
    int selected = 0;
    std::size_t held = 0;  // bytes waiting for mode bit 0x10 to clear
  };
  State Snapshot() const;
  std::string Buffer() const;

 private:
  void WriteRegister(int value);
  void Command(int value);
  void Store(std::uint8_t byte);
  void Skip(std::uint64_t count);
  void Hold(std::string_view bytes);
  void Release();

  const int base_;
  mutable std::mutex mutex_;
  std::array<std::uint8_t, kBufferSize> buffer_{};
  State state_;
  // Held bytes: only the last kBufferSize can survive in the buffer, so
  // older ones are kept as a count that still moves position and counter.
  std::string held_;
  std::uint64_t held_skipped_ = 0;
  std::function<void(int)> divisor_listener_;
};

}  // namespace q7t
