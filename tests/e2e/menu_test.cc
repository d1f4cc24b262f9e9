// The main menu on a pseudo-terminal: the first screen cell by cell, keys
// the terminal must leave to the program, Esc in real time, and a device
// that cannot be opened. (The keys' card accesses: app/menu_test.cc; a
// serial device: SimDevice in terminal_test.cc; refused ports: PortPrivilege.)
#include <errno.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "e2e/menu_screen.h"
#include "support/pty_harness.h"

namespace q7t::test {
namespace {

// The first screen cell by cell; keys whose bytes a terminal left in its own
// modes would take (Ctrl+S, flow control, would freeze the screen; an Esc
// sequence is read as it arrives); then Esc alone, in real time, ends the
// program: the screen cleared, status 0, the terminal handed back. (Which
// keys quit or only redraw: app/menu_test.cc.)
TEST(Menu, FirstScreenKeysAndEscOnARealTerminal) {
  ScopedTempDir dir;
  PtyProgram program(ProgramOptions(CopyProgram("q7tlog-sim", dir)));
  ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
  for (int row = 1; row <= 25; ++row) {
    for (int col = 1; col <= 80; ++col) {
      // The menu sets no colours: the user's own stay in force.
      ASSERT_EQ(program.screen().CellFg(row, col), -1) << "row " << row << " col " << col;
      ASSERT_EQ(program.screen().CellBg(row, col), -1) << "row " << row << " col " << col;
    }
  }
  EXPECT_TRUE(program.screen().CursorVisible());
  EXPECT_TRUE(Raw(program.master_fd()));
  // This terminal never offered the kitty keyboard protocol, and the
  // alternate screen is not used.
  EXPECT_EQ(program.raw_output().find("\x1b[>1u"), std::string::npos);
  EXPECT_EQ(program.raw_output().find("\x1b[?1049h"), std::string::npos);

  for (const char* key : {"\x13", "\x1bOP"}) {
    // M right behind the key proves the key was taken and the menu is still
    // there; Enter on the empty entry leaves the mode alone.
    ASSERT_TRUE(program.Send(std::string(key) + "m"));
    ASSERT_TRUE(program.WaitForText(kMenuCursorRow, kModePrompt)) << program.ScreenDump();
    ASSERT_TRUE(program.Send("\r"));
    ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
  }
  ASSERT_TRUE(program.Send("\x1b"));
  int status = -1;
  ASSERT_TRUE(program.WaitForExit(5000, &status));
  EXPECT_EQ(status, 0);
  for (int row = 1; row <= 25; ++row) EXPECT_EQ(Trimmed(program.screen(), row), "") << row;
  EXPECT_EQ(program.screen().CursorRow(), 1);
  EXPECT_EQ(program.screen().CursorCol(), 1);
  EXPECT_TRUE(Cooked(program.master_fd()));
}

TEST(Menu, DeviceThatCannotBeOpenedEndsBeforeTheScreen) {
  ScopedTempDir dir;
  const std::string sim = CopyProgram("q7tlog-sim", dir);
  const struct {
    const char* name;
    std::string device;
    int error;
  } kCases[] = {
      {"missing", dir.File("no-such-tty"), ENOENT},
      {"a directory", dir.path(), EISDIR},
  };
  for (const auto& c : kCases) {
    // The one line of the message and nothing else, the terminal's modes as
    // they were.
    PtyProgram program(ProgramOptions(sim, {c.device}));
    int status = 0;
    ASSERT_TRUE(program.WaitForExit(5000, &status)) << c.name;
    ASSERT_TRUE(WIFEXITED(status)) << c.name;
    EXPECT_EQ(WEXITSTATUS(status), 2) << c.name;
    EXPECT_EQ(program.raw_output().find('\x1b'), std::string::npos) << c.name;
    EXPECT_NE(program.raw_output().find(c.device), std::string::npos) << c.name;
    EXPECT_NE(program.raw_output().find(std::strerror(c.error)), std::string::npos) << c.name;
    EXPECT_TRUE(Cooked(program.master_fd())) << c.name;
  }
}

}  // namespace
}  // namespace q7t::test
