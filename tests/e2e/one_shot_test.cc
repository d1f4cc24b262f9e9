// The one-shot commands of the real-card build under porttrap, which answers
// the card's ports without touching any: the port trace of each command, its
// output, and no port touched by help, version or a bad command line. Then
// q7tlog-sim's commands on its virtual card at power-on.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "e2e/porttrap.h"
#include "support/pty_harness.h"

namespace q7t::test {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Result {
  int status = -1;
  std::string out, err;
};

// Runs argv with stdout and stderr into files of `dir`, stdin from /dev/null.
Result RunProgram(const std::vector<std::string>& args, const ScopedTempDir& dir) {
  const std::string out = dir.File("out"), err = dir.File("err");
  const pid_t pid = ::fork();
  if (pid == 0) {
    int in = ::open("/dev/null", O_RDONLY);
    int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0 || e < 0) ::_exit(120);
    ::dup2(in, 0), ::dup2(o, 1), ::dup2(e, 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), ReadAll(out),
          ReadAll(err)};
}

// The trace lines of the first menu pass's reads, as porttrap writes them,
// for a card whose read counter is 0 and mode register is `mode`.
std::string PassTrace(const std::string& mode) {
  return "idx 38\nrd 00\nidx 39\nrd 00\nidx 3A\nrd " + mode + "\n";
}

class UnderPorttrap : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = PorttrapUnavailable(); !why.empty()) GTEST_SKIP() << why;
  }
  // q7tlog with `args` under porttrap (write counter 123 with its flag, mode
  // 0x1F); the trace in `trace_`.
  Result Run(const std::vector<std::string>& args) {
    std::vector<std::string> all = {kPorttrap, "--trace",        dir_.File("trace"), "--count",
                                    "123",     "--flag",         "--mode",           "1F",
                                    "--",      BinPath("q7tlog")};
    all.insert(all.end(), args.begin(), args.end());
    Result r = RunProgram(all, dir_);
    trace_ = ReadAll(dir_.File("trace"));
    return r;
  }

  ScopedTempDir dir_;
  std::string trace_;
};

TEST_F(UnderPorttrap, EachCommandsTrace) {
  struct Case {
    std::vector<std::string> args;
    std::string after_pass;
  };
  const Case kCases[] = {
      {{"status"}, ""},
      {{"baud", "115200"}, "idx 38\nwr 3D\nidx 39\nwr 04\n"},
      {{"mode", "5"}, "idx 3A\nwr 05\n"},
      {{"copy"}, "idx 3A\nwr 1F\nidx 3B\nwr 01\nidx 3A\nwr 1F\n"},
      {{"reset"}, "idx 3B\nwr 02\n"},
  };
  for (const Case& c : kCases) {
    const Result r = Run(c.args);
    EXPECT_EQ(r.status, 0) << c.args[0] << ": " << r.err;
    EXPECT_EQ(trace_, PassTrace("1F") + c.after_pass) << c.args[0];
  }
}

TEST_F(UnderPorttrap, SaveReadsTheLogFromTheOldestByte) {
  const Result r = Run({"save", "-"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(r.out.size(), 8243u);
  EXPECT_EQ(r.out.substr(35, 16), " RdCnt=1/00123\r\n");
  std::string expected = PassTrace("1F") + "idx 3A\nwr 1F\nidx 3B\nwr 01\nidx 38\nrd 7B\n";
  expected += "idx 39\nrd 80\nidx 3B\n";
  for (int k = 0; k < 8192; ++k) expected += "rd 00\n";
  EXPECT_EQ(trace_, expected + "idx 3A\nwr 1F\n");
}

TEST_F(UnderPorttrap, NoPortTouchedWithoutAWholeValidCommandLine) {
  for (const std::string arg : {"--help", "--version", "--frob", "baud=9600"}) {
    const Result r = Run({arg, "reset"});
    EXPECT_EQ(r.status, arg.front() == '-' && arg != "--frob" ? 0 : 2) << arg;
    EXPECT_EQ(trace_, "") << arg;
  }
}

TEST(VirtualCardCommands, PowerOnCardAndAnEmptyLog) {
  ScopedTempDir dir;
  const Result status = RunProgram({BinPath("q7tlog-sim"), "status"}, dir);
  EXPECT_EQ(status.status, 0);
  EXPECT_EQ(status.out, "RdCnt 0/00000\nMode 0\n");
  const Result save = RunProgram({BinPath("q7tlog-sim"), "-L", dir.path(), "save"}, dir);
  EXPECT_EQ(save.status, 0) << save.err;
  const std::string log = ReadAll(dir.File("SerLog.txt"));
  ASSERT_EQ(log.size(), 8243u);
  EXPECT_EQ(log.substr(51), std::string(8192, '\0'));
  EXPECT_EQ(RunProgram({BinPath("q7tlog-sim"), "-d", dir.File("none"), "status"}, dir).status, 2);
}

}  // namespace
}  // namespace q7t::test
