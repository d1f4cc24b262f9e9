// Poll arithmetic and the capture's port sequence.
#include "card/capture.h"

#include <algorithm>

#include "card/card.h"
#include "card/card_lock.h"

namespace q7t {

namespace {

constexpr int kCountMask = kCountModulus - 1;
constexpr std::int64_t kCardClock = 125000000;
constexpr std::int64_t kBitsPerByte = 10;

}  // namespace

PollPlan PlanPoll(int last_word, int word) {
  const int count = word & kCountMask;
  const bool flag = (word & kCounterFlag) != 0;
  const int last_count = last_word & kCountMask;
  const bool last_flag = (last_word & kCounterFlag) != 0;
  PollPlan plan;
  // Only a reset clears the flag, and without the flag the count only grows.
  plan.reset = (last_flag && !flag) || (!flag && count < last_count);
  plan.arrived = static_cast<std::uint32_t>(plan.reset ? count : (count - last_count) & kCountMask);
  const int stored = flag ? kLogBufferSize : count;
  plan.keep = static_cast<int>(std::min<std::uint32_t>(plan.arrived, stored));
  plan.lost = plan.arrived - static_cast<std::uint32_t>(plan.keep);
  plan.skip = stored - plan.keep;
  return plan;
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
  return CounterWord(low, high) & 0xFFFF;
}

bool CaptureEngine::Start() {
  CardLock lock;
  const int mode_value = CardReadReg(kRegMode);
  last_word_ = HoldAndCount(mode_value);
  CardReleaseHold(mode_value);
  return !refused_ && mode_value != kPortRefused;
}

PollPlan CaptureEngine::Poll(std::string& out) {
  CardLock lock;
  const int mode_value = CardReadReg(kRegMode);
  const int word = HoldAndCount(mode_value);
  const PollPlan plan = PlanPoll(last_word_, word);
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
  return plan;
}

}  // namespace q7t
