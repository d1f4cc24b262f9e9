// The card-wide lock in memory, for tests: the port accesses made under each
// holding and where the hold note stood at each port write, and another
// process that holds the card for a while, on a clock that only the waits
// move.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "card/card_lock.h"
#include "support/recording_port_bus.h"

namespace q7t::test {

class FakeLockStore : public CardLockStore {
 public:
  static constexpr long kHolderPid = 4321;
  explicit FakeLockStore(RecordingPortBus& bus) : bus_(bus) {}

  bool TryAcquire() override;
  // Waits out the other holder at once (the clock jumps to its release).
  void Acquire() override;
  void Release() override { under_ += bus_.Take() + "|"; }
  long Holder() override { return Busy() ? kHolderPid : 0; }
  std::int64_t Pause(int ms) override;
  int HeldMode() override { return note_; }
  void SetHeldMode(int mode) override;

  // Another process holds the card until this time; -1: for good.
  std::int64_t busy_until_ms_ = 0;
  std::int64_t now_ms_ = 0;
  std::vector<int> pauses_;
  // Accesses made before each holding, and under each ("|" after each).
  std::string outside_, under_;
  int holds_ = 0;
  bool blocked_ = false;  // Acquire was called (a wait without a limit)
  int note_ = -1;

 private:
  bool Busy() const { return busy_until_ms_ < 0 || now_ms_ < busy_until_ms_; }
  RecordingPortBus& bus_;
};

}  // namespace q7t::test
