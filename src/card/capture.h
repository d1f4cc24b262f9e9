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
  bool reset = false;         // the write counter was reset (or went back) between the polls
  // The time since the last poll was long enough for the count to wrap
  // unseen: `arrived` and `lost` are then only the least there can have been.
  bool at_least = false;
};

// The read-out starts at the oldest stored byte: the whole ring once the
// flag is set, else the `count` bytes from the start. After a reset only the
// count since the reset is known.
// `could_arrive`: the most the line can have brought since the last poll
// (LineBytes); past a whole turn of the count more than it shows, the count
// may have wrapped. `have`: of the bytes that arrived, how many (the first
// ones) are in the file already, as when a capture resumes where another
// stopped; never after a reset.
PollPlan PlanPoll(int last_word, int word, std::uint64_t could_arrive = 0, std::uint64_t have = 0);

// The bytes a line of `bytes_per_second` brings in `elapsed_ms`; a time that
// went backwards could have brought anything.
std::uint64_t LineBytes(std::uint64_t bytes_per_second, std::int64_t elapsed_ms);
// The line's rate in bytes a second for the planned `baud` (10 bits a byte),
// raised once `arrived` bytes came in `elapsed_ms`: a faster line than
// planned is taken at its speed from then on.
std::uint64_t PlannedLineRate(double baud);
std::uint64_t AdaptLineRate(std::uint64_t bytes_per_second, std::uint32_t arrived,
                            std::int64_t elapsed_ms);

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
  // `clock_ms`: a steady clock, read as each counter word is, so a poll that
  // waited long for the card's lock knows how long. `line_rate`: the line's
  // bytes a second as planned (PlannedLineRate).
  CaptureEngine(std::int64_t (*clock_ms)(), std::uint64_t line_rate)
      : clock_ms_(clock_ms), line_rate_(line_rate) {}

  // Notes where the card's counter stands; nothing is read out. False when
  // the ports are refused (the reads give -8): there is no card to capture.
  bool Start();
  // The next poll reads on from `word`, where a capture stopped `ms_ago`
  // milliseconds before, with the line's rate then if it was faster.
  void ResumeFrom(int word, std::int64_t ms_ago, std::uint64_t line_rate);
  // One poll: the new bytes are appended to `out` (`have`: see PlanPoll).
  PollPlan Poll(std::string& out, std::uint64_t have = 0);

  int last_word() const { return last_word_; }
  // The time between the last two counter readings.
  std::int64_t elapsed_ms() const { return elapsed_ms_; }
  // Bytes a second: as planned, or as fast as the line was seen to be.
  std::uint64_t line_rate() const { return line_rate_; }
  // The mode register as the last poll found it.
  int mode_value() const { return mode_value_; }

 private:
  // Hold, copy, counter word: the card is held when it returns.
  int HoldAndCount(int mode_value);

  std::int64_t (*clock_ms_)();
  std::uint64_t line_rate_;
  int last_word_ = 0;
  std::int64_t last_ms_ = 0;
  std::int64_t elapsed_ms_ = 0;
  int mode_value_ = 0;
  bool refused_ = false;
  bool resumed_ = false;  // the next poll is the first after ResumeFrom
};

}  // namespace q7t
