// The pty harness itself, where a fault of its own would let a program's
// fault pass: the terminal's answers come back as input, the exit status is
// the program's, it runs as nobody when told to, and nothing it started or
// made outlives the test.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/files.h"
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
  const char state = ProcState(pid);
  return state == 0 || state == 'Z';
}

TEST(PtyHarness, AnswersQueriesAndReportsTheExitStatus) {
  // Device attributes: the emulator's reply must come back as input.
  PtyProgram program(Shell(R"(stty raw -echo; printf '\033[c'; head -c 3 | od -An -tx1; exit 3)"));
  EXPECT_TRUE(program.WaitForText(0, "1b 5b 3f")) << program.ScreenDump();
  int status = 0;
  ASSERT_TRUE(program.WaitForExit(5000, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << status;
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
  // A SIGKILL to a process that is not our child takes effect a moment later.
  for (int i = 0; i < 200 && !ProcessGone(sleeper); ++i) usleep(10000);
  EXPECT_TRUE(ProcessGone(sleeper));
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
