#include "console/key_queue.h"

#include <utility>

namespace q7t {

void KeyQueue::Push(KeyCode code) {
  int next = (tail_ + 1) % kSlots;
  if (next == head_) head_ = (head_ + 1) % kSlots;  // full: the oldest waiting code goes
  slots_[tail_] = std::move(code);
  tail_ = next;
}

KeyCode KeyQueue::Pop() {
  if (Empty()) return {};
  KeyCode code = std::move(slots_[head_]);
  slots_[head_].clear();
  head_ = (head_ + 1) % kSlots;
  return code;
}

}  // namespace q7t
