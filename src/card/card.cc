// Register access over the installed port bus, the baud divisor and the
// counter text.
#include "card/card.h"

#include <cmath>
#include <cstdint>

#include "card/card_lock.h"
#include "console/text_ops.h"

namespace q7t {

namespace {

PortBus* port_bus = nullptr;

constexpr double kCardClock = 125000000.0;
constexpr std::int32_t kNoDivisor = INT32_MIN;  // 0x80000000

}  // namespace

void SetPortBus(PortBus* bus) {
  port_bus = bus;
}

int PortIn(std::uint16_t port) {
  return port_bus ? port_bus->In(port) : kPortRefused;
}

void PortOut(std::uint16_t port, int value) {
  if (port_bus) port_bus->Out(port, value & 0xFF);
}

void CardSelectReg(int index) {
  PortOut(static_cast<std::uint16_t>(CardBase + 1), index);
}

int CardReadData() {
  return PortIn(static_cast<std::uint16_t>(CardBase));
}

int CardReadReg(int index) {
  CardSelectReg(index);
  return CardReadData();
}

void CardWriteReg(int index, int value) {
  CardSelectReg(index);
  PortOut(static_cast<std::uint16_t>(CardBase), value & 0xFF);
}

bool CardRefused() {
  return !port_bus || port_bus->Refused();
}

std::string CardRefusalText() {
  if (!port_bus) return "no access to the card's ports 0x350-0x351";
  return port_bus->RefusalText();
}

int CardReadCounter() {
  const int low = CardReadReg(kRegCounterLow);
  const int high = CardReadReg(kRegCounterHigh);
  return CounterWord(low, high);
}

CardPass CardReadPass() {
  CardLock lock;
  CardPass pass;
  pass.counter_word = CardReadCounter();
  pass.mode_value = CardReadReg(kRegMode);
  return pass;
}

void CardSetDivisor(std::int32_t divisor) {
  CardLock lock;
  CardWriteReg(kRegCounterLow, divisor & 0xFF);
  CardWriteReg(kRegCounterHigh, (divisor >> 8) & 0xFF);
}

void CardSetMode(int value) {
  CardLock lock;
  CardWriteReg(kRegMode, value & 0xFF);
}

void CardCopyCounter(int mode_value) {
  CardLock lock;
  CardSetHold(mode_value);
  CardWriteReg(kRegCommand, kCmdCopyCounter);
  CardReleaseHold(mode_value);
}

void CardResetCounter() {
  CardLock lock;
  CardWriteReg(kRegCommand, kCmdResetCounter);
}

std::int32_t BaudDivisor(double rate) {
  // floor(q + 0.5) rounds exact halves up; a quotient that is not finite or
  // does not fit 32 bits (rate 0, NaN, tiny rates) has no divisor.
  const double rounded = std::floor(kCardClock / rate + 0.5);
  if (!std::isfinite(rounded) || rounded < -2147483648.0 || rounded > 2147483647.0) {
    return kNoDivisor;
  }
  return static_cast<std::int32_t>(rounded);
}

std::string CounterText(int counter_word) {
  // Bits taken of the 32-bit value, so a refused read (-2056) shows 1/30712.
  const auto bits = static_cast<std::uint32_t>(counter_word);
  return HexText((bits >> 15) & 1) + "/" + FmtFixedDec(static_cast<std::int32_t>(bits & 0x7FFF), 5);
}

}  // namespace q7t
