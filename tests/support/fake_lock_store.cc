#include "support/fake_lock_store.h"

namespace q7t::test {

bool FakeLockStore::TryAcquire() {
  if (Busy()) return false;
  outside_ += bus_.Take();
  ++holds_;
  return true;
}

void FakeLockStore::Acquire() {
  blocked_ = true;
  if (busy_until_ms_ > now_ms_) now_ms_ = busy_until_ms_;
  busy_until_ms_ = 0;
  TryAcquire();
}

std::int64_t FakeLockStore::Pause(int ms) {
  pauses_.push_back(ms);
  now_ms_ += ms;
  return ms;
}

void FakeLockStore::SetHeldMode(int mode) {
  under_ += bus_.Take() + (mode < 0 ? " (note cleared) " : " (note " + Hex2(mode) + ") ");
  note_ = mode;
}

}  // namespace q7t::test
