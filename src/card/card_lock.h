// One card, several processes: every sequence of port accesses that belongs
// together (a menu pass's reads, a menu command, a save, a capture poll)
// runs under a card-wide lock, so that no other process selects a register
// between another's index write and its data access. The lock also keeps a
// note of a mode value to restore: a process that dies while the hold bit is
// set leaves the note behind, and the next process to take the lock puts the
// mode register back before anything else.
#pragma once

namespace q7t {

// Where the lock lives: a lock file shared by every process on the machine,
// or a stand-in in tests. Acquire waits as long as it takes; it never fails.
class CardLockStore {
 public:
  virtual ~CardLockStore() = default;
  virtual void Acquire() = 0;
  virtual void Release() = 0;
  // The mode value noted by a holder while the hold bit was set, or -1.
  virtual int HeldMode() = 0;
  // Notes `mode` (0..255), or clears the note with -1.
  virtual void SetHeldMode(int mode) = 0;
};

// The store every CardLock uses (not owned); nullptr when this process alone
// reaches its card (the virtual card), and then the guards do nothing.
void SetCardLockStore(CardLockStore* store);

// Holds the card for one sequence of port accesses. Guards nest: only the
// outermost takes and gives back the lock. Taking it first restores a mode
// value that a dead holder left noted.
class CardLock {
 public:
  CardLock();
  ~CardLock();
  CardLock(const CardLock&) = delete;
  CardLock& operator=(const CardLock&) = delete;
  // Gives the lock back before the guard goes (once).
  void Release();

 private:
  bool held_ = true;
};

// The mode register with the hold bit set for a read-out, the mode value
// noted first so that it is restored even if this process dies before
// CardReleaseHold. Call both under a CardLock.
void CardSetHold(int mode_value);
void CardReleaseHold(int mode_value);

}  // namespace q7t
