// Continuous capture from the card: each poll holds the log, has the card
// copy its write counter, reads the counter word and reads out exactly the
// bytes that arrived since the previous poll, then restores the mode
// register. The counters are never reset. The poll arithmetic is kept apart
// so that it can be checked against the card's behaviour on its own.
#pragma once

#include <cstdint>
#include <string>

namespace q7t {

inline constexpr int kCountModulus = 32768;  // the counter's 15-bit count wraps here
inline constexpr int kCounterFlag = 0x8000;  // set once the ring has wrapped
// The ring may fill to this much between two polls: a quarter of it, so a
// late poll still finds every byte.
inline constexpr int kPollBudgetBytes = 2048;
inline constexpr int kMinPollMs = 20;
inline constexpr int kMaxPollMs = 1000;

// What one poll has to do, from the counter word it read and the last one.
struct PollPlan {
  std::uint32_t arrived = 0;  // bytes the line brought since the last poll
  std::uint32_t lost = 0;     // of those, overwritten in the ring before this poll
  int skip = 0;               // read-out bytes before the first new one (older data)
  int keep = 0;               // new bytes, the last ones of the read-out
  bool reset = false;         // the write counter was reset between the polls
};

// The read-out starts at the oldest stored byte: the whole ring once the
// flag is set, else the `count` bytes from the start. After a reset only the
// count since the reset is known.
PollPlan PlanPoll(int last_word, int word);

// How long the line takes to fill kPollBudgetBytes at the rate of `divisor`
// (10 bits a byte), within kMinPollMs..kMaxPollMs. Divisor 0 (receiver
// off) polls at the slowest.
int PollIntervalMs(std::int32_t divisor);
// The interval once `arrived` bytes came in `elapsed_ms`: shorter than
// `interval_ms` when the line is faster than planned, never longer.
int AdaptIntervalMs(int interval_ms, std::uint32_t arrived, std::int64_t elapsed_ms);

// Takes the card for each poll (CardLock) and reads it only through its
// registers. One thread.
class CaptureEngine {
 public:
  // Notes where the card's counter stands; nothing is read out. False when
  // the ports are refused (the reads give -8): there is no card to capture.
  bool Start();
  // One poll: the new bytes are appended to `out`.
  PollPlan Poll(std::string& out);
  int last_word() const { return last_word_; }

 private:
  // Hold, copy, counter word: the card is held when it returns.
  int HoldAndCount(int mode_value);

  int last_word_ = 0;
  bool refused_ = false;
};

}  // namespace q7t
