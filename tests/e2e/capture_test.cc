// The capture command end to end: q7tlog-sim's virtual card listening on a
// pseudo-terminal fed at 115200 bit/s, the captured file compared with what
// the line carried; and the real-card build under porttrap, where several
// processes share one card model, for the card-wide lock.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
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
    if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) {
      ADD_FAILURE() << "openpty: " << std::strerror(errno);
      return;
    }
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    if (const char* name = ttyname(slave_)) path_ = name;
  }
  ~FedLine() {
    Stop();
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
  }
  const std::string& path() const { return path_; }
  int master() const { return master_; }

  void Feed(const std::string& stream) {
    Stop();
    stop_ = false;
    thread_ = std::thread([this, &stream] { Run(stream); });
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // Stops feeding and drops what no program has read yet.
  void Cut() {
    Stop();
    tcflush(slave_, TCIFLUSH);
  }
  std::size_t sent() const { return sent_.load(); }
  // Waits until the fed bytes are sent and the program has read them all.
  bool Drained(const std::string& stream, int timeout_ms) {
    const auto deadline = Clock::now() + milliseconds(timeout_ms);
    int queued = 1;
    while (Clock::now() < deadline) {
      if (sent_ == stream.size() && ioctl(slave_, TIOCINQ, &queued) == 0 && queued == 0) {
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
        const ssize_t n = write(master_, stream.data() + sent, due - sent);
        if (n > 0) sent += static_cast<std::size_t>(n);
        if (n < 0 && errno != EINTR) return;
      }
      sent_ = sent;
    }
  }

  int master_ = -1, slave_ = -1;
  std::string path_;
  std::atomic<bool> stop_{false};
  std::atomic<std::size_t> sent_{0};
  std::thread thread_;
};

