// The local date and time, with a seam for tests. LocalTime and NowLocal are
// declared where the log save uses them (card/host.h).
#pragma once

#include "card/host.h"

namespace q7t::os {

// The local time at `epoch_ms` (milliseconds since 1970).
LocalTime LocalTimeAt(long long epoch_ms);
// Tests fix the clock; nullptr puts the real one back.
void SetClockForTest(LocalTime (*clock)());

}  // namespace q7t::os
