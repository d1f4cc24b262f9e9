// The main menu of both programs on a pseudo-terminal: the first screen cell
// by cell, the B, M, R and Z commands against the virtual card, the card
// listening on a serial device, refused port access on the real card, Esc
// in real time, and keys the terminal must leave to the program.
#include <errno.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "e2e/menu_screen.h"
#include "support/files.h"
#include "support/pty_harness.h"
#include "support/serial_line.h"

namespace q7t::test {
namespace {

TEST(Menu, FirstScreenOfTheSimulator) {
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
}

TEST(Menu, ModeAndBaudEntriesShowOnTheNextPass) {
  ScopedTempDir dir;
  PtyProgram program(ProgramOptions(CopyProgram("q7tlog-sim", dir)));
  ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();

  ASSERT_TRUE(program.Send("m"));
  ASSERT_TRUE(program.WaitForText(kMenuCursorRow, kModePrompt)) << program.ScreenDump();
  ASSERT_TRUE(program.Send("1F"));
  ASSERT_TRUE(program.WaitForText(kMenuCursorRow, std::string(kModePrompt) + "1F"))
      << program.ScreenDump();
  ASSERT_TRUE(program.Send("\r"));
  // The mode is read back from the card's register on the next pass.
  EXPECT_TRUE(program.WaitFor(MenuWith("???", "1F", "0/00000"))) << program.ScreenDump();

  ASSERT_TRUE(program.Send("b"));
  ASSERT_TRUE(program.WaitForText(kMenuCursorRow, kBaudPrompt)) << program.ScreenDump();
  ASSERT_TRUE(program.Send("9600\r"));
  EXPECT_TRUE(program.WaitFor(MenuWith("9600", "1F", "0/00000"))) << program.ScreenDump();
}

TEST(Menu, CountsEveryByteFromASerialDevice) {
  SerialLine line;
  ASSERT_FALSE(line.path.empty()) << line.error;
  ScopedTempDir dir;
  PtyProgram program(ProgramOptions(CopyProgram("q7tlog-sim", dir), {line.path}));
  ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
  // The card set the line raw when it opened it: no byte below is
  // translated, held for a line end, taken as flow control or as a signal.
  ASSERT_TRUE(Raw(line.master));
  const std::string bytes("\x00\r\n\x1a\x03\x11\x13\x7f\xff", 9);
  ASSERT_EQ(write(line.master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));

  // The card receives in the background: R copies whatever has arrived so far.
  bool counted = false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!counted && std::chrono::steady_clock::now() < deadline) {
    ASSERT_TRUE(program.Send("r"));
    counted = program.WaitForText(6, "0/00009", 100);
  }
  ASSERT_TRUE(counted) << program.ScreenDump();
  EXPECT_TRUE(program.WaitFor(MenuWith("???", "0", "0/00009"))) << program.ScreenDump();
  pollfd echo{line.master, POLLIN, 0};
  EXPECT_EQ(poll(&echo, 1, 0), 0) << "the card wrote back to the line";

  ASSERT_TRUE(program.Send("z"));
  ASSERT_TRUE(program.Send("r"));
  EXPECT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
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
    const ProgramRun run = RunProgram({sim, c.device});
    EXPECT_EQ(run.status, 2) << c.name;
    EXPECT_NE(run.err.find(c.device), std::string::npos) << c.name << ": " << run.err;
    EXPECT_NE(run.err.find(std::strerror(c.error)), std::string::npos) << c.name << ": " << run.err;
    EXPECT_EQ(run.out, "") << c.name;

    // On a terminal: the one line of the message and nothing else, the
    // terminal's modes as they were.
    PtyProgram program(ProgramOptions(sim, {c.device}));
    int status = 0;
    ASSERT_TRUE(program.WaitForExit(5000, &status)) << c.name;
    ASSERT_TRUE(WIFEXITED(status)) << c.name;
    EXPECT_EQ(WEXITSTATUS(status), 2) << c.name;
    EXPECT_EQ(program.raw_output().find('\x1b'), std::string::npos) << c.name;
    EXPECT_NE(program.raw_output().find(c.device), std::string::npos) << c.name;
    EXPECT_TRUE(Cooked(program.master_fd())) << c.name;
  }
}

TEST(Menu, RealCardWithPortAccessRefused) {
  ScopedTempDir dir;
  ASSERT_TRUE(dir.OpenToAll());
  PtyProgram::Options options = ProgramOptions(CopyProgram("q7tlog", dir));
  options.cwd = dir.path();
  options.drop_privileges = true;
  PtyProgram program(options);
  // Every refused read gives -8: the mode shows as FFFFFFF8, the counter
  // word (-8) * 256 + (-8) as flag 1 and count 30712.
  const auto refused = MenuWith("???", "FFFFFFF8", "1/30712");
  ASSERT_TRUE(program.WaitFor(refused)) << program.ScreenDump();
  // Commands still run (and are refused again) without ending the program.
  ASSERT_TRUE(program.Send("rz"));
  ASSERT_TRUE(program.Send("m"));
  ASSERT_TRUE(program.WaitForText(kMenuCursorRow, kModePrompt)) << program.ScreenDump();
  ASSERT_TRUE(program.Send("3\r"));
  EXPECT_TRUE(program.WaitFor(refused)) << program.ScreenDump();
}

// Esc alone, in real time, ends the program: the screen cleared, status 0,
// the terminal handed back. (Which keys quit or only redraw: app/menu_test.cc.)
TEST(Menu, EscClearsTheScreenAndEndsWithStatusZero) {
  ScopedTempDir dir;
  PtyProgram program(ProgramOptions(CopyProgram("q7tlog-sim", dir)));
  ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
  ASSERT_TRUE(program.Send("\x1b"));
  int status = -1;
  ASSERT_TRUE(program.WaitForExit(5000, &status));
  EXPECT_EQ(status, 0);
  for (int row = 1; row <= 25; ++row) EXPECT_EQ(Trimmed(program.screen(), row), "") << row;
  EXPECT_EQ(program.screen().CursorRow(), 1);
  EXPECT_EQ(program.screen().CursorCol(), 1);
  EXPECT_TRUE(Cooked(program.master_fd()));
}

// Keys whose bytes a terminal left in its own modes would take: flow control
// (Ctrl+S would freeze the screen) and an Esc sequence read as it arrives.
TEST(Menu, KeysTheTerminalMustNotTake) {
  ScopedTempDir dir;
  PtyProgram program(ProgramOptions(CopyProgram("q7tlog-sim", dir)));
  ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
  for (const char* key : {"\x13", "\x1bOP"}) {
    // M right behind the key proves the key was taken and the menu is still
    // there; Enter on the empty entry leaves the mode alone.
    ASSERT_TRUE(program.Send(std::string(key) + "m"));
    ASSERT_TRUE(program.WaitForText(kMenuCursorRow, kModePrompt)) << program.ScreenDump();
    ASSERT_TRUE(program.Send("\r"));
    ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
  }
}

}  // namespace
}  // namespace q7t::test
