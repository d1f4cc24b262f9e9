// The card-wide lock around each sequence of port accesses, the wait for a
// card another process holds, and the hold note that lets the next holder
// undo a dead one's hold bit.
#include "card/card_lock.h"

#include <gtest/gtest.h>

#include <string>

#include "card/capture.h"
#include "card/card.h"
#include "support/fake_lock_store.h"
#include "support/recording_port_bus.h"

namespace q7t {
namespace {

class CardLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetPortBus(&bus_);
    SetCardLockStore(&store_);
  }
  void TearDown() override {
    SetCardLockStore(nullptr);
    SetPortBus(nullptr);
  }
  test::RecordingPortBus bus_;
  test::FakeLockStore store_{bus_};
};

TEST_F(CardLockTest, GuardsNestAndTakeTheLockOnce) {
  {
    CardLock outer;
    CardReadReg(kRegMode);
    CardLock inner;
    inner.Release();
    inner.Release();
    CardReadReg(kRegMode);
  }
  EXPECT_EQ(store_.holds_, 1);
  EXPECT_EQ(store_.under_, "idx 3A, rd; idx 3A, rd|");
}

TEST_F(CardLockTest, CapturePollHoldsNotedAndNeverResetsTheCounter) {
  bus_.SetRegister(kRegMode, 0x02);
  CaptureEngine engine([] { return std::int64_t{0}; }, 11520);
  engine.Start();
  bus_.SetRegister(kRegCounterLow, 3);
  std::string out;
  engine.Poll(out);
  EXPECT_EQ(store_.holds_, 2);
  const std::string start =
      "idx 3A, rd (note 02) idx 3A, wr 12; idx 3B, wr 01; idx 38, rd; "
      "idx 39, rd; idx 3A, wr 02 (note cleared) |";
  const std::string poll =
      "idx 3A, rd (note 02) idx 3A, wr 12; idx 3B, wr 01; idx 38, rd; "
      "idx 39, rd; idx 3B, rd, rd, rd; idx 3A, wr 02 (note cleared) |";
  EXPECT_EQ(store_.under_, start + poll);
}

TEST_F(CardLockTest, NextHolderRestoresTheModeADeadHolderLeftHeld) {
  store_.note_ = 0x03;  // as a process killed between hold and restore leaves it
  {
    CardLock lock;
    CardReadReg(kRegCounterLow);
  }
  EXPECT_EQ(store_.under_, "idx 3A, wr 03 (note cleared) idx 38, rd|");
  EXPECT_EQ(store_.note_, -1);
}

// A wait ends when the card is free, when the time runs out or when stop
// says so, never touching the card before it holds it; the holder is told
// once, after a second.
TEST_F(CardLockTest, WaitForAHeldCard) {
  constexpr std::int64_t kForGood = -1, kNever = -1;
  struct Case {
    const char* what;
    std::int64_t busy_until, give_up, stop_at;
    bool held;
    std::int64_t ended_at;  // on the store's clock
    int told;
  } kCases[] = {
      {"free", 0, 10000, kNever, true, 0, 0},
      {"held half a second", 500, 10000, kNever, true, 500, 0},
      {"held a second and a half", 1500, 10000, kNever, true, 1500, 1},
      {"held past the limit", kForGood, 2000, kNever, false, 2000, 1},
      {"held a second, the limit", kForGood, 1000, kNever, false, 1000, 1},
      {"no wait at all", kForGood, 0, kNever, false, 0, 0},
      {"stopped", kForGood, kNever, 700, false, 700, 0},
      {"stopped after being told", kForGood, kNever, 3050, false, 3100, 1},
  };
  for (const Case& c : kCases) {
    test::FakeLockStore store(bus_);
    store.busy_until_ms_ = c.busy_until;
    store.note_ = 0x03;
    SetCardLockStore(&store);
    int told = 0;
    CardWait wait;
    wait.give_up_ms = c.give_up;
    if (c.stop_at != kNever) wait.stop = [&] { return store.now_ms_ >= c.stop_at; };
    wait.held_by = [&](long pid) { told += pid == test::FakeLockStore::kHolderPid; };
    {
      CardLock lock(wait);
      EXPECT_EQ(lock.held(), c.held) << c.what;
      if (lock.held()) CardReadReg(kRegCounterLow);
    }
    EXPECT_EQ(store.now_ms_, c.ended_at) << c.what;
    EXPECT_EQ(told, c.told) << c.what;
    // The dead holder's mode is put back only by a process that got the card.
    EXPECT_EQ(store.under_, c.held ? "idx 3A, wr 03 (note cleared) idx 38, rd|" : "") << c.what;
  }
  SetCardLockStore(&store_);
}

}  // namespace
}  // namespace q7t
