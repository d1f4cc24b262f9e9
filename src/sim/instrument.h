// The built-in test instrument at the other end of the virtual card's line:
// a line of printable text ending in CR LF about twice a second, numbered
// from 1, each byte arriving no sooner than the line rate allows.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace q7t {

class VirtualCard;

// The instrument's output as a function of time, with no clock of its own:
// tests drive it with any times they like.
class Instrument {
 public:
  static constexpr std::int64_t kLinePeriodNs = 500'000'000;

  // The instrument's line for running number `number`.
  static std::string LineText(std::uint64_t number);

  // The bytes whose last bit has arrived by `now_ns` (time since the
  // instrument started), at the line rate 125000000 / divisor bit/s with 10
  // bits per byte. Divisor 0 (receiver off) paces at 9600 bit/s.
  std::string Advance(std::int64_t now_ns, int divisor);
  // When the next byte will have arrived, at the current rate.
  std::int64_t NextDueNs(int divisor) const;

 private:
  static std::int64_t ByteNs(int divisor);

  std::uint64_t number_ = 0;
  std::string line_;
  std::size_t pos_ = 0;             // next byte of line_ to send
  std::int64_t byte_start_ns_ = 0;  // when the next byte started on the line
  std::int64_t next_line_ns_ = 0;   // when the next line may start
};

// Runs an Instrument on its own thread into a card until destroyed.
class InstrumentSource {
 public:
  explicit InstrumentSource(VirtualCard& card);
  InstrumentSource(const InstrumentSource&) = delete;
  InstrumentSource& operator=(const InstrumentSource&) = delete;
  ~InstrumentSource();

 private:
  void Run();

  VirtualCard& card_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace q7t
