// The capture command end to end: q7tlog-sim's virtual card listening on a
// pseudo-terminal fed at 115200 bit/s, the captured file compared with what
// the line carried.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "e2e/menu_screen.h"
#include "e2e/porttrap.h"
#include "support/files.h"
#include "support/pty_harness.h"
#include "support/serial_line.h"

namespace q7t::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::size_t kBytesPerSecond = 115200 / 10;
constexpr std::size_t kKeySize = 8;  // a run of bytes that names its one place in the stream

// A pseudo-terminal standing in for the serial line, fed from a thread at
// the line's byte rate against a fixed timetable (a late wake-up catches up).
class FedLine {
 public:
  FedLine() {
    if (line_.path.empty()) ADD_FAILURE() << line_.error;
  }
  ~FedLine() { Cut(); }
  const std::string& path() const { return line_.path; }
  int master() const { return line_.master; }
  // The rate the program set on the line.
  speed_t speed() const {
    termios tio{};
    return tcgetattr(line_.slave, &tio) == 0 ? cfgetispeed(&tio) : B0;
  }

  void Feed(const std::string& stream) {
    Cut();
    stop_ = false;
    thread_ = std::thread([this, &stream] { Run(stream); });
  }
  // Stops feeding and drops what no program has read yet.
  void Cut() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    tcflush(line_.slave, TCIFLUSH);
  }
  // Waits until the whole stream is sent and the program has read it.
  bool Drained(const std::string& stream, int timeout_ms) {
    for (auto end = Clock::now() + milliseconds(timeout_ms); Clock::now() < end;) {
      int queued = 1;
      if (sent_ == stream.size() && ioctl(line_.slave, TIOCINQ, &queued) == 0 && queued == 0) {
        std::this_thread::sleep_for(milliseconds(100));  // from the read into the card
        return true;
      }
      std::this_thread::sleep_for(milliseconds(10));
    }
    return false;
  }

 private:
  void Run(const std::string& stream) {
    const auto start = Clock::now();
    std::size_t sent = 0;
    for (auto tick = start; !stop_ && sent < stream.size();) {
      tick += milliseconds(5);
      std::this_thread::sleep_until(tick);
      const auto us = std::chrono::duration_cast<std::chrono::microseconds>(tick - start).count();
      const std::size_t due =
          std::min(stream.size(), static_cast<std::size_t>(us) * kBytesPerSecond / 1000000);
      while (!stop_ && sent < due) {
        const ssize_t n = write(line_.master, stream.data() + sent, due - sent);
        if (n < 0 && errno == EAGAIN) break;  // nobody reads: the next tick tries again
        if (n < 0 && errno != EINTR) return;
        if (n > 0) sent += static_cast<std::size_t>(n);
      }
      sent_ = sent;
    }
  }

  SerialLine line_{true};  // a program that died never blocks the feeder
  std::atomic<bool> stop_{false};
  std::atomic<std::size_t> sent_{0};
  std::thread thread_;
};

// The capture on a terminal of its own, which shows its stderr lines.
PtyProgram::Options Capture(const FedLine& line, const std::string& file,
                            std::vector<std::string> more = {}) {
  std::vector<std::string> args = {line.path(), "capture", file};
  args.insert(args.end(), more.begin(), more.end());
  return ProgramOptions(BinPath("q7tlog-sim"), args);
}

// Started: the card listens in raw mode and has its first counter reading.
::testing::AssertionResult Started(PtyProgram& capture, const FedLine& line) {
  if (!WaitForOutput(capture, " started, a poll every ") || !Raw(line.master())) {
    return ::testing::AssertionFailure() << "no start: " << capture.raw_output();
  }
  return ::testing::AssertionSuccess();
}

