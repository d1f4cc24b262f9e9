// The capture command: drains the card's ring into a file (or standard
// output), poll after poll, until SIGTERM, SIGINT or the given number of
// seconds, as a log writer and a service: SIGHUP reopens the file, a full
// disk is waited out with the bytes held in memory, a restart reads on from
// where the last capture into the file stopped, and every byte lost is
// counted and said as it is found.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "card/port_bus.h"

namespace q7t {

inline constexpr int kMaxKeep = 1000;
inline constexpr std::uint64_t kMinRotate = 4096;
inline constexpr std::uint64_t kDefaultHold = std::uint64_t{64} << 20;
inline constexpr std::uint64_t kMaxHold = std::uint64_t{1} << 30;

struct CaptureOptions {
  std::string file;           // "-": standard output
  std::int64_t seconds = -1;  // -1: until stopped
  std::uint64_t rotate = 0;   // bytes; 0: never
  int keep = 5;               // rotated files kept
  bool keep_given = false;
  double baud = 115200;                // the line rate the card is set to, for the poll interval
  std::uint64_t hold = kDefaultHold;   // bytes held in memory while the file takes none
  std::string metrics;                 // a Prometheus text file; empty: none
  std::int64_t first_wait_ms = 10000;  // for a card held by another process; later polls wait on
};

// One of the capture's options (--seconds N, --rotate SIZE, --keep N,
// --baud RATE, --hold SIZE, --metrics FILE) into `*o`; false with what is
// wrong with the value in words in `*err`. SIZE takes a K, M or G suffix
// (1024-based).
bool ParseCaptureOption(std::string_view name, std::string_view value, CaptureOptions* o,
                        std::string* err);
// FILE and the options together, once all are parsed: false with what is
// wrong in `*err`.
bool CheckCaptureOptions(const CaptureOptions& o, std::string* err);

// Where a capture learns of events around the card to tell on stderr as
// they happen (the virtual card's device lost and back): one line each, or
// the empty text. nullptr: none.
void SetCaptureNews(std::string (*news)());

// Runs a capture on the installed port bus; the exit status: 0 after an
// orderly stop with nothing lost, kExitLost when bytes were lost on the way
// (a gap reported), 1 when the file or its state file cannot be opened,
// another capture writes the file, standard output was closed, the card was
// held past the first wait, or a stop came while a poll waited for the card.
int RunCapture(const CaptureOptions& options);

}  // namespace q7t
