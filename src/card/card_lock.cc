// The card-wide lock's guard, its wait, and the hold note.
#include "card/card_lock.h"

#include <algorithm>

#include "card/card.h"

namespace q7t {

namespace {

CardLockStore* lock_store = nullptr;
int lock_depth = 0;  // guards alive in this process; one thread drives the card

// Tries until the lock is had, the time runs out or stop says so, telling
// who holds the card once a second has passed.
bool WaitForCard(CardLockStore& store, const CardWait& wait) {
  if (wait.give_up_ms < 0 && !wait.stop && !wait.held_by) {
    store.Acquire();
    return true;
  }
  std::int64_t waited = 0;
  bool told = false;
  while (!store.TryAcquire()) {
    if (wait.stop && wait.stop()) return false;
    if (!told && waited >= CardWait::kTellHolderMs && wait.held_by) {
      wait.held_by(store.Holder());
      told = true;
    }
    if (wait.give_up_ms >= 0 && waited >= wait.give_up_ms) return false;
    std::int64_t step = CardWait::kStepMs;
    if (wait.give_up_ms >= 0) step = std::min(step, wait.give_up_ms - waited);
    waited += store.Pause(static_cast<int>(step));
  }
  return true;
}

}  // namespace

void SetCardLockStore(CardLockStore* store) {
  lock_store = store;
}

CardLock::CardLock(const CardWait& wait) {
  if (lock_depth > 0 || !lock_store) {
    ++lock_depth;
    held_ = true;
    return;
  }
  if (!WaitForCard(*lock_store, wait)) return;
  ++lock_depth;
  held_ = true;
  // A holder that died between setting and clearing the hold bit left its
  // mode value behind: put it back so the card stores bytes again.
  const int stale = lock_store->HeldMode();
  if (stale >= 0) {
    CardWriteReg(kRegMode, stale);
    lock_store->SetHeldMode(-1);
  }
}

CardLock::~CardLock() {
  Release();
}

void CardLock::Release() {
  if (!held_) return;
  held_ = false;
  if (--lock_depth == 0 && lock_store) lock_store->Release();
}

long CardLockHolder() {
  return lock_store ? lock_store->Holder() : 0;
}

void CardSetHold(int mode_value) {
  if (lock_store) lock_store->SetHeldMode(mode_value & 0xFF);
  CardWriteReg(kRegMode, mode_value | kModeHold);
}

void CardReleaseHold(int mode_value) {
  CardWriteReg(kRegMode, mode_value);
  if (lock_store) lock_store->SetHeldMode(-1);
}

}  // namespace q7t