// A signal, then the status line it brings; returns the bytes it counts.
std::size_t Status(PtyProgram& capture, int sig) {
  const std::size_t mark = capture.raw_output().size();
  kill(capture.pid(), sig);
  if (!WaitForOutput(capture, " bytes captured", mark)) return 0;
  static const std::regex kCaptured(R"((\d+) bytes captured)");
  std::smatch m;
  const std::string said = capture.raw_output().substr(mark);
  return std::regex_search(said, m, kCaptured) ? std::stoul(m[1]) : 0;
}

// The numbers that `pattern`'s first group finds in what the capture said.
std::vector<std::size_t> Numbers(const std::string& said, const char* pattern) {
  const std::regex re(pattern);
  std::vector<std::size_t> found;
  for (std::sregex_iterator it(said.begin(), said.end(), re), end; it != end; ++it) {
    found.push_back(std::stoul((*it)[1]));
  }
  return found;
}

// A capture into a new folder's line.bin, started and then fed `stream`
// for 1.5 s.
struct FedCapture {
  FedCapture(const std::string& stream, std::vector<std::string> more = {})
      : program(Capture(line, file, std::move(more))), started(Started(program, line)) {
    if (!started) return;
    line.Feed(stream);
    std::this_thread::sleep_for(milliseconds(1500));
  }
  FedLine line;
  ScopedTempDir dir;
  const std::string file = dir.File("line.bin");
  PtyProgram program;
  ::testing::AssertionResult started;
};

// Feeds `stream` and, once the line has carried it all, stops the capture;
// its exit status.
int FeedAndStop(PtyProgram& capture, FedLine& line, const std::string& stream) {
  if (!line.Drained(stream, 30000)) ADD_FAILURE() << "the line was never drained";
  kill(capture.pid(), SIGTERM);
  return ExitStatus(capture);
}

TEST(Capture, ThirtySecondsAt115200AreCapturedByteForByte) {
  constexpr int kSeconds = 30;
  const std::string stream = RandomBytes(kBytesPerSecond * kSeconds, 0xC0FFEEu);
  FedLine line;
  ScopedTempDir dir;
  rusage before{}, after{};
  getrusage(RUSAGE_CHILDREN, &before);
  PtyProgram capture(Capture(line, dir.File("line.bin"), {"--baud", "115200"}));
  ASSERT_TRUE(Started(capture, line));
  EXPECT_EQ(line.speed(), static_cast<speed_t>(B115200)) << "the virtual card's line";
  line.Feed(stream);
  std::this_thread::sleep_for(milliseconds(kSeconds * 500));
  EXPECT_GT(Status(capture, SIGUSR1), 0u);
  EXPECT_NE(capture.raw_output().find(" 0 gaps, 0 bytes lost"), std::string::npos);
  ASSERT_TRUE(line.Drained(stream, kSeconds * 1000));
  EXPECT_EQ(Status(capture, SIGTERM), stream.size()) << capture.raw_output();
  ASSERT_EQ(ExitStatus(capture), 0);
  const std::string got = ReadWhole(dir.File("line.bin"));
  EXPECT_TRUE(got == stream) << got.size() << " bytes, from byte "
                             << (std::mismatch(got.begin(), got.end(), stream.begin()).first -
                                 got.begin())
                             << " on not the stream's";
  EXPECT_NE(capture.raw_output().find(" 0 gaps, 0 bytes lost, stopped"), std::string::npos);
  getrusage(RUSAGE_CHILDREN, &after);
  const double cpu_ms = (after.ru_utime.tv_sec - before.ru_utime.tv_sec + after.ru_stime.tv_sec -
                         before.ru_stime.tv_sec) *
                            1e3 +
                        (after.ru_utime.tv_usec - before.ru_utime.tv_usec + after.ru_stime.tv_usec -
                         before.ru_stime.tv_usec) /
                            1e3;
  std::cout << "[ CAPTURE  ] CPU " << cpu_ms / kSeconds << " ms per second of line; it said:\n"
            << capture.raw_output();
}

constexpr std::size_t kAnySize = std::string::npos;

