// The capture command's arguments and its loop: wait, poll, write, sync.
#include "app/capture_command.h"

#include <errno.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <memory>
#include <string_view>

#include "app/commands.h"
#include "card/capture.h"
#include "card/card.h"
#include "card/card_lock.h"
#include "console/text_ops.h"
#include "platform/capture_output.h"
#include "platform/clock.h"

namespace q7t {

namespace {

constexpr std::int64_t kSyncEveryMs = 500;     // data reaches the disk within a second
constexpr std::int64_t kLastPollWaitMs = 900;  // a stop ends the capture within a second
constexpr std::int64_t kMaxSeconds = std::int64_t{1} << 40;  // in milliseconds, far from overflow

template <typename T>
bool ParseNumber(std::string_view text, T* value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && ptr == end;
}

// A size in bytes with an optional K, M or G (1024-based).
bool ParseSize(std::string_view text, std::uint64_t* size) {
  std::uint64_t unit = 1;
  if (!text.empty()) {
    const char suffix = static_cast<char>(text.back() & ~0x20);
    const std::string_view units = "KMG";
    if (const auto at = units.find(suffix); at != std::string_view::npos) {
      unit = std::uint64_t{1} << (10 * (at + 1));
      text.remove_suffix(1);
    }
  }
  std::uint64_t n = 0;
  if (!ParseNumber(text, &n) || n == 0 || n > std::numeric_limits<std::uint64_t>::max() / unit) {
    return false;
  }
  *size = n * unit;
  return true;
}

}  // namespace

bool ParseCaptureOption(std::string_view name, std::string_view value, CaptureOptions* o) {
  if (name == "--seconds") {
    return ParseNumber(value, &o->seconds) && o->seconds >= 0 && o->seconds <= kMaxSeconds;
  }
  if (name == "--rotate") return ParseSize(value, &o->rotate);
  if (name == "--keep") return ParseNumber(value, &o->keep) && o->keep >= 1;
  if (name == "--baud") return ParseNumber(value, &o->baud) && o->baud > 0;
  return false;
}

namespace {

std::string TimeText(const os::LocalTime& t) {
  return FmtFixedDec(t.year, 4) + "-" + FmtFixedDec(t.month, 2) + "-" + FmtFixedDec(t.day, 2) +
         " " + FmtFixedDec(t.hour, 2) + ":" + FmtFixedDec(t.minute, 2) + ":" +
         FmtFixedDec(t.second, 2);
}

void Say(const std::string& line) {
  std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, line.c_str());
  std::fflush(stderr);
}

struct CaptureStats {
  std::string since;
  std::uint64_t captured = 0, gaps = 0, lost = 0;
};

std::string StatusLine(const CaptureOptions& o, const CaptureStats& s) {
  return "capture to " + o.file + " since " + s.since + ": " + std::to_string(s.captured) +
         " bytes captured, " + std::to_string(s.gaps) + " gaps, " + std::to_string(s.lost) +
         " bytes lost";
}

// Lost bytes are counted and said at once, with the time they were found.
void NoteGaps(const PollPlan& plan, CaptureStats& s) {
  const std::string now = TimeText(os::NowLocal());
  if (plan.reset) {
    ++s.gaps;
    Say(now +
        ": the card's write counter was reset; bytes between the last poll and the reset "
        "are lost");
  }
  if (plan.lost > 0) {
    ++s.gaps;
    s.lost += plan.lost;
    Say(now + ": " + std::to_string(plan.lost) +
        " bytes lost: the card's ring overflowed between two polls");
  }
}

}  // namespace

int RunCapture(const CaptureOptions& options) {
  std::string err;
  auto file = os::CaptureFile::Open(options.file, options.rotate, options.keep, &err);
  if (!file) {
    Say(err);
    return 1;
  }
  os::InstallCaptureSignals();

  CaptureStats stats;
  // A stop or a status request is answered while a poll waits for the card.
  auto stop = [&] {
    const os::CaptureWake wake = os::WaitForSignal(0);
    if (wake.status) Say(StatusLine(options, stats));
    return wake.stop;
  };
  CaptureEngine engine;
  if (CardLock card(CommandWait(program_invocation_short_name, options.first_wait_ms, stop));
      !card.held()) {
    Say("the card is still held by " + HolderText(CardLockHolder()) + "; no capture made");
    return 1;
  } else if (!engine.Start()) {
    Say(CardRefusalText());
    return 1;
  }
  stats.since = TimeText(os::NowLocal());
  int interval = PollIntervalMs(BaudDivisor(options.baud) & 0xFFFF);
  Say("capture to " + options.file + " started, a poll every " + std::to_string(interval) + " ms");

  const std::int64_t start = os::MonotonicMs();
  const std::int64_t end = options.seconds >= 0 ? start + options.seconds * 1000
                                                : std::numeric_limits<std::int64_t>::max();
  std::int64_t last_poll = start, last_sync = start;
  std::string bytes;
  bool write_failing = false;  // said once until a write works again
  int status = 0;
  for (;;) {
    const std::int64_t due = std::min(last_poll + interval, end);
    const os::CaptureWake wake =
        os::WaitForSignal(static_cast<int>(std::max<std::int64_t>(due - os::MonotonicMs(), 0)));
    if (wake.status) Say(StatusLine(options, stats));
    const std::int64_t now = os::MonotonicMs();
    // A stop drains the card once more, so every byte until then is kept.
    const bool last = wake.stop || now >= end;
    if (!last && now < due) continue;

    // Later polls wait for the card as long as it takes, so that a long hold
    // by another process is survived; a stop ends the wait, and the last
    // poll after a stop waits a moment at most.
    const char* name = program_invocation_short_name;
    CardLock card(last ? CommandWait(name, kLastPollWaitMs) : CommandWait(name, -1, stop));
    if (!card.held()) {
      Say("stopped while the card was held by " + HolderText(CardLockHolder()) +
          ": the last drain did not happen");
      status = 1;
      break;
    }
    bytes.clear();
    const PollPlan plan = engine.Poll(bytes);
    card.Release();
    interval = AdaptIntervalMs(interval, plan.arrived, now - last_poll);
    last_poll = now;
    NoteGaps(plan, stats);
    if (!file->Write(bytes, &err)) {
      ++stats.gaps;
      stats.lost += bytes.size();
      if (!write_failing) Say(err + ": captured bytes are being lost");
      write_failing = true;
    } else {
      stats.captured += bytes.size();
      write_failing = false;
    }
    if (last || now - last_sync >= kSyncEveryMs) {
      if (!file->Sync(&err)) Say(err);
      last_sync = now;
    }
    if (last) break;
  }
  file.reset();
  Say(StatusLine(options, stats) + ", stopped");
  return status;
}

}  // namespace q7t
