// The capture command: drains the card's ring into a file, poll after poll,
// until SIGTERM, SIGINT or the given number of seconds; a status line on
// SIGUSR1; lost bytes reported on stderr as they are found.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "card/port_bus.h"

namespace q7t {

struct CaptureOptions {
  std::string file;
  std::int64_t seconds = -1;           // -1: until stopped
  std::uint64_t rotate = 0;            // bytes; 0: never
  int keep = 5;                        // rotated files kept
  double baud = 115200;                // the line rate the card is set to, for the poll interval
  std::int64_t first_wait_ms = 10000;  // for a card held by another process; later polls wait on
};

// One of the capture's options (--seconds N, --rotate SIZE, --keep N,
// --baud RATE) into `*o`; false when the value is not valid.
// SIZE takes a K, M or G suffix (1024-based).
bool ParseCaptureOption(std::string_view name, std::string_view value, CaptureOptions* o);

// Runs a capture on the installed port bus; the exit status: 0 after an
// orderly stop, 1 when the file cannot be opened, the card was held past
// the first wait, or a stop came while a poll waited for the card.
int RunCapture(const CaptureOptions& options);

}  // namespace q7t