// `got` is `stream` with holes of exactly `holes` bytes (kAnySize: a hole
// of a size nobody could know, perhaps none), in order, and nothing else
// missing.
::testing::AssertionResult HasHoles(const std::string& got, const std::string& stream,
                                    const std::vector<std::size_t>& holes) {
  std::size_t at = 0, skipped = 0;
  for (const std::size_t hole : holes) {
    at = static_cast<std::size_t>(std::mismatch(got.begin() + static_cast<long>(at), got.end(),
                                                stream.begin() + static_cast<long>(at + skipped),
                                                stream.end())
                                      .first -
                                  got.begin());
    if (at == got.size() && hole == kAnySize) break;
    // Where the file goes on in the stream names the hole's true size.
    const std::size_t resumes = stream.find(got.substr(at, kKeySize), at + skipped);
    if (at + kKeySize > got.size() || (hole != kAnySize && resumes - at - skipped != hole)) {
      return ::testing::AssertionFailure() << "no hole of " << hole << " bytes at " << at;
    }
    skipped = resumes - at;
  }
  if (got.size() + skipped != stream.size() ||
      got.compare(at, std::string::npos, stream, at + skipped) != 0) {
    return ::testing::AssertionFailure() << "bytes lost beyond the " << holes.size() << " holes";
  }
  return ::testing::AssertionSuccess();
}

// Planned for 9600 bit/s, the capture polls once a second; the pty carries
// 115200 bit/s regardless, so the first poll finds the ring overrun. The gap
// is reported with its exact size and counted in the totals, and the
// interval then adapts, so it stays the only one.
TEST(Capture, OverrunRingIsReportedWithTheExactLoss) {
  const std::string stream = RandomBytes(kBytesPerSecond * 3, 0x6A9u);
  FedLine line;
  ScopedTempDir dir;
  PtyProgram capture(Capture(line, dir.File("line.bin"), {"--baud", "9600"}));
  ASSERT_TRUE(Started(capture, line));
  EXPECT_NE(capture.raw_output().find("a poll every 1000 ms"), std::string::npos);
  line.Feed(stream);
  EXPECT_EQ(FeedAndStop(capture, line, stream), 3) << "bytes were lost";
  const std::string said = capture.raw_output();
  const std::vector<std::size_t> holes = Numbers(said, R"((\d+) bytes lost: )");
  ASSERT_EQ(holes.size(), 1u) << said;
  const std::string got = ReadWhole(dir.File("line.bin"));
  EXPECT_TRUE(HasHoles(got, stream, holes));
  EXPECT_EQ(Numbers(said, R"(the hole is at byte (\d+) of )"),
            std::vector<std::size_t>{static_cast<std::size_t>(
                std::mismatch(got.begin(), got.end(), stream.begin()).first - got.begin())});
  EXPECT_EQ(Numbers(said, R"((\d+) bytes lost, stopped)"), holes) << said;
  std::cout << "[ CAPTURE  ] " << stream.size() << " bytes sent; the capture said:\n" << said;
}

// SIGKILL leaves the file whole up to what was written; a new capture
// appends to it, never truncates, and says what it cannot know: the
// virtual card died with the first one, so its counter starts again.
TEST(Capture, KilledCaptureLeavesTheFileWholeAndTheNextReportsTheGap) {
  const std::string stream = RandomBytes(kBytesPerSecond * 4, 0xD1Eu);
  FedCapture first(stream);
  ASSERT_TRUE(first.started);
  kill(first.program.pid(), SIGKILL);
  ASSERT_TRUE(first.program.WaitForExit(5000, nullptr));
  const std::string before = ReadWhole(first.file);
  ASSERT_EQ(before, stream.substr(0, before.size())) << "not the stream's first bytes";
  PtyProgram again(Capture(first.line, first.file));
  ASSERT_TRUE(Started(again, first.line));
  EXPECT_EQ(FeedAndStop(again, first.line, stream), 3) << "a gap was reported";
  const std::string got = ReadWhole(first.file);
  EXPECT_EQ(got.compare(0, before.size(), before), 0) << "the file was truncated";
  EXPECT_NE(again.raw_output().find("a gap of unknown size"), std::string::npos)
      << again.raw_output();
  EXPECT_TRUE(HasHoles(got, stream, {kAnySize}));
}

