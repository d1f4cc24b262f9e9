// The capture's loop: wait, poll, write (or hold), record, sync, report.
#include <errno.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "app/capture_command.h"
#include "app/commands.h"
#include "card/capture.h"
#include "card/card.h"
#include "card/card_lock.h"
#include "console/text_ops.h"
#include "platform/capture_output.h"
#include "platform/capture_state.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/service.h"

namespace q7t {

namespace {

constexpr std::int64_t kSyncEveryMs = 500;     // data reaches the disk within a second
constexpr std::int64_t kReportEveryMs = 1000;  // metrics and the service's status
constexpr std::int64_t kLastPollWaitMs = 900;  // a stop ends the capture within a second

std::string (*g_news)() = nullptr;
bool g_journal = false;  // stderr is the journal: lines carry their priority

using os::Priority;

void Say(Priority priority, const std::string& line) {
  if (g_journal) std::fprintf(stderr, "<%d>", static_cast<int>(priority));
  std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, line.c_str());
  std::fflush(stderr);
}

std::string TimeText(const os::LocalTime& t) {
  return FmtFixedDec(t.year, 4) + "-" + FmtFixedDec(t.month, 2) + "-" + FmtFixedDec(t.day, 2) +
         " " + FmtFixedDec(t.hour, 2) + ":" + FmtFixedDec(t.minute, 2) + ":" +
         FmtFixedDec(t.second, 2);
}

std::string Now() {
  return TimeText(os::NowLocal());
}

// 64M, 512K, 100 bytes: a size as the options take it.
std::string SizeText(std::uint64_t bytes) {
  for (const auto& [unit, suffix] : {std::pair{30, "G"}, {20, "M"}, {10, "K"}}) {
    if (bytes >= (std::uint64_t{1} << unit) && bytes % (std::uint64_t{1} << unit) == 0) {
      return std::to_string(bytes >> unit) + suffix;
    }
  }
  return std::to_string(bytes) + " bytes";
}

std::string Bytes(std::uint64_t n) {
  return std::to_string(n) + " bytes";
}

// A label value in the text exposition: backslash, quote and newline escaped.
std::string LabelValue(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return out;
}

struct Totals {
  std::string since;
  std::uint64_t captured = 0;  // written to the file (and its rotations)
  std::uint64_t gaps = 0;
  std::uint64_t lost = 0;  // known lost (at least)
};

// A stretch of time in which the file took nothing (or not all): what was
// held meanwhile and what the hold could not take.
struct Outage {
  bool on = false;
  std::string start;
  std::uint64_t held = 0, lost = 0;
};

class CaptureRun {
 public:
  explicit CaptureRun(const CaptureOptions& o)
      : o_(o), engine_(os::MonotonicMs, PlannedLineRate(o.baud)) {}
  CaptureRun(const CaptureRun&) = delete;
  CaptureRun& operator=(const CaptureRun&) = delete;

  int Run();

 private:
  bool Open();
  void Resume();
  bool StopAsked();
  void Watchdog(bool every_time);
  bool Poll(bool last, PollPlan* plan);
  void NoteGaps(const PollPlan& plan);
  void Deliver(std::string_view bytes);
  std::size_t Write(std::string_view bytes);
  void Hold(std::string_view bytes);
  void Flush();
  std::uint64_t HeldSize() const { return held_.size() - held_from_; }
  void Reopen();
  void Record();
  void Sync();
  void Report();
  int Finish();
  void Lost(std::uint64_t bytes) { totals_.lost += bytes; }
  std::string StatusLine() const;
  std::string HoleAt() const;
  std::string Metrics() const;

