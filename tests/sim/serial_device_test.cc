// The virtual card listening on a pseudo-terminal.
#include "sim/serial_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "sim/sim_card.h"
#include "support/pty_harness.h"

namespace q7t {
namespace {

std::unique_ptr<SimCard> StartOn(const std::string& device, std::string* error) {
  return StartSimCard(device, true, error);
}

// Waits for a condition the card's background thread brings about.
bool WaitFor(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

int WriteCount(SimCard& sim) {
  return sim.card().Snapshot().write_counter & 0x7FFF;
}

class PtyDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::openpty(&master_, &slave_, name_, nullptr, nullptr), 0);
    std::string error;
    sim_ = StartSimCard(name_, true, &error);
    ASSERT_TRUE(sim_) << error;
  }
  void TearDown() override {
    sim_.reset();
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
  }
  void Send(const std::string& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  int master_ = -1;
  int slave_ = -1;
  char name_[256] = {};
  std::unique_ptr<SimCard> sim_;
};

TEST_F(PtyDevice, EveryByteArrivesAsSent) {
  std::string bytes("\x00\r\n\x1a\x03\x11\x13\x7f\xff line\r\n", 15);
  for (int k = 0; k < 256; ++k) bytes.push_back(static_cast<char>(k));
  Send(bytes);
  ASSERT_TRUE(WaitFor([&] { return WriteCount(*sim_) >= static_cast<int>(bytes.size()); }));
  EXPECT_EQ(WriteCount(*sim_), static_cast<int>(bytes.size()));
  EXPECT_EQ(sim_->card().Buffer().substr(0, bytes.size()), bytes);
  pollfd echo{master_, POLLIN, 0};
  EXPECT_EQ(::poll(&echo, 1, 0), 0) << "the card wrote back to the line";
}

TEST_F(PtyDevice, LineSettingsFollowTheDivisor) {
  termios tio;
  ASSERT_EQ(::tcgetattr(slave_, &tio), 0);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(::cfgetispeed(&tio), static_cast<speed_t>(B9600));
  sim_->Out(0x351, 0x38);
  sim_->Out(0x350, 0x3D);
  sim_->Out(0x351, 0x39);
  sim_->Out(0x350, 0x04);  // 1085: 115200 bit/s
  EXPECT_TRUE(WaitFor([&] {
    return ::tcgetattr(slave_, &tio) == 0 && ::cfgetispeed(&tio) == static_cast<speed_t>(B115200);
  }));
}

// Whether uid 65534 can open `path` (this process itself when it is not
// root: an exclusive line refuses every user but root).
bool OpensAsAnotherUser(const char* path) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    ::_exit(::open(path, O_RDWR | O_NOCTTY) >= 0 ? 0 : 1);
  }
  int status = -1;
  ::waitpid(pid, &status, 0);
  return status == 0;
}

// The line is this program's alone: a second one is refused, another user's
// program cannot open it even where the device's mode would let it, and the
// first keeps receiving.
TEST_F(PtyDevice, SecondProgramOnTheLineIsBusy) {
  std::string error;
  EXPECT_EQ(StartOn(name_, &error), nullptr);
  EXPECT_EQ(error, std::string("q7tlog-sim: cannot open ") + name_ + ": busy");
  ASSERT_EQ(::fchmod(slave_, 0666), 0);
  EXPECT_FALSE(OpensAsAnotherUser(name_));
  Send("still");
  EXPECT_TRUE(WaitFor([&] { return WriteCount(*sim_) == 5; }));
}

// A device that goes away (its node removed, here a link to a
// pseudo-terminal, and the line hung up) and comes back (the node made
// again) is read again at the card's rate. The card keeps what it stored,
// and the report says when the device went and came back.
TEST(SerialDevice, GoneAndBackResumesAtTheSameRate) {
  test::ScopedTempDir dir;
  const std::string line = dir.File("ttyUSB0");
  int master = -1, slave = -1;
  char name[256] = {};
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  ASSERT_EQ(::symlink(name, line.c_str()), 0);
  std::string error;
  auto sim = StartOn(line, &error);
  ASSERT_TRUE(sim) << error;
  ::close(slave);
  sim->Out(0x351, 0x38);
  sim->Out(0x350, 0x3D);
  sim->Out(0x351, 0x39);
  sim->Out(0x350, 0x04);  // 1085: 115200 bit/s
  ASSERT_EQ(::write(master, "one", 3), 3);
  ASSERT_TRUE(WaitFor([&] { return WriteCount(*sim) == 3; }));
  EXPECT_EQ(sim->device()->Report(), "");

  ASSERT_EQ(::unlink(line.c_str()), 0);
  ::close(master);
  ASSERT_TRUE(WaitFor([&] { return !sim->device()->receiving(); }));

  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  ASSERT_EQ(::symlink(name, line.c_str()), 0);
  ASSERT_TRUE(WaitFor([&] { return sim->device()->receiving(); }));
  termios tio;
  ASSERT_EQ(::tcgetattr(slave, &tio), 0);
  EXPECT_EQ(::cfgetispeed(&tio), static_cast<speed_t>(B115200));
  ASSERT_EQ(::write(master, "two", 3), 3);
  EXPECT_TRUE(WaitFor([&] { return WriteCount(*sim) == 6; }));
  EXPECT_EQ(sim->card().Buffer().substr(0, 6), "onetwo");
  const std::string report = sim->device()->Report();
  const std::string lost = "q7tlog-sim: " + line + " lost at ";
  const std::string back = "q7tlog-sim: " + line + " back at ";
  EXPECT_EQ(report.rfind(lost, 0), 0u) << report;
  EXPECT_NE(report.find("\n" + back), std::string::npos) << report;
  sim.reset();
  ::close(master);
  ::close(slave);
}

TEST(NearestStandardRate, PicksTheClosestRate) {
  constexpr struct {
    int divisor, rate;
  } kCases[] = {
      {13021, 9600}, {1085, 115200}, {104167 & 0xFFFF, 2400}, {0xFFFF, 1800},
      {1, 4000000},  {250, 500000},  {6510, 19200},
  };
  for (const auto& c : kCases) EXPECT_EQ(NearestStandardRate(c.divisor), c.rate) << c.divisor;
}

TEST(StartSimCard, DeviceRefusalsNameItWithTheReason) {
  const struct {
    const char* device;
    const char* reason;
  } kCases[] = {
      {"/nonexistent/ttyQ7T", "No such file or directory"},
      {"/dev/null", "not a terminal device"},
      {"/proc/self/stat", "not a terminal device"},
  };
  for (const auto& c : kCases) {
    std::string error;
    EXPECT_EQ(StartOn(c.device, &error), nullptr) << c.device;
    EXPECT_EQ(error, std::string("q7tlog-sim: cannot open ") + c.device + ": " + c.reason);
  }
}

}  // namespace
}  // namespace q7t