// On a card whose counter went on while no capture ran (the real-card
// build, its card answered by porttrap), a new capture reads on from the
// last one's record: what the ring still holds is written first, less what
// the file already has; what it lost is said.
TEST(Capture, RestartOnTheRealCardReadsOnFromTheRecord) {
  if (const std::string why = PorttrapUnavailable(); !why.empty()) GTEST_SKIP() << why;
  ScopedTempDir dir;
  const std::string file = dir.File("line.bin"), ring_file = dir.File("ring");
  const std::string ring = RandomBytes(8192, 0xB0Fu);
  std::ofstream(ring_file, std::ios::binary) << ring;
  // One poll at a card whose counter stands at `count`; what it said.
  const auto capture = [&](int count, std::vector<std::string> flag, int status) {
    std::vector<std::string> args = {"--buffer", ring_file, "--count", std::to_string(count)};
    args.insert(args.end(), flag.begin(), flag.end());
    // A slow line planned: the count cannot have wrapped between the runs.
    const std::vector<std::string> run = {
        "--", BinPath("q7tlog"), "capture", file,     "--seconds",
        "0",  "--baud",          "2000",    "--lock", dir.File("lock")};
    args.insert(args.end(), run.begin(), run.end());
    PtyProgram program(ProgramOptions(kPorttrap, args));
    EXPECT_EQ(ExitStatus(program), status) << program.raw_output();
    return program.raw_output();
  };
  capture(1000, {}, 0);
  ASSERT_EQ(ReadWhole(file), "");
  // A capture killed after a write and before its record.
  std::ofstream(file, std::ios::binary | std::ios::app) << ring.substr(1000, 200);
  std::string said = capture(5000, {}, 0);
  EXPECT_NE(said.find("3800 bytes that arrived while no capture ran"), std::string::npos) << said;
  EXPECT_TRUE(ReadWhole(file) == ring.substr(1000, 4000));
  // 10000 more: the ring keeps the last 8192, from the write position on.
  said = capture(15000, {"--flag"}, 3);
  EXPECT_NE(said.find("1808 bytes lost while no capture ran"), std::string::npos) << said;
  EXPECT_EQ(Numbers(said, R"((\d+) bytes lost, stopped)"), std::vector<std::size_t>{1808});
  const std::size_t oldest = 15000 % 8192;
  EXPECT_TRUE(ReadWhole(file) ==
              ring.substr(1000, 4000) + ring.substr(oldest) + ring.substr(0, oldest))
      << ReadWhole(file).size() << " bytes; " << said;
}

// What logrotate does: the file moved away, then SIGHUP. The capture goes
// on in a new file; the two together are the stream.
TEST(Capture, SighupAfterAMoveStartsANewFileAndLosesNothing) {
  const std::string stream = RandomBytes(kBytesPerSecond * 4, 0x40Bu);
  FedCapture c(stream);
  ASSERT_TRUE(c.started);
  ASSERT_EQ(rename(c.file.c_str(), (c.file + ".old").c_str()), 0);
  std::this_thread::sleep_for(milliseconds(300));  // still written into the moved file
  kill(c.program.pid(), SIGHUP);
  ASSERT_TRUE(WaitForOutput(c.program, " reopened"));
  EXPECT_EQ(FeedAndStop(c.program, c.line, stream), 0) << c.program.raw_output();
  const std::string old = ReadWhole(c.file + ".old"), now = ReadWhole(c.file);
  EXPECT_FALSE(old.empty() || now.empty()) << old.size() << " + " << now.size();
  EXPECT_TRUE(old + now == stream) << old.size() << " + " << now.size();
}

