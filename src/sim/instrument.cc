// The built-in instrument: line text, pacing at the line rate, its thread.
#include "sim/instrument.h"

#include <algorithm>
#include <charconv>
#include <chrono>

#include "sim/virtual_card.h"

namespace q7t {

namespace {

constexpr std::int64_t kNsPerCardClock = 8;  // 125 MHz
constexpr int kBitsPerByte = 10;             // start, 8 data, stop
// The thread wakes at most this often during a line and hands over every
// byte that has arrived meanwhile.
constexpr std::int64_t kMinWakeNs = 5'000'000;

}  // namespace

std::string Instrument::LineText(std::uint64_t number) {
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, number);
  std::string text(digits, end);
  if (text.size() < 6) text.insert(0, 6 - text.size(), '0');
  return "Q7T test instrument line " + text + ": 0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZ\r\n";
}

std::int64_t Instrument::ByteNs(int divisor) {
  const int d = divisor > 0 ? divisor : VirtualCard::kPowerOnDivisor;
  return kNsPerCardClock * kBitsPerByte * d;
}

std::string Instrument::Advance(std::int64_t now_ns, int divisor) {
  const std::int64_t byte_ns = ByteNs(divisor);
  std::string out;
  for (;;) {
    if (pos_ == line_.size()) {
      if (now_ns < next_line_ns_ + byte_ns) break;
      line_ = LineText(++number_);
      pos_ = 0;
      byte_start_ns_ = next_line_ns_;
      next_line_ns_ += kLinePeriodNs;
    }
    if (byte_start_ns_ + byte_ns > now_ns) break;
    out.push_back(line_[pos_++]);
    byte_start_ns_ += byte_ns;
    // A line that takes longer than the period delays the next one.
    if (pos_ == line_.size()) next_line_ns_ = std::max(next_line_ns_, byte_start_ns_);
  }
  return out;
}

std::int64_t Instrument::NextDueNs(int divisor) const {
  const std::int64_t start = pos_ == line_.size() ? next_line_ns_ : byte_start_ns_;
  return start + ByteNs(divisor);
}

InstrumentSource::InstrumentSource(VirtualCard& card) : card_(card), thread_([this] { Run(); }) {}

InstrumentSource::~InstrumentSource() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void InstrumentSource::Run() {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  Instrument instrument;
  std::unique_lock lock(mutex_);
  while (!stop_) {
    const std::int64_t now_ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
    const int divisor = card_.Divisor();
    const std::string bytes = instrument.Advance(now_ns, divisor);
    if (!bytes.empty()) card_.Receive(bytes);
    const std::int64_t wake_ns = std::max(instrument.NextDueNs(divisor), now_ns + kMinWakeNs);
    wake_.wait_until(lock, start + std::chrono::nanoseconds(wake_ns), [this] { return stop_; });
  }
}

}  // namespace q7t
