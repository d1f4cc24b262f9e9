// The virtual card under a steady line at 115200 bit/s while the menu is
// driven without pause: every saved log must be a gap-free stretch of what
// the line carried, ending where its counter says, the program must answer
// every key, and its memory must stay flat.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <unordered_set>

#include "e2e/menu_screen.h"
#include "support/files.h"
#include "support/pty_harness.h"
#include "support/serial_line.h"

namespace q7t::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kLineRate = 115200;  // bit/s, 10 bits a byte on the line
constexpr std::size_t kBytesPerSecond = kLineRate / 10;
constexpr int kSoakSeconds = 15;
constexpr std::size_t kStreamSize = kBytesPerSecond * kSoakSeconds;
constexpr auto kFeedPeriod = std::chrono::milliseconds(5);
constexpr int kAnswerMs = 5000;  // a key's pass must be over within this
constexpr long kRssGrowthKb = 2048;
// AddressSanitizer keeps freed blocks aside (its quarantine) and records
// every allocation's stack, so its memory grows with the work done: the
// bound means something only in a plain build.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kRssIsBounded = false;
#else
constexpr bool kRssIsBounded = true;
#endif

constexpr std::size_t kHeaderSize = 49;
constexpr std::size_t kBufferSize = 8192;
constexpr std::size_t kLogFileSize = kHeaderSize + 2 + kBufferSize;
constexpr std::size_t kCountModulus = 32768;
constexpr std::size_t kKeySize = 8;  // bytes that find a place in the stream

bool KeysAreUnique(const std::string& stream) {
  std::unordered_set<std::string_view> seen;
  seen.reserve(stream.size());
  const std::string_view all(stream);
  for (std::size_t i = 0; i + kKeySize <= all.size(); ++i) {
    if (!seen.insert(all.substr(i, kKeySize)).second) return false;
  }
  return true;
}

// Writes the stream into the line at the line's byte rate, a few
// milliseconds' worth at a time against a fixed timetable, so that a late
// wake-up catches up instead of slowing the line down.
class LineFeeder {
 public:
  LineFeeder(int fd, const std::string& stream)
      : fd_(fd), stream_(stream), thread_([this] { Run(); }) {}
  ~LineFeeder() {
    stop_ = true;
    thread_.join();
  }
  LineFeeder(const LineFeeder&) = delete;
  LineFeeder& operator=(const LineFeeder&) = delete;

  // Bytes the line has taken so far: no more than this can have arrived.
  std::size_t sent() const { return sent_.load(); }
  bool done() const { return done_.load(); }
  int error() const { return error_.load(); }

 private:
  void Run() {
    const auto start = Clock::now();
    auto tick = start;
    std::size_t sent = 0;
    while (!stop_ && sent < stream_.size()) {
      tick += kFeedPeriod;
      std::this_thread::sleep_until(tick);
      const auto micros =
          std::chrono::duration_cast<std::chrono::microseconds>(tick - start).count();
      const std::size_t due =
          std::min(stream_.size(), static_cast<std::size_t>(micros) * kBytesPerSecond / 1000000);
      while (!stop_ && sent < due) {
        pollfd room{fd_, POLLOUT, 0};
        if (poll(&room, 1, 100) <= 0) continue;
        const ssize_t n = write(fd_, stream_.data() + sent, due - sent);
        if (n > 0) {
          sent += static_cast<std::size_t>(n);
          sent_ = sent;
        } else if (errno != EAGAIN && errno != EINTR) {
          error_ = errno;
          stop_ = true;
        }
      }
    }
    done_ = true;
  }

  const int fd_;
  const std::string& stream_;
  std::atomic<bool> stop_{false}, done_{false};
  std::atomic<std::size_t> sent_{0};
  std::atomic<int> error_{0};
  std::thread thread_;
};

// VmRSS of a live process in kB; -1 when it cannot be read.
long ResidentKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

std::string CounterOnScreen(const VtermScreen& s) {
  return s.RowText(6).substr(28, 7);
}