// A file that takes no more (here a file size limit put on the running
// capture, as a full disk would): polling goes on, the bytes wait in
// memory and are written when space returns; only what the hold cannot
// take is lost, to the byte. A partial write counts as written.
TEST(Capture, FullDiskIsWaitedOutWithTheBytesHeld) {
  constexpr struct {
    const char* hold;
    int status;
  } kCases[] = {{"64M", 0}, {"8K", 3}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.hold);
    const std::string stream = RandomBytes(kBytesPerSecond * 5, 0xF11u);
    FedCapture run(stream, {"--hold", c.hold});
    ASSERT_TRUE(run.started);
    PtyProgram& capture = run.program;
    const std::string& file = run.file;
    const rlim_t size = ReadWhole(file).size() + 1000;
    const rlimit full{size, RLIM_INFINITY}, unlimited{RLIM_INFINITY, RLIM_INFINITY};
    ASSERT_EQ(prlimit(capture.pid(), RLIMIT_FSIZE, &full, nullptr), 0) << strerror(errno);
    ASSERT_TRUE(WaitForOutput(capture, ": holding the captured bytes in memory"));
    std::this_thread::sleep_for(milliseconds(2000));
    ASSERT_EQ(prlimit(capture.pid(), RLIMIT_FSIZE, &unlimited, nullptr), 0);
    EXPECT_TRUE(WaitForOutput(capture, " written again: the outage from "));
    EXPECT_EQ(FeedAndStop(capture, run.line, stream), c.status);
    const std::string said = capture.raw_output();
    const std::vector<std::size_t> lost = Numbers(said, R"(held \d+ bytes and lost (\d+) bytes)");
    ASSERT_EQ(lost.size(), 1u) << said;
    EXPECT_EQ(Numbers(said, R"((\d+) bytes lost, stopped)"), lost) << said;
    const std::string got = ReadWhole(file);
    EXPECT_EQ(Numbers(said, R"((\d+) bytes captured)").back(), got.size());
    if (lost[0] == 0) {
      EXPECT_TRUE(got == stream) << got.size() << " of " << stream.size() << " bytes";
    } else {
      EXPECT_TRUE(HasHoles(got, stream, lost));
    }
  }
}

// A capture killed while its file takes nothing leaves what it held in its
// record, and the next one reports those bytes lost; one stopped while the
// file still takes nothing reports what it could not write, in its totals.
TEST(Capture, HeldBytesOfAKilledOrStoppedCaptureAreReportedLost) {
  const std::string stream = RandomBytes(kBytesPerSecond * 4, 0x4E1u);
  FedCapture run(stream);
  ASSERT_TRUE(run.started);
  const auto fill = [&](PtyProgram& capture) {  // the file takes no more from now on
    const rlimit full{ReadWhole(run.file).size(), RLIM_INFINITY};
    return prlimit(capture.pid(), RLIMIT_FSIZE, &full, nullptr) == 0 &&
           WaitForOutput(capture, ": holding the captured bytes in memory");
  };
  PtyProgram& first = run.program;
  ASSERT_TRUE(fill(first));
  std::this_thread::sleep_for(milliseconds(500));
  const std::size_t mark = first.raw_output().size();
  kill(first.pid(), SIGUSR1);
  ASSERT_TRUE(WaitForOutput(first, " held in memory", mark));
  const auto held = Numbers(first.raw_output().substr(mark), R"((\d+) bytes held in memory)");
  kill(first.pid(), SIGKILL);
  ASSERT_TRUE(first.WaitForExit(5000, nullptr));

  PtyProgram again(Capture(run.line, run.file));
  ASSERT_TRUE(Started(again, run.line));
  const auto were_held = Numbers(again.raw_output(), R"((\d+) bytes of them held in memory)");
  ASSERT_EQ(were_held.size(), 1u) << again.raw_output();
  EXPECT_GE(were_held[0], held.at(0));
  ASSERT_TRUE(fill(again));
  kill(again.pid(), SIGTERM);
  EXPECT_EQ(ExitStatus(again), 3);
  const std::string said = again.raw_output();
  const auto unwritten = Numbers(said, R"((\d+) bytes held in memory could not be written)");
  ASSERT_EQ(unwritten.size(), 1u) << said;
  EXPECT_EQ(Numbers(said, R"((\d+) bytes lost, stopped)"),
            std::vector<std::size_t>{
                Numbers(said, R"((\d+) bytes lost while no capture ran)").at(0) + unwritten[0]});
}

