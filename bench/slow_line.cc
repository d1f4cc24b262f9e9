// The viewer over a slow line: q7tlog-sim on a pseudo-terminal whose reader
// takes the program's output only as fast as a serial line carries it (a
// byte arrives when the line has sent it), through libvterm. For each
// scenario of keys it reports the bytes written after the first key, the
// program's write calls, the wait from the last key until the screen is
// complete and correct (every cell, both colours, the cursor), judged
// against the same keys given at full speed, and how soon after the first
// key the screen first changed and the longest it then stood still before
// it was right.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "document.h"
#include "support/pty_harness.h"

namespace q7t::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLogLines = 300;
constexpr std::string_view kHeader = "Serial Line Log 12-08-2026 05:33:10 RdCnt=0/00123";
constexpr int kSettleMs = 1500;   // the line idle this long: the program is done
constexpr int kGiveUpMs = 30000;  // after the last key
constexpr std::string_view kFirstViewer = "L:0001 P:001";

double MsSince(Clock::time_point from) {
  return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

// Every cell (character and colours) and the cursor.
struct Picture {
  std::vector<std::int64_t> cells;
  int row = 0, col = 0;
  bool visible = false;
  bool operator==(const Picture&) const = default;
};

Picture Take(const VtermScreen& s) {
  Picture p;
  for (int r = 1; r <= s.Rows(); ++r) {
    for (int c = 1; c <= s.Cols(); ++c) {
      p.cells.push_back(static_cast<std::int64_t>(s.CellChar(r, c)) << 16 |
                        (s.CellFg(r, c) + 1) << 8 | (s.CellBg(r, c) + 1));
    }
  }
  p.row = s.CursorRow();
  p.col = s.CursorCol();
  p.visible = s.CursorVisible();
  return p;
}

// How the line carries the program's output while the keys come.
enum class Line : std::uint8_t {
  kSlow,   // at the rate given, from the start
  kSlows,  // at full speed until the first key (the menu and the viewer's
           // first page), then at the rate given
  kFull,   // at full speed
};

struct Scenario {
  const char* name;
  std::string_view key;
  int count;
  double per_second;       // 0: every key in one write
  std::string_view field;  // the position field the keys end on
  Line line = Line::kSlow;
};

struct Outcome {
  long bytes = 0;               // read from the line after the first key
  long writes = 0;              // the program's write calls meanwhile
  double wait_ms = -1;          // from the last key until the screen is right; -1: never
  double first_change_ms = -1;  // from the first key until a cell first changed
  double still_ms = -1;         // the longest no cell changed before the screen was right
  bool field_seen = false;
  Picture final_picture;
};

long WriteCalls(pid_t pid) {
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  std::string name;
  long value = 0;
  while (io >> name >> value) {
    if (name == "syscw:") return value;
  }
  return -1;
}

// The program's end of the pseudo-terminal seen through a line of `rate`
// bytes a second (0: no limit).
class SlowLine {
 public:
  SlowLine(PtyProgram& program, double rate) : program_(program), rate_(rate) {}

  void SetRate(double rate) {
    rate_ = rate;
    credit_ = 0;
  }

  // Carries the line for `ms` (or until `until` holds), sending each key of
  // `keys` when its time comes.
  void Run(double ms, const std::function<bool()>& until = nullptr) {
    auto start = Clock::now();
    while (MsSince(start) < ms) {
      Tick();
      if (until && until()) return;
    }
  }

  void Tick() {
    auto now = Clock::now();
    double elapsed = std::chrono::duration<double>(now - last_).count();
    last_ = now;
    long want = 65536;
    if (rate_ > 0) {
      credit_ = std::min(credit_ + elapsed * rate_, rate_);  // at most a second banked
      want = static_cast<long>(credit_);
    }
    if (want > 0) {
      char buf[65536];
      ssize_t got = read(program_.master_fd(), buf, std::min<long>(want, sizeof buf));
      if (got > 0) {
        std::string_view bytes(buf, static_cast<std::size_t>(got));
        screen_.Feed(bytes);
        if (watching_) NoteChange();
        if (trace_) {
          tail_ += bytes;  // a request may arrive split over reads
          bool request = tail_.find("\x1b[c") != std::string::npos;
          tail_.erase(
              0, request ? tail_.size() : tail_.size() - std::min<std::size_t>(tail_.size(), 2));
          TraceField(request);
        }
        credit_ -= static_cast<double>(got);
        bytes_ += got;
        last_byte_ = now;
        Answer();
      } else {
        credit_ = std::min(credit_, 1.0);  // the line idles: no time is banked
      }
    }
    if (rate_ > 0) {
      usleep(1000);
    } else {
      pollfd p{program_.master_fd(), POLLIN, 0};
      poll(&p, 1, 2);
    }
  }

  void Send(std::string_view bytes) { Write(bytes); }
  // From now on prints the time and the position field each time the field
  // shown changes (the frames as the user sees them arrive).
  void Trace() {
    trace_ = true;
    trace_from_ = Clock::now();
  }
  double TraceMs() const { return MsSince(trace_from_); }

  // From now on notes when the cells shown change (colours and characters;
  // the cursor aside), in milliseconds from now.
  void Watch() {
    watching_ = true;
    watch_from_ = Clock::now();
    cells_ = Take(screen_).cells;
  }
  const std::vector<double>& changes() const { return changes_; }
  double WatchMs() const { return MsSince(watch_from_); }

  double IdleMs() const { return MsSince(last_byte_); }
  long bytes() const { return bytes_; }
  const VtermScreen& screen() const { return screen_; }

 private:
  void Answer() {
    std::string reply = screen_.TakeOutput();
    if (!reply.empty()) Write(reply);
  }
  void Write(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t put = write(program_.master_fd(), bytes.data(), bytes.size());
      if (put > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(put));
      } else {
        Tick();  // the program is not reading: carry the line meanwhile
      }
    }
  }

  void NoteChange() {
    std::vector<std::int64_t> cells = Take(screen_).cells;
    if (cells == cells_) return;
    cells_ = std::move(cells);
    changes_.push_back(WatchMs());
  }

  // A line when the position field changes or a request arrives (the end
  // of a piece, or a question before a frame).
  void TraceField(bool request) {
    std::string field = screen_.RowText(25).substr(65, 12);
    if (field == shown_field_ && !request) return;
    shown_field_ = field;
    std::printf("  %6.0f ms  %s  %6ld bytes%s\n", TraceMs(), field.c_str(), bytes_,
                request ? "  request" : "");
  }

  PtyProgram& program_;
  double rate_;
  double credit_ = 0;
  VtermScreen screen_;
  long bytes_ = 0;
  Clock::time_point last_ = Clock::now();
  Clock::time_point last_byte_ = Clock::now();
  bool trace_ = false;
  Clock::time_point trace_from_;
  std::string shown_field_;
  std::string tail_;
  bool watching_ = false;
  Clock::time_point watch_from_;
  std::vector<std::int64_t> cells_;
  std::vector<double> changes_;
};