  const CaptureOptions& o_;
  std::unique_ptr<os::CaptureStateFile> state_;
  std::unique_ptr<os::CaptureFile> file_;
  std::unique_ptr<os::ServiceNotifier> notify_;
  CaptureEngine engine_;
  Totals totals_;
  Outage outage_;
  std::string bytes_;  // one poll's
  std::string held_;   // polled, not yet written: held_[held_from_..]
  std::size_t held_from_ = 0;
  std::string write_error_;
  bool sync_failing_ = false, metrics_failing_ = false, ready_ = false;
  bool started_ = false;           // the card read: the record has a counter word to keep
  std::int64_t last_wall_ms_ = 0;  // the last poll's
  std::int64_t last_watchdog_ms_ = 0;
};

bool CaptureRun::Open() {
  std::string err;
  if (o_.file != os::kStdoutName) {
    bool busy = false;
    state_ = os::CaptureStateFile::Open(o_.file, &busy, &err);
    if (!state_) {
      Say(Priority::kError,
          busy ? o_.file + ": another capture writes to it or its rotated files (" + err + ")"
               : "cannot keep the capture's state: " + err);
      return false;
    }
  }
  file_ = os::CaptureFile::Open(o_.file, o_.rotate, o_.keep, &err);
  if (!file_) {
    Say(Priority::kError, err);
    return false;
  }
  os::InstallCaptureSignals();
  notify_ = os::ServiceNotifier::FromEnvironment();
  // The first poll waits for a card another process holds up to the first
  // wait, answering a stop or a status request meanwhile.
  CardLock card(
      CommandWait(program_invocation_short_name, o_.first_wait_ms, [this] { return StopAsked(); }));
  if (!card.held()) {
    Say(Priority::kError,
        "the card is still held by " + HolderText(CardLockHolder()) + "; no capture made");
    return false;
  }
  if (!engine_.Start()) {
    Say(Priority::kError, CardRefusalText());
    return false;
  }
  totals_.since = Now();
  Resume();
  started_ = true;
  return true;
}

// While a poll waits for the card: a status line or a reopen is answered,
// and the watchdog hears that the capture lives (the wait is another
// process's doing, not a hang).
bool CaptureRun::StopAsked() {
  const os::CaptureWake wake = os::WaitForSignal(0);
  if (wake.status) Say(Priority::kInfo, StatusLine());
  if (wake.reopen) Reopen();
  Watchdog(false);
  return wake.stop;
}

void CaptureRun::Watchdog(bool every_time) {
  if (!notify_ || !notify_->watchdog()) return;
  const std::int64_t now = os::MonotonicMs();
  if (!every_time && now - last_watchdog_ms_ < kReportEveryMs) return;
  last_watchdog_ms_ = now;
  notify_->Send("WATCHDOG=1");
}

// Reads on from where the last capture into FILE stopped: what arrived
// since and is still in the ring goes to the file first; the rest is a gap
// while no capture ran, said with its times and size.
void CaptureRun::Resume() {
  const std::optional<os::CaptureRecord> record = state_ ? state_->Read() : std::nullopt;
  if (!record) return;  // the first capture into FILE: it starts with what arrives now
  const std::int64_t ago = os::WallMs() - record->wall_ms;
  engine_.ResumeFrom(record->word, ago, record->line_rate);
  // The file grew after the record by bytes it counted as held, then by
  // bytes that arrived after it: those are not wanted again.
  const std::optional<std::uint64_t> growth = os::GrowthSince(o_.file, *record, o_.keep);
  const std::uint64_t grown = growth.value_or(0);
  const std::uint64_t have = grown > record->held ? grown - record->held : 0;
  const std::uint64_t held_lost = record->held > grown ? record->held - grown : 0;
  bytes_.clear();
  const PollPlan plan = engine_.Poll(bytes_, have);
  last_wall_ms_ = os::WallMs();
  const std::string from = TimeText(os::LocalTimeAt(record->wall_ms));
  const std::string span = "while no capture ran (from " + from + " to " + Now() + ")";
  if (!growth) {
    Say(Priority::kWarning, o_.file +
                                " is not the file the last capture wrote (moved or removed): "
                                "the bytes since it stopped are written whole");
  }
  if (plan.reset) {
    ++totals_.gaps;
    Say(Priority::kError, "the card's counter went back " + span + " from " +
                              CounterText(record->word) + " to " +
                              CounterText(engine_.last_word()) +
                              " (a reset, a power-on or another card): a gap of unknown size");
  }
  if (plan.keep > 0) {
    Say(Priority::kInfo, Bytes(static_cast<std::uint64_t>(plan.keep)) + " that arrived " + span +
                             " recovered from the card's ring");
  }
  const std::uint64_t lost = plan.lost + held_lost;
  if (lost > 0 || plan.at_least) {
    ++totals_.gaps;
    Lost(lost);
    Say(Priority::kError,
        std::string(plan.at_least ? "at least " : "") + Bytes(lost) + " lost " + span +
            (held_lost > 0 ? ", " + Bytes(held_lost) + " of them held in memory by that capture"
                           : "") +
            (plan.at_least ? ": at the line's rate its 15-bit count may have wrapped" : "") +
            HoleAt());
  }
  Deliver(bytes_);
}

void CaptureRun::NoteGaps(const PollPlan& plan) {
  if (plan.reset) {
    ++totals_.gaps;
    Say(Priority::kError, Now() +
                              ": the card's write counter was reset; bytes between the last "
                              "poll and the reset are lost");
  }
  if (plan.lost > 0 || plan.at_least) {
    ++totals_.gaps;
    Lost(plan.lost);
    Say(Priority::kError,
        Now() + ": " + (plan.at_least ? "at least " : "") + Bytes(plan.lost) +
            " lost: the card's ring overflowed between two polls" +
            (plan.at_least ? " (" + std::to_string(engine_.elapsed_ms() / 1000) +
                                 " s apart: at the line's rate its 15-bit count may have wrapped)"
                           : "") +
            HoleAt());
  }
}

std::size_t CaptureRun::Write(std::string_view bytes) {
  const std::size_t n = file_->Write(bytes, &write_error_);
  totals_.captured += n;
  return n;
}

// New bytes follow what is held, in order; what the file does not take now
// is held for the next poll.
void CaptureRun::Deliver(std::string_view bytes) {
  Flush();
  if (HeldSize() > 0) return Hold(bytes);
  const std::size_t n = Write(bytes);
  if (n == bytes.size() || file_->broken()) return;
  if (!outage_.on) {
    outage_ = Outage{true, Now(), 0, 0};
    Say(Priority::kError, write_error_ + ": holding the captured bytes in memory (up to " +
                              SizeText(o_.hold) + ") until they can be written");
  }
  Hold(bytes.substr(n));
}

// As much as the hold takes; the rest is lost, counted to the byte.
void CaptureRun::Hold(std::string_view bytes) {
  const std::uint64_t room = o_.hold - std::min(o_.hold, HeldSize());
  const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(room, bytes.size()));
  held_.append(bytes.substr(0, take));
  outage_.held += take;
  const std::uint64_t over = bytes.size() - take;
  if (over == 0) return;
  if (outage_.lost == 0) {
    ++totals_.gaps;
    Say(Priority::kError, "the hold of " + SizeText(o_.hold) +
                              " is full: captured bytes are being lost until " + o_.file +
                              " can be written" + HoleAt());
  }
  outage_.lost += over;
  Lost(over);
}

