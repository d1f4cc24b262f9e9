// The capture command end to end: q7tlog-sim's virtual card listening on a
// pseudo-terminal fed at 115200 bit/s, the captured file compared with what
// the line carried.
#include <errno.h>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "e2e/menu_screen.h"
#include "support/pty_harness.h"
#include "support/serial_line.h"

namespace q7t::test {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::size_t kBytesPerSecond = 115200 / 10;
constexpr std::size_t kKeySize = 8;  // a run of bytes that names its one place in the stream

std::string MakeStream(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string stream(size, '\0');
  for (char& c : stream) c = static_cast<char>(rng() & 0xFF);
  return stream;
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

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
        if (n < 0 && errno != EINTR) return;
        if (n > 0) sent += static_cast<std::size_t>(n);
      }
      sent_ = sent;
    }
  }

  SerialLine line_;
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

bool WaitForOutput(PtyProgram& program, std::string_view text, std::size_t from = 0) {
  for (auto end = Clock::now() + milliseconds(5000); Clock::now() < end;) {
    if (program.raw_output().find(text, from) != std::string::npos) return true;
    program.Pump(20);
  }
  return false;
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

TEST(Capture, ThirtySecondsAt115200AreCapturedByteForByte) {
  constexpr int kSeconds = 30;
  const std::string stream = MakeStream(kBytesPerSecond * kSeconds, 0xC0FFEEu);
  FedLine line;
  ScopedTempDir dir;
  rusage before{}, after{};
  getrusage(RUSAGE_CHILDREN, &before);
  PtyProgram capture(Capture(line, dir.File("line.bin")));
  ASSERT_TRUE(Started(capture, line));
  line.Feed(stream);
  std::this_thread::sleep_for(milliseconds(kSeconds * 500));
  EXPECT_GT(Status(capture, SIGUSR1), 0u);
  EXPECT_NE(capture.raw_output().find(" 0 gaps, 0 bytes lost"), std::string::npos);
  ASSERT_TRUE(line.Drained(stream, kSeconds * 1000));
  EXPECT_EQ(Status(capture, SIGTERM), stream.size()) << capture.raw_output();
  int status = 0;
  ASSERT_TRUE(capture.WaitForExit(5000, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
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

// `got` is `stream` with holes of exactly the sizes the "N bytes lost"
// lines report, in order.
::testing::AssertionResult HasReportedHoles(const std::string& got, const std::string& stream,
                                            const std::string& said) {
  static const std::regex kLost(R"((\d+) bytes lost: )");
  std::size_t at = 0, skipped = 0, holes = 0;
  for (std::sregex_iterator it(said.begin(), said.end(), kLost), end; it != end; ++it, ++holes) {
    const std::size_t hole = std::stoul((*it)[1]);
    at = static_cast<std::size_t>(std::mismatch(got.begin() + static_cast<long>(at), got.end(),
                                                stream.begin() + static_cast<long>(at + skipped),
                                                stream.end())
                                      .first -
                                  got.begin());
    // Where the file goes on in the stream names the hole's true size.
    const std::size_t resumes = stream.find(got.substr(at, kKeySize), at + skipped);
    if (at + kKeySize > got.size() || resumes - at - skipped != hole) {
      return ::testing::AssertionFailure() << "no hole of " << hole << " bytes at " << at;
    }
    skipped += hole;
  }
  if (holes == 0 || got.size() + skipped != stream.size() ||
      got.compare(at, std::string::npos, stream, at + skipped) != 0) {
    return ::testing::AssertionFailure() << "bytes lost beyond the " << holes << " reported";
  }
  return ::testing::AssertionSuccess();
}

// Planned for 9600 bit/s, the capture polls once a second; the pty carries
// 115200 bit/s regardless, so the first poll finds the ring overrun. The gap
// is reported with its exact size, and the interval then adapts.
TEST(Capture, OverrunRingIsReportedWithTheExactLoss) {
  const std::string stream = MakeStream(kBytesPerSecond * 3, 0x6A9u);
  FedLine line;
  ScopedTempDir dir;
  PtyProgram capture(Capture(line, dir.File("line.bin"), {"--baud", "9600"}));
  ASSERT_TRUE(Started(capture, line));
  EXPECT_NE(capture.raw_output().find("a poll every 1000 ms"), std::string::npos);
  line.Feed(stream);
  ASSERT_TRUE(line.Drained(stream, 10000));
  EXPECT_GT(Status(capture, SIGTERM), 0u);
  EXPECT_TRUE(HasReportedHoles(ReadWhole(dir.File("line.bin")), stream, capture.raw_output()));
  std::cout << "[ CAPTURE  ] " << stream.size() << " bytes sent; the capture said:\n"
            << capture.raw_output();
}

// SIGKILL leaves the file whole up to what was written; a new capture
// appends to it and never truncates.
TEST(Capture, KilledCaptureLeavesTheFileWholeAndTheNextAppends) {
  const std::string stream = MakeStream(kBytesPerSecond * 3, 0xD1Eu);
  FedLine line;
  ScopedTempDir dir;
  const std::string file = dir.File("line.bin");
  {
    PtyProgram capture(Capture(line, file));
    ASSERT_TRUE(Started(capture, line));
    line.Feed(stream);
    std::this_thread::sleep_for(milliseconds(1500));
    const std::size_t written = Status(capture, SIGUSR1);
    kill(capture.pid(), SIGKILL);
    int status = 0;
    ASSERT_TRUE(capture.WaitForExit(5000, &status) && WIFSIGNALED(status));
    line.Cut();
    const std::string first = ReadWhole(file);
    EXPECT_GE(first.size(), written);
    ASSERT_EQ(first, stream.substr(0, first.size())) << "not the stream's first bytes";
  }
  const std::string first = ReadWhole(file);
  PtyProgram again(Capture(line, file, {"--seconds", "1"}));
  ASSERT_TRUE(Started(again, line));
  line.Feed(stream);
  ASSERT_TRUE(again.WaitForExit(5000, nullptr));
  const std::string second = ReadWhole(file);
  ASSERT_GT(second.size(), first.size());
  EXPECT_EQ(second.compare(0, first.size(), first), 0) << "the file was truncated";
  EXPECT_NE(stream.find(second.substr(first.size())), std::string::npos);
}

}  // namespace
}  // namespace q7t::test
