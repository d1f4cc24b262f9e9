// The card-wide lock between processes, on the real-card build under
// porttrap, whose one card model answers every process it traces: the
// interactive tool saving and copying while two captures poll, each
// sequence of port accesses whole in the trace; the hold bit of a tool
// killed in the middle of a save put back by the next process; a card held
// by another process told and given up; and a lock another user could have
// planted neither steering nor blocking the card. The programs take this
// test's private lock (PrivateCardLock).
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/menu_screen.h"
#include "e2e/porttrap.h"
#include "support/files.h"
#include "support/pty_harness.h"

namespace q7t::test {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The trace as one text ("idx 3A; wr 10; ..."), each read-out's run of
// reads after the selection of 0x3B written as "rd x<count>".
std::string Compact(const std::string& trace_text) {
  const std::vector<std::string> trace = Lines(trace_text);
  std::string out;
  for (std::size_t k = 0; k < trace.size(); ++k) {
    std::size_t reads = 0;
    while (k > 0 && trace[k - 1] == "idx 3B" && k + reads < trace.size() &&
           trace[k + reads].rfind("rd", 0) == 0) {
      ++reads;
    }
    out += (reads ? "rd x" + std::to_string(reads) : trace[k]) + "; ";
    k += reads ? reads - 1 : 0;
  }
  return out;
}

// The trace cut into whole sequences, as they show with mode 00 and
// counters that never move; counts of each by name.
::testing::AssertionResult WholeSequences(const std::string& trace,
                                          std::map<std::string, int>* counts) {
  const std::string hold = "idx 3A; wr 10; idx 3B; wr 01; ";
  const std::string count = "idx 38; rd 00; idx 39; rd 00; ";
  const std::string restore = "idx 3A; wr 00; ";
  const std::pair<const char*, std::string> kSequences[] = {
      {"menu pass", count + "idx 3A; rd 00; "},
      {"R", hold + restore},
      {"S", hold + count + "idx 3B; rd x8192; " + restore},
      {"capture poll", "idx 3A; rd 00; " + hold + count + restore}};
  for (std::size_t at = 0; at < trace.size();) {
    const auto* seq = std::find_if(
        std::begin(kSequences), std::end(kSequences),
        [&](const auto& s) { return trace.compare(at, s.second.size(), s.second) == 0; });
    if (seq == std::end(kSequences)) {
      return ::testing::AssertionFailure() << "no whole sequence at: " << trace.substr(at, 160);
    }
    ++(*counts)[seq->first];
    at += seq->second.size();
  }
  return ::testing::AssertionSuccess();
}

// The real-card build copied beside its trace, and porttrap's card for it.
class OneCard : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = PorttrapUnavailable(); !why.empty()) GTEST_SKIP() << why;
    tool = CopyProgram("q7tlog", dir);
  }
  // The tool under porttrap, its trace in trace_path.
  PtyProgram::Options Traced(std::vector<std::string> args) {
    args.insert(args.begin(), {"--trace", trace_path, "--", tool});
    return ProgramOptions(porttrap, args);
  }
  ScopedTempDir dir;
  std::string tool;
  const std::string porttrap = kPorttrap;
  const std::string trace_path = dir.File("card.trace");
};

TEST_F(OneCard, ToolAndTwoCapturesNeverInterleave) {
  // Two captures polling every 20 ms for a few seconds, then the tool.
  auto capture = [&](const char* name) {
    return tool + " capture --baud 1000000 --seconds 6 " + dir.File(name) + " 2>/dev/null & ";
  };
  PtyProgram program(
      ProgramOptions(porttrap, {"--trace", trace_path, "--", "/bin/sh", "-c",
                                capture("cap1") + capture("cap2") + "exec " + tool}));
  ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
  for (const char* key : {"s", "r", "s", "r", "s"}) {
    // M with an empty entry after the key: its prompt shows the key's pass is over.
    ASSERT_TRUE(program.Send(key) && program.Send("m"));
    ASSERT_TRUE(program.WaitForText(kMenuCursorRow, kModePrompt)) << program.ScreenDump();
    ASSERT_TRUE(program.Send("\r") && program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
  }
  ASSERT_TRUE(program.Send("q"));
  ASSERT_EQ(ExitStatus(program, 15000), 0);

  std::map<std::string, int> counts;
  EXPECT_TRUE(WholeSequences(Compact(ReadWhole(trace_path)), &counts));
  EXPECT_EQ(counts["S"], 3);
  EXPECT_EQ(counts["R"], 2);
  EXPECT_GE(counts["capture poll"], 20);
}

// The tool killed in the middle of a save's read-out, its hold bit set: the
// capture started next finds the card released before its first read.
TEST_F(OneCard, KilledHolderLeavesTheCardReleasedForTheNextProcess) {
  const std::string pid_file = dir.File("tool.pid");
  // The tool in the background (its keys from the terminal through fd 3),
  // then, once it is gone, a one-poll capture on the same card.
  const std::string script = "exec 3<&0; " + tool + " <&3 3<&- & echo $! > " + pid_file +
                             "; wait; exec " + tool + " capture " + dir.File("cap") +
                             " --seconds 0 2>/dev/null";
  PtyProgram program(
      ProgramOptions(porttrap, {"--trace", trace_path, "--", "/bin/sh", "-c", script}));
  ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
  const pid_t pid = std::stoi(ReadWhole(pid_file));
  const std::size_t before = Lines(ReadWhole(trace_path)).size();
  ASSERT_TRUE(program.Send("s"));
  // Some hundred reads into the read-out, thousands still to come.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (Lines(ReadWhole(trace_path)).size() < before + 200) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the save never started";
    usleep(500);
  }
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  ASSERT_TRUE(program.WaitForExit(15000, nullptr));

  // The save's read-out cut short, then the mode put back before the
  // capture's own reads, which find it unheld.
  const std::string trace = Compact(ReadWhole(trace_path));
  static const std::regex kAfterKill(R"(idx 3B; rd x(\d+); idx 3A; wr 00; idx 3A; rd 00; )");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(trace, m, kAfterKill)) << trace.substr(trace.size() - 300);
  EXPECT_LT(std::stoi(m[1]), 8192) << "the save ended before the kill";
  EXPECT_EQ(ReadWhole(PrivateCardLock()), "");
}

