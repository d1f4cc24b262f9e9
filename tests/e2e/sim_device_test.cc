// q7tlog-sim on a serial device: what it refuses (status 2 and the reason),
// and the device's loss and return told on stderr at the end, the screens
// untouched meanwhile.
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "e2e/menu_screen.h"
#include "support/pty_harness.h"

namespace q7t::test {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// q7tlog-sim DEVICE with stderr in dir/stderr.
PtyProgram::Options OnDevice(const ScopedTempDir& dir, const std::string& device) {
  PtyProgram::Options options;
  options.program = "/bin/sh";
  options.args = {"-c", "exec \"$0\" \"$1\" 2>\"$2\"", CopyProgram("q7tlog-sim", dir), device,
                  dir.File("stderr")};
  return options;
}

TEST(SimDevice, RefusedDevicesEndWithStatusTwo) {
  ScopedTempDir dir;
  int master = -1, slave = -1;
  char name[256] = {};
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  PtyProgram first(OnDevice(dir, name));
  ASSERT_TRUE(first.WaitFor(ShowsFirstMenu)) << first.ScreenDump();
  const struct {
    const char* device;
    const char* reason;
  } kCases[] = {{"/etc/passwd", "not a terminal device"}, {name, "busy"}};
  for (const auto& c : kCases) {
    ScopedTempDir other;
    PtyProgram program(OnDevice(other, c.device));
    int status = -1;
    ASSERT_TRUE(program.WaitForExit(5000, &status)) << c.device;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << c.device << ": " << status;
    EXPECT_EQ(ReadAll(other.File("stderr")),
              std::string("q7tlog-sim: cannot open ") + c.device + ": " + c.reason + "\n");
  }
  ::close(master);
  ::close(slave);
}

TEST(SimDevice, LossAndReturnAreToldAtTheEnd) {
  ScopedTempDir dir;
  const std::string line = dir.File("ttyUSB0");
  int master = -1, slave = -1;
  char name[256] = {};
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  ASSERT_EQ(::symlink(name, line.c_str()), 0);
  PtyProgram program(OnDevice(dir, line));
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
  const std::string told = ReadAll(dir.File("stderr"));
  EXPECT_EQ(told.rfind("q7tlog-sim: " + line + " lost at ", 0), 0u) << told;
  EXPECT_NE(told.find("\nq7tlog-sim: " + line + " back at "), std::string::npos) << told;
  ::close(master);
  ::close(slave);
}

}  // namespace
}  // namespace q7t::test
