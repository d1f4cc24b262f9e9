// The key queue: a ring of 512 slots, one always free, so at most 511 key
// codes wait; a code that arrives while it is full pushes out the oldest.
#pragma once

#include <array>

#include "console/key_codes.h"

namespace q7t {

class KeyQueue {
 public:
  static constexpr int kSlots = 512;
  void Push(KeyCode code);
  // The oldest waiting code, or the empty text.
  KeyCode Pop();
  bool Empty() const { return head_ == tail_; }
  int Size() const { return (tail_ - head_ + kSlots) % kSlots; }

 private:
  std::array<KeyCode, kSlots> slots_;
  int head_ = 0;  // oldest
  int tail_ = 0;  // next free
};

}  // namespace q7t