void CaptureRun::Flush() {
  if (HeldSize() == 0) return;
  held_from_ += Write(std::string_view(held_).substr(held_from_));
  if (HeldSize() > 0) {
    if (held_from_ > held_.size() / 2) held_.erase(0, std::exchange(held_from_, 0));
    return;
  }
  held_.clear();
  held_from_ = 0;
  Say(Priority::kNotice, o_.file + " written again: the outage from " + outage_.start + " to " +
                             Now() + " held " + Bytes(outage_.held) + " and lost " +
                             Bytes(outage_.lost));
  outage_ = Outage{};
}

// Later polls wait for the card as long as it takes, so a long hold by
// another process is survived; a stop ends the wait, and the last poll
// after a stop waits a moment at most. False when the card was not had.
bool CaptureRun::Poll(bool last, PollPlan* plan_out) {
  const char* name = program_invocation_short_name;
  CardLock card(last ? CommandWait(name, kLastPollWaitMs)
                     : CommandWait(name, -1, [this] { return StopAsked(); }));
  if (!card.held()) return false;
  bytes_.clear();
  const PollPlan plan = engine_.Poll(bytes_);
  card.Release();
  *plan_out = plan;
  last_wall_ms_ = os::WallMs();
  NoteGaps(plan);
  Deliver(bytes_);
  Record();
  if (g_news) {
    const std::string news = g_news();
    for (std::size_t at = 0, end; (end = news.find('\n', at)) != std::string::npos; at = end + 1) {
      Say(Priority::kWarning, news.substr(at, end - at));
    }
  }
  Watchdog(true);
  return true;
}

