// The pty harness itself, proved with the shell: what a program writes is read
// back as cells, size changes reach it, its end is reported, and nothing it
// started outlives the test.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/pty_harness.h"

namespace q7t::test {
namespace {

PtyProgram::Options Shell(std::string script) {
  PtyProgram::Options options;
  options.program = "/bin/sh";
  options.args = {"-c", std::move(script)};
  return options;
}

// Gone, or a zombie waiting for its new parent to reap it.
bool ProcessGone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  auto close = line.rfind(')');
  return close != std::string::npos && line.size() > close + 2 && line[close + 2] == 'Z';
}

// A SIGKILL sent to a process that is not our child takes effect a moment
// later; this waits up to two seconds for it.
bool ProcessEnds(pid_t pid) {
  for (int i = 0; i < 200 && !ProcessGone(pid); ++i) usleep(10000);
  return ProcessGone(pid);
}

TEST(PtyHarness, ScreenShowsTextColoursAndSize) {
  PtyProgram program(Shell(R"(printf '\033[31mRED\033[0m plain\n'; stty size)"));
  ASSERT_TRUE(program.WaitForText(2, "25 80")) << program.ScreenDump();
  EXPECT_EQ(program.screen().RowText(1).substr(0, 9), "RED plain");
  EXPECT_EQ(program.screen().CellFg(1, 1), 4);  // PC red
  EXPECT_EQ(program.screen().CellFg(1, 5), -1);
  EXPECT_NE(program.raw_output().find("\033[31m"), std::string::npos);
}

TEST(PtyHarness, AnswersQueriesAsATerminal) {
  // Device attributes: the emulator's reply must come back as input.
  PtyProgram program(Shell(R"(stty raw -echo; printf '\033[c'; head -c 3 | od -An -tx1)"));
  EXPECT_TRUE(program.WaitForText(0, "1b 5b 3f")) << program.ScreenDump();
}

TEST(PtyHarness, KeysAndResizeReachTheProgram) {
  // A trapped signal cuts a read short, hence the loop.
  PtyProgram program(Shell(
      R"(trap 'stty size' WINCH; echo ready; until read line; do :; done; echo "got $line")"));
  ASSERT_TRUE(program.WaitForText(1, "ready")) << program.ScreenDump();
  program.Resize(30, 100);
  ASSERT_TRUE(program.WaitForText(0, "30 100")) << program.ScreenDump();
  EXPECT_EQ(program.screen().Cols(), 100);
  program.mark();
  ASSERT_TRUE(program.Send("abc\r"));
  EXPECT_TRUE(program.WaitForText(0, "got abc")) << program.ScreenDump();
  EXPECT_GT(program.bytes_since_mark(), 0u);
}

TEST(PtyHarness, ReportsHowTheProgramEnded) {
  constexpr struct {
    const char* name;
    const char* program;
    const char* script;
    int exit_code;  // -1: killed by SIGHUP
    bool hang_up;
  } kCases[] = {
      {"exit code", "/bin/sh", "exit 3", 3, false},
      {"missing program", "/nonexistent/q7t", "", 127, false},
      {"hang-up", "/bin/sh", "echo ready; read line", -1, true},
  };
  for (const auto& c : kCases) {
    PtyProgram::Options options = Shell(c.script);
    options.program = c.program;
    PtyProgram program(options);
    if (c.hang_up) {
      ASSERT_TRUE(program.WaitForText(1, "ready")) << c.name;
      program.CloseMaster();
    }
    int status = 0;
    ASSERT_TRUE(program.WaitForExit(5000, &status)) << c.name;
    if (c.exit_code >= 0) {
      ASSERT_TRUE(WIFEXITED(status)) << c.name;
      EXPECT_EQ(WEXITSTATUS(status), c.exit_code) << c.name;
    } else {
      ASSERT_TRUE(WIFSIGNALED(status)) << c.name;
      EXPECT_EQ(WTERMSIG(status), SIGHUP) << c.name;
    }
  }
}

TEST(PtyHarness, DestructorLeavesNothingRunning) {
  // Both ignore SIGTERM, so only the SIGKILL after the grace ends them; the
  // background sleep is the shell's child and has to go with it.
  pid_t shell = -1;
  pid_t sleeper = -1;
  {
    PtyProgram program(Shell(R"(trap '' TERM; sleep 100 & echo "bg $!"; wait)"));
    ASSERT_TRUE(program.WaitForText(1, "bg ")) << program.ScreenDump();
    shell = program.pid();
    sleeper = std::stoi(program.screen().RowText(1).substr(3));
  }
  EXPECT_TRUE(ProcessGone(shell));  // reaped by the destructor itself
  EXPECT_TRUE(ProcessEnds(sleeper));
}

TEST(PtyHarness, DroppedPrivilegesRunAsNobody) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to drop privileges";
  ScopedTempDir dir;
  ASSERT_TRUE(dir.OpenToAll());
  PtyProgram::Options options = Shell("id -u; echo x > made.txt");
  options.cwd = dir.path();
  options.drop_privileges = true;
  PtyProgram program(options);
  int status = 0;
  ASSERT_TRUE(program.WaitForExit(5000, &status));
  EXPECT_TRUE(program.WaitForText(1, "65534")) << program.ScreenDump();
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(std::filesystem::exists(dir.File("made.txt")));
}

TEST(PtyHarness, TempDirIsRemovedWithItsContents) {
  std::string path;
  {
    ScopedTempDir dir;
    path = dir.path();
    std::filesystem::create_directories(dir.File("a/b"));
    std::ofstream(dir.File("a/b/c.txt")) << "x";
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace q7t::test
