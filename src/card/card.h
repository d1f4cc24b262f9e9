// The card's registers behind its index port (CardBase + 1) and data port
// (CardBase): register access, the baud divisor and the counter text. The
// program's only path to the card.
#pragma once

#include <cstdint>
#include <string>

#include "card/port_bus.h"

namespace q7t {

// The card's I/O port base, set once at start-up.
inline int CardBase = 0x350;

inline constexpr int kRegCounterLow = 0x38;   // read: counter low byte; write: divisor low byte
inline constexpr int kRegCounterHigh = 0x39;  // read: counter high byte; write: divisor bits 8..15
inline constexpr int kRegMode = 0x3A;
inline constexpr int kRegCommand = 0x3B;      // write: command; selected for the log read-out
inline constexpr int kCmdCopyCounter = 0x01;  // write counter -> read counter
inline constexpr int kCmdResetCounter = 0x02;
inline constexpr int kModeHold = 0x10;  // set while the counter is copied and the log read out
inline constexpr int kLogBufferSize = 8192;

// The port bus every port access goes through (not owned).
void SetPortBus(PortBus* bus);

int PortIn(std::uint16_t port);
void PortOut(std::uint16_t port, int value);

void CardSelectReg(int index);
int CardReadData();
int CardReadReg(int index);
void CardWriteReg(int index, int value);

// 125000000 / rate rounded half up; 0x80000000 when not finite or outside 32 bits.
std::int32_t BaudDivisor(double rate);

// The counter word of the two counter reads: high x 256 + low.
inline int CounterWord(int low, int high) {
  return high * 256 + low;
}
// The counter word's display form: flag digit, "/", the count in five digits (1/00123).
std::string CounterText(int counter_word);

}  // namespace q7t
