// The capture's poll arithmetic against the virtual card: whatever the
// counter and the ring have been through, a poll keeps exactly the bytes
// that arrived since the last one and counts those the ring overwrote.
#include "card/capture.h"

#include <gtest/gtest.h>

#include <string>

#include "card/card.h"
#include "sim/virtual_card.h"
#include "support/serial_line.h"

namespace q7t {
namespace {

using test::RandomBytes;

std::int64_t g_now_ms = 0;  // the engine's clock
std::int64_t Clock() {
  return g_now_ms;
}
constexpr std::uint64_t kRate = 11520;  // bytes a second at 115200 bit/s

TEST(CapturePoll, KeepsExactlyWhatArrivedAgainstTheCard) {
  constexpr struct {
    const char* name;
    int before;  // bytes received before the capture starts
    bool reset;  // Z between the start and the poll
    int arrived;
    int lost;
    int ms = 0;           // from the start to the poll
    bool resume = false;  // a new capture reads on from the first one's counter word
    int have = 0;         // of what arrived, the first bytes already in the file
    bool at_least = false;
  } kCases[] = {
      {"fresh card", 0, false, 100, 0},
      {"nothing new", 500, false, 0, 0},
      {"ring wraps during the interval", 8000, false, 300, 0},
      {"ring wrapped long ago", 20000, false, 4000, 0},
      {"count wraps at 32768", 32700, false, 100, 0},
      {"exactly a full ring", 0, false, 8192, 0},
      {"one byte too many", 0, false, 8193, 1},
      {"a long delay", 100, false, 20000, 20000 - 8192},
      {"counter reset, flag cleared", 9000, true, 50, 0},
      {"counter reset, flag never set", 700, true, 50, 0},
      {"counter reset after the count wrapped", 32768 + 100, true, 200, 0},
      {"a stall long enough to wrap the count", 0, false, 32768 + 100, 32768, 3000, false, 0, true},
      {"a stall too short to wrap it", 0, false, 8200, 8, 3000},
      {"a restart reads on where the last capture stopped", 500, false, 3000, 0, 0, true},
      {"a restart after a kill: the first bytes are in the file", 500, false, 3000, 0, 0, true,
       1000},
      {"a restart after a long stop", 9000, false, 9000, 808, 1000, true},
      {"a restart after a stop long enough to wrap the count", 500, false, 32768 + 100, 32768, 5000,
       true, 0, true},
      {"a restart on a card that was reset", 9000, true, 40, 0, 3000, true, 1000},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    VirtualCard card;
    SetPortBus(&card);
    card.Receive(RandomBytes(static_cast<std::size_t>(c.before), 1));
    g_now_ms = 0;
    CaptureEngine engine(Clock, kRate);
    engine.Start();
    if (c.reset) card.Out(0x351, kRegCommand), card.Out(0x350, kCmdResetCounter);
    const std::string line = RandomBytes(static_cast<std::size_t>(c.arrived), 2);
    g_now_ms = c.ms;
    // A restart: half the bytes come while no capture runs, the rest after
    // the new one started.
    const std::size_t half = c.resume ? line.size() / 2 : 0;
    card.Receive(line.substr(0, half));
    CaptureEngine again(Clock, kRate);
    if (c.resume) {
      again.Start();
      again.ResumeFrom(engine.last_word(), c.ms, kRate);
    }
    card.Receive(line.substr(half));
    std::string out;
    const PollPlan plan = (c.resume ? again : engine).Poll(out, static_cast<std::uint64_t>(c.have));
    const int wrapped = c.at_least ? kCountModulus : 0;  // more than the count shows
    EXPECT_EQ(plan.arrived, static_cast<std::uint32_t>(c.arrived - wrapped));
    EXPECT_EQ(plan.lost, static_cast<std::uint32_t>(c.lost - wrapped));
    EXPECT_EQ(plan.reset, c.reset);
    EXPECT_EQ(plan.at_least, c.at_least);
    const std::size_t from = static_cast<std::size_t>(c.lost + (c.reset ? 0 : c.have));
    EXPECT_TRUE(out == line.substr(from)) << out.size() << " bytes";
    // The next poll finds nothing new, and the mode register is as it was.
    out.clear();
    EXPECT_EQ((c.resume ? again : engine).Poll(out).arrived, 0u);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(card.Snapshot().mode, 0);
    SetPortBus(nullptr);
  }
}

// Planned for 9600 bit/s, a capture that has seen the line bring 10000
// bytes a second judges a later stall at that rate: 3.5 s can wrap the count.
TEST(CapturePoll, StallsAreJudgedAtTheFastestRateSeen) {
  VirtualCard card;
  SetPortBus(&card);
  g_now_ms = 0;
  CaptureEngine engine(Clock, PlannedLineRate(9600));
  engine.Start();
  card.Receive(RandomBytes(5000, 3));
  g_now_ms = 500;
  std::string out;
  EXPECT_FALSE(engine.Poll(out).at_least);
  EXPECT_EQ(engine.line_rate(), 10000u);
  card.Receive(RandomBytes(kCountModulus + 100, 4));
  g_now_ms += 3500;
  EXPECT_TRUE(engine.Poll(out).at_least);
  SetPortBus(nullptr);
}

TEST(CapturePoll, RefusedPortsMeanNoCard) {
  SetPortBus(nullptr);  // every read gives -8
  CaptureEngine engine(Clock, kRate);
  EXPECT_FALSE(engine.Start());
  VirtualCard card;
  SetPortBus(&card);
  EXPECT_TRUE(engine.Start());
  SetPortBus(nullptr);
}

// Between two polls the line never brings more than a quarter of the ring at
// the rate of the divisor, for every divisor down to 123 (1.016 Mbit/s);
// faster lines meet the shortest interval.
TEST(CapturePoll, IntervalLeavesThreeQuartersOfTheRingSpare) {
  EXPECT_EQ(PollIntervalMs(1085), 177);    // 115200 bit/s
  EXPECT_EQ(PollIntervalMs(13021), 1000);  // 9600 bit/s: the longest
  EXPECT_EQ(PollIntervalMs(0), 1000);      // receiver off
  EXPECT_EQ(PollIntervalMs(122), kMinPollMs);
  for (std::int32_t divisor = 123; divisor <= 0xFFFF; ++divisor) {
    const double bytes_per_ms = 125000000.0 / divisor / 10 / 1000;
    ASSERT_LE(PollIntervalMs(divisor) * bytes_per_ms, kPollBudgetBytes) << divisor;
  }
  // A line faster than planned shortens the interval; a slower one never lengthens it.
  EXPECT_EQ(AdaptIntervalMs(1000, 11520, 1000), 177);
  EXPECT_EQ(AdaptIntervalMs(177, 100, 177), 177);
  EXPECT_EQ(AdaptIntervalMs(177, 0, 177), 177);
}

}  // namespace
}  // namespace q7t
