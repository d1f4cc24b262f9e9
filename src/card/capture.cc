// Poll arithmetic and the capture's port sequence.
#include "card/capture.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "card/card.h"
#include "card/card_lock.h"

namespace q7t {

namespace {

constexpr int kCountMask = kCountModulus - 1;
constexpr std::int64_t kCardClock = 125000000;
constexpr std::int64_t kBitsPerByte = 10;

}  // namespace

PollPlan PlanPoll(int last_word, int word, std::uint64_t could_arrive, std::uint64_t have) {
  const int count = word & kCountMask;
  const bool flag = (word & kCounterFlag) != 0;
  const int last_count = last_word & kCountMask;
  const bool last_flag = (last_word & kCounterFlag) != 0;
  PollPlan plan;
  // Only a reset clears the flag, and without the flag the count only grows.
  plan.reset = (last_flag && !flag) || (!flag && count < last_count);
  plan.arrived = static_cast<std::uint32_t>(plan.reset ? count : (count - last_count) & kCountMask);
  plan.at_least = !plan.reset && could_arrive >= std::uint64_t{plan.arrived} + kCountModulus;
  const std::uint32_t wanted =
      plan.reset ? plan.arrived : plan.arrived - std::min<std::uint64_t>(have, plan.arrived);
  const int stored = flag ? kLogBufferSize : count;
  plan.keep = static_cast<int>(std::min<std::uint32_t>(wanted, stored));
  plan.lost = wanted - static_cast<std::uint32_t>(plan.keep);
  plan.skip = stored - plan.keep;
  return plan;
}

std::uint64_t LineBytes(std::uint64_t bytes_per_second, std::int64_t elapsed_ms) {
  if (elapsed_ms < 0) return std::numeric_limits<std::uint64_t>::max();
  return bytes_per_second * static_cast<std::uint64_t>(elapsed_ms) / 1000;
}

std::uint64_t PlannedLineRate(double baud) {
  return baud > 0 ? static_cast<std::uint64_t>(std::ceil(baud / kBitsPerByte)) : 0;
}

std::uint64_t AdaptLineRate(std::uint64_t bytes_per_second, std::uint32_t arrived,
                            std::int64_t elapsed_ms) {
  // Over a shorter time a burst says little about the line's rate.
  if (elapsed_ms < kMinPollMs) return bytes_per_second;
  return std::max<std::uint64_t>(
      bytes_per_second, std::uint64_t{arrived} * 1000 / static_cast<std::uint64_t>(elapsed_ms));
}

int PollIntervalMs(std::int32_t divisor) {
  if (divisor <= 0) return kMaxPollMs;
  const std::int64_t ms =
      std::int64_t{divisor} * kBitsPerByte * kPollBudgetBytes * 1000 / kCardClock;
  return static_cast<int>(std::clamp<std::int64_t>(ms, kMinPollMs, kMaxPollMs));
}

int AdaptIntervalMs(int interval_ms, std::uint32_t arrived, std::int64_t elapsed_ms) {
  if (arrived == 0 || elapsed_ms <= 0) return interval_ms;
  const std::int64_t ms = elapsed_ms * kPollBudgetBytes / arrived;
  return static_cast<int>(std::clamp<std::int64_t>(ms, kMinPollMs, interval_ms));
}

int CaptureEngine::HoldAndCount(int mode_value) {
  CardSetHold(mode_value);
  CardWriteReg(kRegCommand, kCmdCopyCounter);
  const int low = CardReadReg(kRegCounterLow);
  const int high = CardReadReg(kRegCounterHigh);
  refused_ = low == kPortRefused || high == kPortRefused;
  const std::int64_t now = clock_ms_();
  elapsed_ms_ = now - last_ms_;
  last_ms_ = now;
  return CounterWord(low, high) & 0xFFFF;
}

bool CaptureEngine::Start() {
  CardLock lock;
  const int mode_value = CardReadReg(kRegMode);
  mode_value_ = mode_value;
  last_word_ = HoldAndCount(mode_value);
  CardReleaseHold(mode_value);
  return !refused_ && mode_value != kPortRefused;
}

void CaptureEngine::ResumeFrom(int word, std::int64_t ms_ago, std::uint64_t line_rate) {
  last_word_ = word & 0xFFFF;
  last_ms_ = clock_ms_() - ms_ago;
  line_rate_ = std::max(line_rate_, line_rate);
  resumed_ = true;
}

PollPlan CaptureEngine::Poll(std::string& out, std::uint64_t have) {
  CardLock lock;
  const int mode_value = CardReadReg(kRegMode);
  mode_value_ = mode_value;
  const int word = HoldAndCount(mode_value);
  const PollPlan plan = PlanPoll(last_word_, word, LineBytes(line_rate_, elapsed_ms_), have);
  if (plan.keep > 0) {
    // Select 0x3B once: the read-out runs from the oldest stored byte, so the
    // older ones are read past and the new ones kept.
    CardSelectReg(kRegCommand);
    for (int k = 0; k < plan.skip; ++k) CardReadData();
    out.reserve(out.size() + static_cast<std::size_t>(plan.keep));
    for (int k = 0; k < plan.keep; ++k) out.push_back(static_cast<char>(CardReadData() & 0xFF));
  }
  CardReleaseHold(mode_value);
  last_word_ = word;
  // The time since a record spans a stop and a start: no rate is learnt from it.
  if (!std::exchange(resumed_, false)) {
    line_rate_ = AdaptLineRate(line_rate_, plan.arrived, elapsed_ms_);
  }
  return plan;
}

}  // namespace q7t
