// The virtual card listening on a pseudo-terminal.
#include "sim/serial_device.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "sim/sim_card.h"

namespace q7t {
namespace {

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
    char prog[] = "q7tlog-sim";
    char* argv[] = {prog, name_, nullptr};
    std::string error;
    sim_ = StartSimCard(2, argv, &error);
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
}

TEST_F(PtyDevice, LineSettingsFollowTheDivisor) {
  termios tio;
  ASSERT_EQ(::tcgetattr(slave_, &tio), 0);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(::cfgetispeed(&tio), static_cast<speed_t>(B9600));
  sim_->Out(0x351, 0x38);
  sim_->Out(0x350, 0x3D);
  sim_->Out(0x351, 0x39);
  sim_->Out(0x350, 0x04);  // 1085: 115200 bit/s
  EXPECT_TRUE(WaitFor([&] {
    return ::tcgetattr(slave_, &tio) == 0 && ::cfgetispeed(&tio) == static_cast<speed_t>(B115200);
  }));
}

TEST_F(PtyDevice, DeviceGoneStopsReceivingAndKeepsTheBytes) {
  Send("kept");
  ASSERT_TRUE(WaitFor([&] { return WriteCount(*sim_) == 4; }));
  ::close(master_);
  master_ = -1;
  EXPECT_TRUE(WaitFor([&] { return !sim_->device()->receiving(); }));
  EXPECT_EQ(sim_->card().Buffer().substr(0, 4), "kept");
  EXPECT_EQ(sim_->In(0x351), 0x00);  // the card still answers
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

TEST(StartSimCard, MissingDeviceIsNamedWithTheReason) {
  char prog[] = "q7tlog-sim";
  char dev[] = "/nonexistent/ttyQ7T";
  char* argv[] = {prog, dev, nullptr};
  std::string error;
  EXPECT_EQ(StartSimCard(2, argv, &error), nullptr);
  EXPECT_EQ(error, "q7tlog-sim: cannot open /nonexistent/ttyQ7T: No such file or directory");
}

}  // namespace
}  // namespace q7t