// FILE and its rotated names have one writer: a second capture is refused
// before it touches anything.
TEST(Capture, SecondWriterIsRefused) {
  FedLine line, other;
  ScopedTempDir dir;
  const std::string file = dir.File("line.bin");
  PtyProgram capture(Capture(line, file, {"--rotate", "1M"}));
  ASSERT_TRUE(Started(capture, line));
  for (const std::string& name : {file, file + ".1"}) {
    PtyProgram second(Capture(other, name));
    EXPECT_EQ(ExitStatus(second), 1) << name;
    EXPECT_NE(second.raw_output().find(": another capture writes to it"), std::string::npos)
        << second.raw_output();
  }
  EXPECT_FALSE(capture.exited());
}

// Under a service manager: readiness after the first poll, the watchdog at
// every poll, the totals as its status, the stop announced; the lines on
// stderr carry their journal priority; the metrics file counts the bytes
// the file holds.
TEST(Capture, ServiceManagerJournalAndMetricsHearIt) {
  const std::string stream = RandomBytes(kBytesPerSecond * 2, 0x5E7u);
  FedLine line;
  ScopedTempDir dir;
  const std::string file = dir.File("line.bin"), metrics = dir.File("capture.prom");
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, dir.File("notify").c_str(), sizeof addr.sun_path - 1);
  const int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(bind(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
  // The journal is known by its stream's device and inode: here the pty's.
  PtyProgram::Options options = ProgramOptions(
      "/bin/bash",
      {"-c", "JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2) exec " + BinPath("q7tlog-sim") +
                 " " + line.path() + " capture " + file + " --metrics " + metrics});
  options.env = {{"NOTIFY_SOCKET", addr.sun_path}, {"WATCHDOG_USEC", "2000000"}};
  // Heard as it comes: the socket queues only a few datagrams.
  std::vector<std::string> heard;
  std::atomic<bool> done{false};
  std::thread listener([&] {
    char datagram[512];
    for (pollfd pfd{sock, POLLIN, 0}; !done || poll(&pfd, 1, 0) > 0;) {
      if (poll(&pfd, 1, 50) <= 0) continue;
      const ssize_t n = recv(sock, datagram, sizeof datagram, 0);
      if (n > 0) heard.emplace_back(datagram, static_cast<std::size_t>(n));
    }
  });
  PtyProgram capture(options);
  EXPECT_TRUE(Started(capture, line));
  line.Feed(stream);
  EXPECT_EQ(FeedAndStop(capture, line, stream), 0);
  done = true;
  listener.join();
  close(sock);
  const auto count = [&](std::string_view text) {
    return std::count_if(heard.begin(), heard.end(),
                         [&](const std::string& d) { return d.find(text) != std::string::npos; });
  };
  EXPECT_EQ(count("READY=1"), 1);
  EXPECT_GE(count("WATCHDOG=1"), 10);  // every poll, some 6 a second
  EXPECT_GE(count("STATUS=capture to " + file), 2);
  ASSERT_FALSE(heard.empty());
  EXPECT_EQ(heard.back(), "STOPPING=1");

  const std::string said = capture.raw_output();
  EXPECT_EQ(said.rfind("<6>q7tlog-sim: capture to ", 0), 0u) << said;
  EXPECT_EQ(said.find("\nq7tlog-sim: "), std::string::npos) << "a line without its priority";

  const std::string text = ReadWhole(metrics);
  for (const char* name : {"q7tlog_capture_lost_bytes_total", "q7tlog_capture_gaps_total",
                           "q7tlog_capture_last_poll_timestamp_seconds", "q7tlog_card_mode"}) {
    EXPECT_NE(text.find(std::string("\n") + name + "{file=\"" + file + "\"} "), std::string::npos)
        << name << " in\n"
        << text;
  }
  EXPECT_EQ(Numbers(text, R"(\nq7tlog_capture_bytes_total\{file="[^"]*"\} (\d+)\n)"),
            std::vector<std::size_t>{ReadWhole(file).size()})
      << text;
}

// `capture -` writes to standard output; a reader that goes away ends the
// capture with a message and status 1.
TEST(Capture, ClosedPipeEndsTheCaptureWithStatusOne) {
  // As much as the reader takes, then nothing: the capture sees it gone
  // without a byte more to write.
  const std::string stream = RandomBytes(1000, 0x919u);
  FedLine line;
  PtyProgram capture(ProgramOptions(
      "/bin/bash",
      {"-c", BinPath("q7tlog-sim") + " " + line.path() +
                 " capture - | head -c 1000 >/dev/null; echo status ${PIPESTATUS[0]}"}));
  ASSERT_TRUE(Started(capture, line));
  line.Feed(stream);
  EXPECT_TRUE(WaitForOutput(capture, "status 1")) << capture.raw_output();
  EXPECT_NE(capture.raw_output().find("standard output: Broken pipe"), std::string::npos);
}

// Standard error read by a pipe whose reader has gone: the capture's lines
// are lost, the capture is not.
TEST(Capture, StderrReaderGoneLeavesTheCaptureRunning) {
  FedLine line;
  ScopedTempDir dir;
  const std::string capture_line = BinPath("q7tlog-sim") + " " + line.path() + " capture " +
                                   dir.File("line.bin") + " --seconds 1 2>&1 >&3 3>&-";
  PtyProgram capture(ProgramOptions(
      "/bin/bash",
      {"-c", "exec 3>&1; { " + capture_line + "; echo status $? >&3; } | head -c 1 >/dev/null"}));
  EXPECT_TRUE(WaitForOutput(capture, "status 0")) << capture.raw_output();
}

// A device that goes away and comes back while a capture runs is told on
// stderr as it happens (here a link to a pseudo-terminal, removed and made
// again).
TEST(Capture, DeviceLostAndBackIsToldAsItHappens) {
  ScopedTempDir dir;
  const std::string device = dir.File("ttyUSB0");
  auto line = std::make_unique<SerialLine>();
  ASSERT_EQ(symlink(line->path.c_str(), device.c_str()), 0);
  PtyProgram capture(
      ProgramOptions(BinPath("q7tlog-sim"), {device, "capture", dir.File("line.bin")}));
  ASSERT_TRUE(WaitForOutput(capture, " started, a poll every "));
  ASSERT_EQ(unlink(device.c_str()), 0);
  line.reset();
  EXPECT_TRUE(WaitForOutput(capture, device + " lost at ")) << capture.raw_output();
  line = std::make_unique<SerialLine>();
  ASSERT_EQ(symlink(line->path.c_str(), device.c_str()), 0);
  EXPECT_TRUE(WaitForOutput(capture, device + " back at ")) << capture.raw_output();
  capture.Pump(500);
  const std::string said = capture.raw_output();
  EXPECT_EQ(said.find(" lost at "), said.rfind(" lost at ")) << "told once: " << said;
  EXPECT_FALSE(capture.exited());
}

}  // namespace
}  // namespace q7t::test