// A program whose stderr the test reads line by line; killed and reaped
// when the object goes.
class Program {
 public:
  explicit Program(const std::vector<std::string>& argv) {
    int err[2];
    if (pipe2(err, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      const int null = open("/dev/null", O_RDWR);
      dup2(null, STDIN_FILENO);
      dup2(null, STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(err[1]);
    err_fd_ = err[0];
  }
  ~Program() {
    if (pid_ > 0 && !reaped_) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (err_fd_ >= 0) close(err_fd_);
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  pid_t pid() const { return pid_; }
  const std::string& err() const { return err_; }
  bool Signal(int sig) { return pid_ > 0 && kill(pid_, sig) == 0; }

  // Reads stderr until a line holds `text` after `from` (an offset in err()).
  bool WaitForText(std::string_view text, int timeout_ms, std::size_t from = 0) {
    const auto deadline = Clock::now() + milliseconds(timeout_ms);
    while (err_.find(text, from) == std::string::npos) {
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
      if (left <= 0 || !ReadSome(static_cast<int>(left))) return false;
    }
    return true;
  }
  // Waits for the end; `usage` (may be null) gets its CPU times.
  bool Wait(int timeout_ms, int* status, rusage* usage = nullptr) {
    const auto deadline = Clock::now() + milliseconds(timeout_ms);
    while (Clock::now() < deadline) {
      if (!ReadSome(10)) std::this_thread::sleep_for(milliseconds(10));
      rusage ru{};
      if (wait4(pid_, status, WNOHANG, &ru) == pid_) {
        reaped_ = true;
        while (ReadSome(0)) {
        }
        if (usage) *usage = ru;
        return true;
      }
    }
    return false;
  }

 private:
  bool ReadSome(int timeout_ms) {
    pollfd p{err_fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return timeout_ms > 0 || false;
    char buf[4096];
    const ssize_t n = read(err_fd_, buf, sizeof buf);
    if (n <= 0) return false;
    err_.append(buf, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int err_fd_ = -1;
  bool reaped_ = false;
  std::string err_;
};

double CpuSeconds(const rusage& ru) {
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

std::vector<std::string> CaptureArgs(const FedLine& line, const std::string& file,
                                     std::vector<std::string> more = {}) {
  std::vector<std::string> args = {BinPath("q7tlog-sim"), line.path(), "capture", file};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// Started: the card listens in raw mode and has its first counter reading.
::testing::AssertionResult Started(Program& capture, const FedLine& line) {
  if (!capture.WaitForText(" started, a poll every ", 5000)) {
    return ::testing::AssertionFailure() << "no start: " << capture.err();
  }
  if (!Raw(line.master())) return ::testing::AssertionFailure() << "the line is not raw";
  return ::testing::AssertionSuccess();
}

TEST(Capture, ThirtySecondsAt115200AreCapturedByteForByte) {
  constexpr int kSeconds = 30;
  const std::string stream = MakeStream(kBytesPerSecond * kSeconds, 0xC0FFEEu);
  FedLine line;
  ScopedTempDir dir;
  const std::string file = dir.File("line.bin");
  Program capture(CaptureArgs(line, file));
  ASSERT_TRUE(Started(capture, line));
  line.Feed(stream);
  std::this_thread::sleep_for(milliseconds(kSeconds * 500));
  const std::size_t mark = capture.err().size();
  ASSERT_TRUE(capture.Signal(SIGUSR1));
  ASSERT_TRUE(capture.WaitForText(" bytes captured, 0 gaps, 0 bytes lost", 2000, mark))
      << capture.err();
  ASSERT_TRUE(line.Drained(stream, kSeconds * 1000));
  ASSERT_TRUE(capture.Signal(SIGTERM));
  int status = 0;
  rusage usage{};
  ASSERT_TRUE(capture.Wait(5000, &status, &usage));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const std::string got = ReadWhole(file);
  EXPECT_EQ(got.size(), stream.size());
  EXPECT_TRUE(got == stream) << "differs from byte "
                             << (std::mismatch(got.begin(), got.end(), stream.begin()).first -
                                 got.begin());
  EXPECT_NE(capture.err().find(std::to_string(stream.size()) +
                               " bytes captured, 0 gaps, 0 bytes lost, stopped"),
            std::string::npos)
      << capture.err();
  std::cout << "[ CAPTURE  ] " << stream.size() << " bytes in " << kSeconds << " s, CPU "
            << CpuSeconds(usage) * 1000 / kSeconds << " ms per second of line; it said:\n"
            << capture.err();
}

// The lost bytes each "N bytes lost" line reports, in order.
std::vector<std::size_t> ReportedLosses(const std::string& err) {
  std::vector<std::size_t> lost;
  static const std::regex kLine(R"((\d+) bytes lost: )");
  for (std::sregex_iterator it(err.begin(), err.end(), kLine), end; it != end; ++it) {
    lost.push_back(std::stoul((*it)[1]));
  }
  return lost;
}

// `got` is `stream` with holes of exactly the sizes in `holes`, in order.
::testing::AssertionResult HasHoles(const std::string& got, const std::string& stream,
                                    const std::vector<std::size_t>& holes) {
  std::size_t at = 0, skipped = 0;
  for (std::size_t hole : holes) {
    at = static_cast<std::size_t>(std::mismatch(got.begin() + static_cast<long>(at), got.end(),
                                                stream.begin() + static_cast<long>(at + skipped),
                                                stream.end())
                                      .first -
                                  got.begin());
    if (at + kKeySize > got.size()) return ::testing::AssertionFailure() << "no hole found";
    // Where the file goes on in the stream names the hole's true size.
    const std::size_t resumes = stream.find(got.substr(at, kKeySize), at + skipped);
    if (resumes == std::string::npos || resumes - at - skipped != hole) {
      return ::testing::AssertionFailure()
             << "a hole at " << at << " of " << (resumes - at - skipped) << " bytes, reported "
             << hole;
    }
    skipped += hole;
  }
  if (got.size() + skipped != stream.size() ||
      got.compare(at, std::string::npos, stream, at + skipped) != 0) {
    return ::testing::AssertionFailure() << "bytes lost beyond the reported holes";
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
  const std::string file = dir.File("line.bin");
  Program capture(CaptureArgs(line, file, {"--baud", "9600"}));
  ASSERT_TRUE(Started(capture, line));
  EXPECT_NE(capture.err().find("a poll every 1000 ms"), std::string::npos) << capture.err();
  line.Feed(stream);
  ASSERT_TRUE(line.Drained(stream, 10000));
  ASSERT_TRUE(capture.Signal(SIGTERM));
  int status = 0;
  ASSERT_TRUE(capture.Wait(5000, &status));
  const std::string got = ReadWhole(file);
  const std::vector<std::size_t> holes = ReportedLosses(capture.err());
  ASSERT_FALSE(holes.empty()) << capture.err();
  EXPECT_TRUE(HasHoles(got, stream, holes)) << capture.err();
  std::size_t lost = 0;
  for (std::size_t h : holes) lost += h;
  std::cout << "[ CAPTURE  ] " << stream.size() << " bytes sent, " << got.size()
            << " captured; the capture said:\n"
            << capture.err();
  EXPECT_NE(capture.err().find(std::to_string(holes.size()) + " gaps, " + std::to_string(lost) +
                               " bytes lost, stopped"),
            std::string::npos)
      << capture.err();
}

// SIGKILL leaves the file whole up to what was written; a new capture
// appends to it and never truncates.
TEST(Capture, KilledCaptureLeavesTheFileWholeAndTheNextAppends) {
  const std::string stream = MakeStream(kBytesPerSecond * 3, 0xD1Eu);
  FedLine line;
  ScopedTempDir dir;
  const std::string file = dir.File("line.bin");
  std::size_t kept = 0;
  {
    Program capture(CaptureArgs(line, file));
    ASSERT_TRUE(Started(capture, line));
    line.Feed(stream);
    std::this_thread::sleep_for(milliseconds(1500));
    const std::size_t mark = capture.err().size();
    ASSERT_TRUE(capture.Signal(SIGUSR1));
    ASSERT_TRUE(capture.WaitForText(" bytes captured", 2000, mark)) << capture.err();
    kept = std::stoul(capture.err().substr(capture.err().rfind(": ") + 2));
    ASSERT_TRUE(capture.Signal(SIGKILL));
    int status = 0;
    ASSERT_TRUE(capture.Wait(5000, &status));
    ASSERT_TRUE(WIFSIGNALED(status));
    line.Cut();
  }
  const std::string first = ReadWhole(file);
  EXPECT_GE(first.size(), kept);
  EXPECT_EQ(first, stream.substr(0, first.size())) << "not the stream's first bytes";

  Program again(CaptureArgs(line, file, {"--seconds", "1"}));
  ASSERT_TRUE(Started(again, line));
  line.Feed(stream);
  int status = 0;
  ASSERT_TRUE(again.Wait(5000, &status));
  const std::string second = ReadWhole(file);
  ASSERT_GT(second.size(), first.size());
  EXPECT_EQ(second.compare(0, first.size(), first), 0) << "the file was truncated";
  EXPECT_NE(stream.find(second.substr(first.size())), std::string::npos);
}

}  // namespace
}  // namespace q7t::test
