// Register access, the baud divisor and the counter text, through a
// recording port bus.
#include "card/card.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/recording_port_bus.h"

namespace q7t {
namespace {

class CardTest : public ::testing::Test {
 protected:
  void SetUp() override { SetPortBus(&bus_); }
  void TearDown() override { SetPortBus(nullptr); }
  test::RecordingPortBus bus_;
};

TEST_F(CardTest, RegisterAccessSelectsFirstAndCutsToLowByte) {
  bus_.SetRegister(0x38, 0x7B);
  bus_.SetRegister(0x39, 0x80);
  const int low = CardReadReg(kRegCounterLow);
  const int high = CardReadReg(kRegCounterHigh);
  EXPECT_EQ(bus_.Take(), "idx 38, rd; idx 39, rd");
  EXPECT_EQ(CounterText(CounterWord(low, high)), "1/00123");

  CardWriteReg(kRegMode, 0x1FF);
  CardWriteReg(0x13A, -2);  // an index is a byte on the bus too
  CardSelectReg(kRegCommand);
  EXPECT_EQ(bus_.Take(), "idx 3A, wr FF; idx 3A, wr FE; idx 3B");
  PortOut(0x351, 0x1234);
  EXPECT_EQ(bus_.Take(), "idx 34");
}

TEST_F(CardTest, ReadDataReadsTheSelectedRegisterWithoutSelecting) {
  bus_.SetRegister(0x3A, 0x15);
  CardSelectReg(kRegMode);
  EXPECT_EQ(CardReadData(), 0x15);
  EXPECT_EQ(CardReadData(), 0x15);
  EXPECT_EQ(bus_.Take(), "idx 3A, rd, rd");
}

TEST(CardNoBus, RefusedAccessReadsMinusEightAndWritesNothing) {
  SetPortBus(nullptr);
  EXPECT_EQ(PortIn(0x350), kPortRefused);
  const int low = CardReadReg(kRegCounterLow);
  const int high = CardReadReg(kRegCounterHigh);
  EXPECT_EQ(CounterWord(low, high), -2056);
  EXPECT_EQ(CounterText(CounterWord(low, high)), "1/30712");
}

TEST(BaudDivisor, WorkedValuesAndTheEdgesOfTheThirtyTwoBitRange) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr struct {
    double rate;
    std::int32_t divisor;
  } kCases[] = {
      {115200, 1085},
      {57600, 2170},
      {38400, 3255},
      {19200, 6510},
      {9600, 13021},
      {4800, 26042},
      {2400, 52083},
      {1200, 104167},
      {-9600, -13021},
      {0, INT32_MIN},
      {-0.0, INT32_MIN},
      {std::numeric_limits<double>::quiet_NaN(), INT32_MIN},
      {kInf, 0},   // quotient 0
      {-kInf, 0},  // quotient -0
      {0.0582, INT32_MIN},
      {-0.0582, INT32_MIN},
      {0.0583, 2144082333},
      {125000000.0 / 2147483647.0, 2147483647},
      {125000000.0 / 2147483648.0, INT32_MIN},   // floor(2^31 + 0.5) is just outside
      {125000000.0 / -2147483648.0, INT32_MIN},  // -2^31 itself, a true divisor
      {250000000.0 / 3.0, 2},                    // 1.5 rounds up
      {-250000000.0 / 3.0, -1},                  // -1.5 rounds up too
      {1e300, 0},
  };
  for (const auto& c : kCases) EXPECT_EQ(BaudDivisor(c.rate), c.divisor) << "rate " << c.rate;
}

TEST(CounterText, FlagAndFiveDigitCount) {
  constexpr struct {
    int word;
    const char* text;
  } kCases[] = {
      {0x0000, "0/00000"}, {0x807B, "1/00123"}, {0xFFFF, "1/32767"},
      {0x8000, "1/00000"}, {0x7FFF, "0/32767"}, {-2056, "1/30712"},
  };
  for (const auto& c : kCases) EXPECT_EQ(CounterText(c.word), c.text) << "word " << c.word;
}

}  // namespace
}  // namespace q7t