// Another process holds the card (here this test, on the same lock file).
class HeldCard {
 public:
  explicit HeldCard(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    EXPECT_EQ(flock(fd_, LOCK_EX), 0) << path;
  }
  ~HeldCard() { close(fd_); }
  HeldCard(const HeldCard&) = delete;
  HeldCard& operator=(const HeldCard&) = delete;

 private:
  int fd_;
};

// A capture's first poll waits --wait seconds for a card another process
// holds, saying after a second who holds it (and reopening its file on
// SIGHUP, its record left alone), then gives up untouched; later
// polls wait on, and a SIGTERM ends that wait within a second.
TEST_F(OneCard, HeldCardIsToldAndGivenUp) {
  const std::string holder = "held by process " + std::to_string(getpid());
  auto held = std::make_unique<HeldCard>(PrivateCardLock());
  PtyProgram first(Traced({"capture", dir.File("cap"), "--wait", "2"}));
  ASSERT_TRUE(WaitForOutput(first, "the card is " + holder + "; waiting", 0, 3000))
      << first.raw_output();
  kill(first.pid(), SIGHUP);  // logrotate meanwhile: the file reopened, no record made up
  ASSERT_EQ(ExitStatus(first), 1) << first.raw_output();
  EXPECT_TRUE(WaitForOutput(first, "still " + holder + "; no capture made")) << first.raw_output();
  EXPECT_EQ(ReadWhole(trace_path), "") << "the card was touched";
  EXPECT_EQ(ReadWhole(dir.File(".cap.q7tlog-capture")), "") << "a record without a reading";
  held.reset();

  PtyProgram capture(Traced({"capture", dir.File("cap"), "--baud", "1000000"}));
  ASSERT_TRUE(WaitForOutput(capture, " started, a poll every")) << capture.raw_output();
  held = std::make_unique<HeldCard>(PrivateCardLock());
  ASSERT_TRUE(WaitForOutput(capture, holder + "; waiting")) << capture.raw_output();
  kill(capture.pid(), SIGTERM);
  ASSERT_EQ(ExitStatus(capture, 1500), 1) << capture.raw_output();
  EXPECT_TRUE(WaitForOutput(capture, holder + ": the last drain did not happen"))
      << capture.raw_output();
}

// A lock file that every user may write, holding a hold note for mode 3F and
// held by its maker: the menu runs as if it were not there (mode 0 shown),
// and says so once, below the picture once the terminal is given back.
TEST_F(OneCard, PlantedLockNeitherSteersNorBlocks) {
  const std::string planted = dir.File("planted.lock");
  std::ofstream(planted) << "hold 3F\n";
  ASSERT_EQ(chmod(planted.c_str(), 0666), 0);
  HeldCard held(planted);
  PtyProgram::Options options = Traced({});
  options.env = {{"Q7TLOG_LOCK", planted}};
  PtyProgram menu(options);
  ASSERT_TRUE(menu.WaitFor(ShowsFirstMenu)) << menu.ScreenDump();
  const std::size_t shown = menu.raw_output().size();
  ASSERT_TRUE(menu.Send("q"));
  ASSERT_EQ(ExitStatus(menu), 0) << menu.raw_output();
  const std::string said = "q7tlog: not using the card's lock " + planted +
                           ": it is writable by every user; going on without the card-wide lock";
  const std::string& out = menu.raw_output();
  EXPECT_EQ(out.find("q7tlog: "), out.find(said, shown)) << out;
  EXPECT_EQ(out.find(said), out.rfind(said)) << out;
}

}  // namespace
}  // namespace q7t::test