bool RowHas(const VtermScreen& s, int row, std::string_view text) {
  return s.RowText(row).find(text) != std::string::npos;
}

Outcome Play(const Scenario& sc, double rate, const Picture* wanted, bool trace) {
  ScopedTempDir dir;
  {
    std::ofstream log(dir.File("SerLog.txt"), std::ios::binary);
    log << kHeader << "\r\n";
    for (const std::string& l : bench::GeneratedLines(kLogLines - 1)) log << l << "\r\n";
  }
  PtyProgram::Options options;
  options.program = CopyProgram("q7tlog-sim", dir);
  PtyProgram program(options);
  // The harness leaves its end of the pty non-blocking; the emulator below
  // is the line's far end.
  SlowLine line(program, sc.line == Line::kSlow ? rate : 0);
  line.Run(20000,
           [&] { return RowHas(line.screen(), 10, " <V> View Log") && line.IdleMs() > 300; });
  line.Send("v");
  // Where the line slows, the user has read the first page for a while.
  const double read_ms = sc.line == Line::kSlows ? 1500 : 500;
  line.Run(20000,
           [&] { return RowHas(line.screen(), 25, kFirstViewer) && line.IdleMs() > read_ms; });
  Outcome out;
  if (!RowHas(line.screen(), 25, kFirstViewer)) {
    std::fprintf(stderr, "%s: the viewer did not come up\n%s", sc.name,
                 program.ScreenDump().c_str());
    return out;
  }
  if (sc.line == Line::kSlows) line.SetRate(rate);
  const long bytes_before = line.bytes();
  const long writes_before = WriteCalls(program.pid());
  auto first = Clock::now();
  line.Watch();
  if (trace) {
    std::printf("%s: the first key at 0 ms; the field shown as it changes\n", sc.name);
    line.Trace();
  }
  std::string all;
  for (int i = 0; i < sc.count; ++i) all += sc.key;
  if (sc.per_second <= 0) {
    line.Send(all);
  } else {
    for (int i = 0; i < sc.count; ++i) {
      double due = 1000.0 * i / sc.per_second;
      line.Run(due - MsSince(first));
      line.Send(sc.key);
    }
  }
  auto last = Clock::now();
  if (trace) std::printf("  %6.0f ms  the last key\n", line.TraceMs());
  // The screen is right from the first moment it equals the wanted picture
  // and stays so until the line has been idle for kSettleMs.
  double right_at = -1;
  line.Run(kGiveUpMs, [&] {
    bool right = wanted ? Take(line.screen()) == *wanted : RowHas(line.screen(), 25, sc.field);
    if (!right) right_at = -1;
    if (right && right_at < 0) right_at = MsSince(last);
    // Nor before that long after the keys could all have been applied (one
    // 10 ms poll for each key the queue keeps): a program may say nothing
    // meanwhile.
    return line.IdleMs() > kSettleMs && MsSince(last) > 10.0 * std::min(sc.count, 511) + kSettleMs;
  });
  out.bytes = line.bytes() - bytes_before;
  out.writes = WriteCalls(program.pid()) - writes_before;
  out.wait_ms = right_at;
  // The still periods: from the first key to the first change, between
  // changes, and from the last change before the screen was right to then.
  const double right_ms = right_at < 0 ? line.WatchMs() : right_at + MsSince(first) - MsSince(last);
  double from = 0;
  for (double at : line.changes()) {
    if (at > right_ms) break;
    if (out.first_change_ms < 0) out.first_change_ms = at;
    out.still_ms = std::max(out.still_ms, at - from);
    from = at;
  }
  out.field_seen = RowHas(line.screen(), 25, sc.field);
  out.final_picture = Take(line.screen());
  return out;
}

}  // namespace
}  // namespace q7t::test

