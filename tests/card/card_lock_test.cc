// The card-wide lock around each sequence of port accesses, and the hold
// note that lets the next holder undo a dead one's hold bit.
#include "card/card_lock.h"

#include <gtest/gtest.h>

#include <string>

#include "card/capture.h"
#include "card/card.h"
#include "support/recording_port_bus.h"

namespace q7t {
namespace {

// Logs the port accesses made under each holding of the lock, and where the
// hold note stood at each port write.
class MemoryLockStore : public CardLockStore {
 public:
  explicit MemoryLockStore(test::RecordingPortBus& bus) : bus_(bus) {}
  void Acquire() override {
    outside_ += bus_.Take();
    ++holds_;
  }
  void Release() override { under_ += bus_.Take() + "|"; }
  int HeldMode() override { return note_; }
  void SetHeldMode(int mode) override {
    under_ += bus_.Take() + (mode < 0 ? " (note cleared) " : " (note " + test::Hex2(mode) + ") ");
    note_ = mode;
  }
  std::string outside_, under_;
  int holds_ = 0;
  int note_ = -1;

 private:
  test::RecordingPortBus& bus_;
};

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
  MemoryLockStore store_{bus_};
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

}  // namespace
}  // namespace q7t
