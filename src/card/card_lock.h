// One card, several processes: every sequence of port accesses that belongs
// together (a menu pass's reads, a menu command, a save, a capture poll)
// runs under a card-wide lock, so that no other process selects a register
// between another's index write and its data access. The lock also keeps a
// note of a mode value to restore: a process that dies while the hold bit is
// set leaves the note behind, and the next process to take the lock puts the
// mode register back before anything else.
#pragma once

#include <cstdint>
#include <functional>

namespace q7t {

// Where the lock lives: a lock file shared by every process on the machine,
// or a stand-in in tests.
class CardLockStore {
 public:
  virtual ~CardLockStore() = default;
  // Takes the lock if no other process holds it; false at once otherwise.
  virtual bool TryAcquire() = 0;
  // Takes the lock, waiting as long as it takes.
  virtual void Acquire() = 0;
  virtual void Release() = 0;
  // The process that holds the lock now; 0 when that cannot be told.
  virtual long Holder() = 0;
  // Waits about `ms` between two tries; the milliseconds that really passed.
  virtual std::int64_t Pause(int ms) = 0;
  // The mode value noted by a holder while the hold bit was set, or -1.
  virtual int HeldMode() = 0;
  // Notes `mode` (0..255), or clears the note with -1.
  virtual void SetHeldMode(int mode) = 0;
};

// The store every CardLock uses (not owned); nullptr when this process alone
// reaches its card (the virtual card, or no trusted lock to be had), and
// then the guards do nothing.
void SetCardLockStore(CardLockStore* store);

// How long a CardLock waits while another process holds the card. The
// default waits as long as it takes, in silence (the menu).
struct CardWait {
  static constexpr int kStepMs = 100;         // the stop request is asked this often
  static constexpr int kTellHolderMs = 1000;  // the holder is told after this long
  std::int64_t give_up_ms = -1;               // -1: never
  std::function<bool()> stop;                 // true: stop waiting
  std::function<void(long pid)> held_by;      // told once, after a second
};

// Holds the card for one sequence of port accesses. Guards nest: only the
// outermost takes and gives back the lock. Taking it first restores a mode
// value that a dead holder left noted.
class CardLock {
 public:
  explicit CardLock(const CardWait& wait = {});
  ~CardLock();
  CardLock(const CardLock&) = delete;
  CardLock& operator=(const CardLock&) = delete;
  // False when the wait was given up (the time ran out, or stop said so):
  // the card is not held, and the sequence must not run.
  bool held() const { return held_; }
  // Gives the lock back before the guard goes (once).
  void Release();

 private:
  bool held_ = false;
};

// The process holding the card-wide lock now (0: unknown, or no lock).
long CardLockHolder();

// The mode register with the hold bit set for a read-out, the mode value
// noted first so that it is restored even if this process dies before
// CardReleaseHold. Call both under a CardLock.
void CardSetHold(int mode_value);
void CardReleaseHold(int mode_value);

}  // namespace q7t
