// The card-wide lock's guard and the hold note.
#include "card/card_lock.h"

#include "card/card.h"

namespace q7t {

namespace {

CardLockStore* lock_store = nullptr;
int lock_depth = 0;  // guards alive in this process; one thread drives the card

}  // namespace

void SetCardLockStore(CardLockStore* store) {
  lock_store = store;
}

CardLock::CardLock() {
  if (lock_depth++ > 0 || !lock_store) return;
  lock_store->Acquire();
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

void CardSetHold(int mode_value) {
  if (lock_store) lock_store->SetHeldMode(mode_value & 0xFF);
  CardWriteReg(kRegMode, mode_value | kModeHold);
}

void CardReleaseHold(int mode_value) {
  CardWriteReg(kRegMode, mode_value);
  if (lock_store) lock_store->SetHeldMode(-1);
}

}  // namespace q7t
