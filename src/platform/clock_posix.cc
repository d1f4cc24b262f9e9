#include "platform/clock.h"

#include <ctime>

namespace q7t::os {

namespace {

LocalTime (*test_clock)() = nullptr;

LocalTime LocalAt(std::time_t when) {
  std::tm tm{};
  ::localtime_r(&when, &tm);
  return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

}  // namespace

LocalTime NowLocal() {
  if (test_clock) return test_clock();
  return LocalAt(std::time(nullptr));
}

LocalTime LocalTimeAt(long long epoch_ms) {
  return LocalAt(static_cast<std::time_t>(epoch_ms / 1000));
}

void SetClockForTest(LocalTime (*clock)()) {
  test_clock = clock;
}

}  // namespace q7t::os
