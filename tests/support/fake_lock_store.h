// The card-wide lock in memory, for tests: the port accesses made under each
// holding and where the hold note stood at each port write, and another
// process that holds the card for a while, on a clock that only the waits
// move.
#pragma once

#include <cstdint>
#include <string>

#include "card/card_lock.h"
#include "support/recording_port_bus.h"

namespace q7t::test {

class FakeLockStore : public CardLockStore {
 public:
  static constexpr long kHolderPid = 4321;
  explicit FakeLockStore(RecordingPortBus& bus) : bus_(bus) {}

  bool TryAcquire() override {
    // A holder "for good" lets go after ten minutes on this clock, so that a
    // wait that never ends fails its test instead of hanging it.
    if ((busy_until_ms_ < 0 && now_ms_ < 600000) || now_ms_ < busy_until_ms_) return false;
    outside_ += bus_.Take();
    ++holds_;
    return true;
  }
  void Acquire() override {  // the other holder lets go at once
    busy_until_ms_ = 0;
    TryAcquire();
  }
  void Release() override { under_ += bus_.Take() + "|"; }
  long Holder() override { return kHolderPid; }
  std::int64_t Pause(int ms) override {
    now_ms_ += ms;
    return ms;
  }
  int HeldMode() override { return note_; }
  void SetHeldMode(int mode) override {
    under_ += bus_.Take() + (mode < 0 ? " (note cleared) " : " (note " + Hex2(mode) + ") ");
    note_ = mode;
  }

  // Another process holds the card until this time; -1: for good.
  std::int64_t busy_until_ms_ = 0;
  std::int64_t now_ms_ = 0;
  // Accesses made before each holding, and under each ("|" after each).
  std::string outside_, under_;
  int holds_ = 0;
  int note_ = -1;

 private:
  RecordingPortBus& bus_;
};

}  // namespace q7t::test