int main(int argc, char** argv) {
  using namespace q7t::test;
  // [--trace] [--only=TEXT] [bytes per second]
  double rate = 960;
  bool trace = false;
  std::string only;  // scenarios whose name holds this
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--trace") {
      trace = true;
    } else if (std::string_view(argv[i]).starts_with("--only=")) {
      only = argv[i] + 7;
    } else {
      rate = std::atof(argv[i]);
    }
  }
  const Scenario kScenarios[] = {
      {"held Down, 60 at 30/s", "\x1b[B", 60, 30, "L:0061 P:001"},
      {"PgDn, 10 at 5/s", "\x1b[6~", 10, 5, "L:0231 P:001"},
      {"PgDn, 10 at 5/s, slowed", "\x1b[6~", 10, 5, "L:0231 P:001", Line::kSlows},
      {"Right, 20 at 30/s", "\x1b[C", 20, 30, "L:0001 P:021"},
      {"600 Down pasted", "\x1b[B", 600, 0, "L:0278 P:001"},
      {"60 Down in one write", "\x1b[B", 60, 0, "L:0061 P:001", Line::kFull},
      {"600 Down pasted, full", "\x1b[B", 600, 0, "L:0278 P:001", Line::kFull},
  };
  std::printf(
      "line: %.0f bytes/s (\"slowed\": after a fast start; \"full\" and \"one write\" at full "
      "speed)\n",
      rate);
  std::printf("%-25s %7s %7s %8s %8s %8s  %s\n", "scenario", "bytes", "writes", "wait", "first",
              "still", "screen");
  auto seconds = [](double ms) {
    char text[32] = "never";
    if (ms >= 0) std::snprintf(text, sizeof text, "%.2f s", ms / 1000);
    return std::string(text);
  };
  for (const Scenario& sc : kScenarios) {
    if (std::string_view(sc.name).find(only) == std::string_view::npos) continue;
    // The wanted picture: the same keys in one write at full speed.
    Outcome reference = Play(sc, 0, nullptr, false);
    const bool full_speed = sc.line == Line::kFull;
    Outcome o = full_speed ? reference : Play(sc, rate, &reference.final_picture, trace);
    if (full_speed) o.wait_ms = reference.field_seen ? o.wait_ms : -1;
    const bool right = reference.field_seen && o.final_picture == reference.final_picture;
    std::printf("%-25s %7ld %7ld %8s %8s %8s  %s\n", sc.name, o.bytes, o.writes,
                seconds(o.wait_ms).c_str(), seconds(o.first_change_ms).c_str(),
                seconds(o.still_ms).c_str(), right ? "right" : "WRONG");
    std::fflush(stdout);
  }
  return 0;
}