// Where the stream stands: the counter word polled, and the file's size
// with what is still held on top of it.
void CaptureRun::Record() {
  if (!state_ || !started_) return;  // a reopen while the first poll waits keeps the old record
  const os::CaptureFile::Position at = file_->position();
  state_->Write(os::CaptureRecord{engine_.last_word(), last_wall_ms_, engine_.line_rate(),
                                  HeldSize(), at.dev, at.ino, at.size});
}

// The old file takes what is held first, then is closed; the new one is
// written from the next poll on.
void CaptureRun::Reopen() {
  Flush();
  std::string err;
  if (file_->Reopen(&err)) {
    Say(Priority::kInfo, o_.file + " reopened");
  } else {
    Say(Priority::kError, "cannot reopen " + o_.file + ": " + err + "; writing on to the old file");
  }
  Record();
}

void CaptureRun::Sync() {
  std::string err;
  const bool ok = file_->Sync(&err);
  if (!ok && !sync_failing_) Say(Priority::kError, err);
  sync_failing_ = !ok;
  if (state_) state_->Sync();
}

// Where the bytes being lost now would have gone: after what the file has
// and what is held for it.
std::string CaptureRun::HoleAt() const {
  if (file_->is_stdout()) return "";
  return "; the hole is at byte " + std::to_string(file_->position().size + HeldSize()) + " of " +
         o_.file;
}

std::string CaptureRun::StatusLine() const {
  return "capture to " + o_.file + " since " + totals_.since + ": " +
         std::to_string(totals_.captured) + " bytes captured, " + std::to_string(totals_.gaps) +
         " gaps, " + std::to_string(totals_.lost) + " bytes lost" +
         (HeldSize() > 0 ? ", " + Bytes(HeldSize()) + " held in memory" : "");
}

std::string CaptureRun::Metrics() const {
  const std::string label = "{file=\"" + LabelValue(o_.file) + "\"} ";
  std::string text;
  const auto metric = [&](const char* name, const char* type, const char* help,
                          const std::string& value) {
    text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" +
            name + label + value + "\n";
  };
  metric("q7tlog_capture_bytes_total", "counter",
         "Bytes written to the capture file and its rotations since the capture started.",
         std::to_string(totals_.captured));
  metric("q7tlog_capture_lost_bytes_total", "counter",
         "Bytes the capture knows it lost since it started (at least).",
         std::to_string(totals_.lost));
  metric("q7tlog_capture_gaps_total", "counter", "Gaps reported in the captured stream.",
         std::to_string(totals_.gaps));
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%lld.%03lld", static_cast<long long>(last_wall_ms_ / 1000),
                static_cast<long long>(last_wall_ms_ % 1000));
  metric("q7tlog_capture_last_poll_timestamp_seconds", "gauge",
         "When the card was last polled, in seconds since 1970.", stamp);
  metric("q7tlog_card_mode", "gauge", "The card's mode register at the last poll.",
         std::to_string(engine_.mode_value() & 0xFF));
  return text;
}

