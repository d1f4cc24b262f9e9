// The local date and time, with a seam for tests.
#pragma once

namespace q7t::os {

struct LocalTime {
  int year = 1970, month = 1, day = 1;  // month 1..12
  int hour = 0, minute = 0, second = 0;
};

LocalTime NowLocal();
// The local time at `epoch_ms` (milliseconds since 1970).
LocalTime LocalTimeAt(long long epoch_ms);
// Tests fix the clock; nullptr puts the real one back.
void SetClockForTest(LocalTime (*clock)());

}  // namespace q7t::os
