// The terminal the programs take: keys from standard input and the picture
// on standard output, a plain refusal where there is no usable terminal, a
// failed write that does not pass as success, and the Linux console's keypad
// in whatever mode it was left; and what q7tlog-sim has to say at the end.
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "e2e/menu_screen.h"
#include "support/files.h"
#include "support/pty_harness.h"

namespace q7t::test {
namespace {

// q7tlog-sim started through sh with `redirections` (or arguments) after
// it; stderr goes to dir/stderr unless they say otherwise.
PtyProgram::Options Redirected(const ScopedTempDir& dir, const std::string& redirections) {
  PtyProgram::Options options;
  options.program = "/bin/sh";
  options.args = {"-c", "exec \"$0\" 2>\"$1\" " + redirections, CopyProgram("q7tlog-sim", dir),
                  dir.File("stderr")};
  return options;
}

// Started as some launchers start it, standard input open read-only.
TEST(Terminal, KeysFromStandardInputPictureOnStandardOutput) {
  ScopedTempDir dir;
  PtyProgram program(Redirected(dir, "0</dev/tty 1>/dev/tty"));
  ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
  ASSERT_TRUE(program.Send("m"));
  ASSERT_TRUE(program.WaitForText(kMenuCursorRow, kModePrompt)) << program.ScreenDump();
  ASSERT_TRUE(program.Send("\rq"));
  int status = -1;
  ASSERT_TRUE(program.WaitForExit(5000, &status));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadWhole(dir.File("stderr")), "");
}

TEST(Terminal, NoUsableTerminalIsOneLineAndStatusOne) {
  const struct {
    const char* name;
    const char* redirections;
    const char* term;
    const char* message;
  } kCases[] = {
      {"no terminal on stdin", "</dev/null", "xterm", "standard input is not a terminal"},
      {"no terminal on stdout", ">/dev/null", "xterm", "standard output is not a terminal"},
      {"a dumb terminal", "", "dumb", "the terminal (TERM=dumb) cannot move the cursor"},
      {"a read-only stdout", "1</dev/tty", "xterm",
       "cannot write to the terminal: Bad file descriptor"},
  };
  for (const auto& c : kCases) {
    ScopedTempDir dir;
    PtyProgram::Options options = Redirected(dir, c.redirections);
    options.term = c.term;
    PtyProgram program(options);
    int status = -1;
    ASSERT_TRUE(program.WaitForExit(5000, &status)) << c.name;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << c.name << ": " << status;
    EXPECT_EQ(ReadWhole(dir.File("stderr")), std::string("q7tlog-sim: ") + c.message + "\n")
        << c.name;
    EXPECT_TRUE(Cooked(program.master_fd())) << c.name;
  }
}

// The Linux console left in keypad application mode (ESC =): keypad + and *
// type + and *, as the keys' faces say.
TEST(Terminal, LinuxConsoleApplicationKeypad) {
  ScopedTempDir dir;
  PtyProgram::Options options;
  options.program = CopyProgram("q7tlog-sim", dir);
  options.term = "linux";
  options.linux_console_colours = true;
  PtyProgram program(options);
  ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
  ASSERT_TRUE(program.Send("b"));
  ASSERT_TRUE(program.WaitForText(kMenuCursorRow, kBaudPrompt)) << program.ScreenDump();
  ASSERT_TRUE(program.Send("\x1bOl\x1bOR\x1bOQ\x1bOS"));
  EXPECT_TRUE(program.WaitForText(kMenuCursorRow, std::string(kBaudPrompt) + "+*/-"))
      << program.ScreenDump();
}

// A serial device that goes away and comes back is told on stderr at the
// end, the screens untouched meanwhile.
TEST(SimDevice, LossAndReturnAreToldAtTheEnd) {
  ScopedTempDir dir;
  const std::string line = dir.File("ttyUSB0");
  int master = -1, slave = -1;
  char name[256] = {};
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  ASSERT_EQ(::symlink(name, line.c_str()), 0);
  PtyProgram program(Redirected(dir, line));
  ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
  ::close(slave);
  ASSERT_EQ(::unlink(line.c_str()), 0);
  ::close(master);
  program.Pump(500);
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  ASSERT_EQ(::symlink(name, line.c_str()), 0);
  ASSERT_EQ(::write(master, "back\r\n", 6), 6);
  // R copies the write counter: once the device is read again it counts 6.
  bool counted = false;
  for (int i = 0; i < 50 && !counted; ++i) {
    ASSERT_TRUE(program.Send("r"));
    counted = program.WaitFor(MenuWith("???", "0", "0/00006"), 100);
  }
  ASSERT_TRUE(counted) << program.ScreenDump();
  ASSERT_TRUE(program.Send("q"));
  int status = -1;
  ASSERT_TRUE(program.WaitForExit(5000, &status));
  EXPECT_EQ(status, 0);
  const std::string told = ReadWhole(dir.File("stderr"));
  EXPECT_EQ(told.rfind("q7tlog-sim: " + line + " lost at ", 0), 0u) << told;
  EXPECT_NE(told.find("\nq7tlog-sim: " + line + " back at "), std::string::npos) << told;
  ::close(master);
  ::close(slave);
}

}  // namespace
}  // namespace q7t::test
