#include "platform/clock.h"

#include <ctime>

namespace q7t::os {

namespace {
LocalTime (*test_clock)() = nullptr;
}

LocalTime NowLocal() {
  if (test_clock) return test_clock();
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&now, &tm);
  return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

void SetClockForTest(LocalTime (*clock)()) {
  test_clock = clock;
}

}  // namespace q7t::os