bool ShowsSoakMenu(const VtermScreen& s) {
  return ShowsMenu(s, MenuRows(std::to_string(kLineRate), "0", CounterOnScreen(s)));
}

// One pass for `key`, then M and an empty entry: the M prompt proves the
// key's pass ended and the menu came round again; the menu after it shows
// the counter that key left.
::testing::AssertionResult Pass(PtyProgram& program, const char* key) {
  if (!program.Send(key) || !program.Send("m")) {
    return ::testing::AssertionFailure() << "cannot type " << key;
  }
  if (!program.WaitForText(kMenuCursorRow, kModePrompt, kAnswerMs)) {
    return ::testing::AssertionFailure() << "no answer to " << key << "\n" << program.ScreenDump();
  }
  if (!program.Send("\r") || !program.WaitFor(ShowsSoakMenu, kAnswerMs)) {
    return ::testing::AssertionFailure() << "no menu after " << key << "\n" << program.ScreenDump();
  }
  return ::testing::AssertionSuccess();
}

// Where the card's counter says the data ends: the smallest stream length
// from `low` on that the count names, if it is not beyond `high`.
bool CountFits(const std::string& counter, std::size_t low, std::size_t high, std::size_t* end) {
  const std::size_t count = std::stoul(counter.substr(2));
  std::size_t e = low - low % kCountModulus + count;
  if (e < low) e += kCountModulus;
  *end = e;
  return e <= high && (counter[0] == '1') == (e >= kBufferSize);
}

// Checks a saved log against the stream; `*end` becomes the stream length
// its data ends at. `low` and `high` bound that length (the last known end,
// and what the line had taken once the save was over).
::testing::AssertionResult LogIsAWindow(const std::string& log, const std::string& stream,
                                        std::size_t low, std::size_t high, std::size_t* end) {
  if (log.size() != kLogFileSize) {
    return ::testing::AssertionFailure() << "log of " << log.size() << " bytes";
  }
  const std::string header = log.substr(0, kHeaderSize);
  if (header.substr(36, 6) != "RdCnt=" || log.substr(kHeaderSize, 2) != "\r\n") {
    return ::testing::AssertionFailure() << "header " << header;
  }
  const std::string counter = header.substr(42, 7);
  const std::size_t count = std::stoul(counter.substr(2));
  const std::string data = log.substr(kHeaderSize + 2);
  if (counter[0] == '0') {
    // Not wrapped yet: the bytes from the first on, then the power-on zeros.
    if (count >= kBufferSize || data.compare(0, count, stream, 0, count) != 0 ||
        data.find_first_not_of('\0', count) != std::string::npos) {
      return ::testing::AssertionFailure() << header << ": not the stream's first bytes";
    }
    *end = count;
  } else {
    const std::size_t at = stream.find(data.substr(kBufferSize - kKeySize));
    if (at == std::string::npos || at + kKeySize < kBufferSize) {
      return ::testing::AssertionFailure() << header << ": the last bytes were never sent";
    }
    *end = at + kKeySize;
    if (stream.compare(*end - kBufferSize, kBufferSize, data) != 0) {
      const auto diff = std::mismatch(data.begin(), data.end(),
                                      stream.begin() + static_cast<long>(*end - kBufferSize));
      return ::testing::AssertionFailure()
             << header << ": bytes lost or out of order, the window ending at " << *end
             << " differs from byte " << (diff.first - data.begin()) << " on";
    }
  }
  std::size_t counted = 0;
  if (!CountFits(counter, low, high, &counted) || counted != *end) {
    return ::testing::AssertionFailure()
           << header << ": data ends at " << *end << ", the counter says " << counted << " (bounds "
           << low << ".." << high << ")";
  }
  return ::testing::AssertionSuccess();
}