// The metrics file and the service manager's status line.
void CaptureRun::Report() {
  if (!o_.metrics.empty()) {
    const std::size_t slash = o_.metrics.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : o_.metrics.substr(0, slash + 1);
    std::string err;
    const bool ok = os::ReplaceFile(dir, o_.metrics.substr(slash + 1), Metrics(), false, &err);
    if (!ok && !metrics_failing_) Say(Priority::kWarning, "metrics: " + err);
    metrics_failing_ = !ok;
  }
  if (notify_) {
    notify_->Send(std::string(ready_ ? "" : "READY=1\n") + "STATUS=" + StatusLine());
    ready_ = true;
  }
}

// What is still held can be written nowhere now: it is lost, and the
// record says nothing is held, so the next capture does not count it again.
int CaptureRun::Finish() {
  if (const std::uint64_t held = HeldSize(); held > 0) {
    ++totals_.gaps;
    Lost(held);
    Say(Priority::kError, Bytes(held) + " held in memory could not be written to " + o_.file +
                              " (" + write_error_ + "): lost");
    held_.clear();
    held_from_ = 0;
  }
  Record();
  Sync();
  Report();
  if (notify_) notify_->Send("STOPPING=1");
  Say(Priority::kInfo, StatusLine() + ", stopped");
  return totals_.gaps > 0 ? kExitLost : kExitOk;
}

int CaptureRun::Run() {
  if (!Open()) return kExitFailed;
  int interval = PollIntervalMs(BaudDivisor(o_.baud) & 0xFFFF);
  Say(Priority::kInfo,
      "capture to " + o_.file + " started, a poll every " + std::to_string(interval) + " ms");
  const std::int64_t start = os::MonotonicMs();
  const std::int64_t end =
      o_.seconds >= 0 ? start + o_.seconds * 1000 : std::numeric_limits<std::int64_t>::max();
  std::int64_t last_poll = start, last_sync = start, last_report = start - kReportEveryMs;
  for (;;) {
    const std::int64_t due = std::min(last_poll + interval, end);
    const os::CaptureWake wake =
        os::WaitForSignal(static_cast<int>(std::max<std::int64_t>(due - os::MonotonicMs(), 0)));
    if (wake.status) Say(Priority::kInfo, StatusLine());
    if (wake.reopen) Reopen();
    const std::int64_t now = os::MonotonicMs();
    // A stop drains the card once more, so every byte until then is kept.
    const bool last = wake.stop || now >= end;
    if (!last && now < due) continue;

    PollPlan plan;
    if (!Poll(last, &plan)) {
      Say(Priority::kError,
          "stopped while the card was held by " + HolderText(CardLockHolder()) +
              ": the last drain did not happen" +
              (state_ ? "; the next capture into " + o_.file + " reads on from the last poll"
                      : ""));
      Finish();
      return kExitFailed;
    }
    interval = AdaptIntervalMs(interval, plan.arrived, engine_.elapsed_ms());
    last_poll = now;
    if (file_->broken()) {
      Say(Priority::kError, write_error_ + ": the reader has gone; the capture ends with " +
                                Bytes(totals_.captured) + " written");
      return kExitFailed;
    }
    if (last) break;
    if (now - last_sync >= kSyncEveryMs) {
      Sync();
      last_sync = now;
    }
    if (now - last_report >= kReportEveryMs) {
      Report();
      last_report = now;
    }
  }
  return Finish();
}

}  // namespace

void SetCaptureNews(std::string (*news)()) {
  g_news = news;
}

int RunCapture(const CaptureOptions& options) {
  g_journal = os::StderrIsJournal();
  CaptureRun run(options);
  return run.Run();
}

}  // namespace q7t
