// The one-shot commands of the real-card build under porttrap, which answers
// the card's ports without touching any: a save's whole port trace and its
// bytes through the I/O bus, and no port touched by help or a bad command
// line. Then q7tlog-sim's commands on its virtual card at power-on. (Each
// command's accesses against its menu key: app/command_line_test.cc.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/porttrap.h"
#include "support/files.h"
#include "support/pty_harness.h"

namespace q7t::test {
namespace {

class UnderPorttrap : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = PorttrapUnavailable(); !why.empty()) GTEST_SKIP() << why;
  }
  // q7tlog with `args` under porttrap (write counter 123 with its flag, mode
  // 0x1F); the trace in `trace_`.
  ProgramRun Run(const std::vector<std::string>& args) {
    std::vector<std::string> all = {kPorttrap, "--trace",        dir_.File("trace"), "--count",
                                    "123",     "--flag",         "--mode",           "1F",
                                    "--",      BinPath("q7tlog")};
    all.insert(all.end(), args.begin(), args.end());
    ProgramRun r = RunProgram(all);
    trace_ = ReadWhole(dir_.File("trace"));
    return r;
  }

  ScopedTempDir dir_;
  std::string trace_;
};

// The menu pass's reads, then the save's: hold, copy, counter, the read-out
// from the oldest byte, the mode restored.
TEST_F(UnderPorttrap, SaveThroughTheIoBus) {
  const ProgramRun r = Run({"save", "-"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.out.size(), 8243u);
  EXPECT_EQ(r.out.substr(35, 16), " RdCnt=1/00123\r\n");
  std::string expected = "idx 38\nrd 00\nidx 39\nrd 00\nidx 3A\nrd 1F\n";
  expected += "idx 3A\nwr 1F\nidx 3B\nwr 01\nidx 38\nrd 7B\nidx 39\nrd 80\nidx 3B\n";
  for (int k = 0; k < 8192; ++k) expected += "rd 00\n";
  EXPECT_EQ(trace_, expected + "idx 3A\nwr 1F\n");
}

TEST_F(UnderPorttrap, NoPortTouchedWithoutAWholeValidCommandLine) {
  for (const std::string arg : {"--help", "--frob", "baud=9600"}) {
    const ProgramRun r = Run({arg, "reset"});
    EXPECT_EQ(r.status, arg == "--help" ? 0 : 2) << arg;
    EXPECT_EQ(trace_, "") << arg;
  }
}

TEST(VirtualCardCommands, PowerOnCardAndAnEmptyLog) {
  ScopedTempDir dir;
  const ProgramRun status = RunProgram({BinPath("q7tlog-sim"), "status"});
  EXPECT_EQ(status.status, 0);
  EXPECT_EQ(status.out, "RdCnt 0/00000\nMode 0\n");
  const ProgramRun save = RunProgram({BinPath("q7tlog-sim"), "-L", dir.path(), "save"});
  EXPECT_EQ(save.status, 0) << save.err;
  const std::string log = ReadWhole(dir.File("SerLog.txt"));
  ASSERT_EQ(log.size(), 8243u);
  EXPECT_EQ(log.substr(51), std::string(8192, '\0'));
  EXPECT_EQ(RunProgram({BinPath("q7tlog-sim"), "-d", dir.File("none"), "status"}).status, 2);
  // Output that cannot be written is no success.
  EXPECT_EQ(
      RunProgram({"/bin/sh", "-c", "exec \"$0\" status >/dev/full", BinPath("q7tlog-sim")}).status,
      1);
}

}  // namespace
}  // namespace q7t::test