TEST(Soak, SavesUnderASteadyLineAreGapFreeWindows) {
  // No run of kKeySize bytes occurs twice (checked below), so any 8192-byte
  // window names its one place.
  const std::string stream = RandomBytes(kStreamSize, 0x51A7u);
  ASSERT_TRUE(KeysAreUnique(stream));
  SerialLine line(/*nonblocking=*/true);
  ASSERT_FALSE(line.path.empty()) << line.error;
  ScopedTempDir dir;
  PtyProgram program(ProgramOptions(CopyProgram("q7tlog-sim", dir), {line.path}));
  ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
  ASSERT_TRUE(program.Send("b"));
  ASSERT_TRUE(program.WaitForText(kMenuCursorRow, kBaudPrompt)) << program.ScreenDump();
  ASSERT_TRUE(program.Send(std::to_string(kLineRate) + "\r"));
  ASSERT_TRUE(program.WaitFor(MenuWith(std::to_string(kLineRate), "0", "0/00000")))
      << program.ScreenDump();
  ASSERT_TRUE(Raw(line.master));

  const std::string log_path = dir.File("SerLog.txt");
  std::size_t known_end = 0;  // a stream length the card is known to have reached
  int saves = 0, copies = 0;
  long rss_first = -1, rss_last = -1;
  LineFeeder feeder(line.master, stream);

  auto copy_and_check = [&]() -> ::testing::AssertionResult {
    auto passed = Pass(program, "r");
    if (!passed) return passed;
    std::size_t end = 0;
    if (!CountFits(CounterOnScreen(program.screen()), known_end, feeder.sent(), &end)) {
      return ::testing::AssertionFailure()
             << "R copied " << CounterOnScreen(program.screen()) << ", not between " << known_end
             << " and " << feeder.sent() << " bytes";
    }
    known_end = end;  // the least the count can mean
    ++copies;
    return ::testing::AssertionSuccess();
  };
  auto save_and_check = [&]() -> ::testing::AssertionResult {
    auto passed = Pass(program, "s");
    if (!passed) return passed;
    const std::size_t high = feeder.sent();
    std::size_t end = 0;
    auto window = LogIsAWindow(ReadWhole(log_path), stream, known_end, high, &end);
    if (!window) return window << " (save " << saves + 1 << ")";
    // The menu after the save shows the counter the save copied.
    std::size_t shown = 0;
    if (!CountFits(CounterOnScreen(program.screen()), known_end, high, &shown) || shown != end) {
      return ::testing::AssertionFailure() << "the menu shows " << CounterOnScreen(program.screen())
                                           << ", the log ends at " << end;
    }
    known_end = end;
    ++saves;
    rss_last = ResidentKb(program.pid());
    if (rss_first < 0) rss_first = rss_last;
    return ::testing::AssertionSuccess();
  };

  while (!feeder.done()) {
    ASSERT_TRUE(copy_and_check());
    ASSERT_TRUE(save_and_check());
  }
  ASSERT_EQ(feeder.error(), 0) << std::strerror(feeder.error());
  ASSERT_EQ(feeder.sent(), stream.size());

  // The line is quiet now: once the card has taken the last byte, a save
  // must end exactly at the end of the stream.
  const auto deadline = Clock::now() + std::chrono::milliseconds(kAnswerMs);
  while (known_end < stream.size() && Clock::now() < deadline) {
    ASSERT_TRUE(copy_and_check());
  }
  ASSERT_TRUE(save_and_check());
  EXPECT_EQ(known_end, stream.size()) << "bytes lost on the way";

  std::cout << "[   SOAK   ] " << stream.size() << " bytes sent, " << saves << " saves and "
            << copies << " copies checked, VmRSS " << rss_first << " kB at the first save, "
            << rss_last << " kB at the last\n";
  ASSERT_GT(rss_first, 0);
  if (kRssIsBounded) {
    EXPECT_LT(rss_last - rss_first, kRssGrowthKb);
  }
  EXPECT_GE(saves, 10) << "too few saves to prove anything";
}

}  // namespace
}  // namespace q7t::test
