// The log save: the file's bytes, the port sequence, and what a save does
// when the ports are refused or the file cannot be written.
#include "card/save_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "card/card.h"
#include "platform/clock.h"
#include "support/files.h"
#include "support/pty_harness.h"
#include "support/recording_port_bus.h"

namespace q7t {
namespace {

using test::ReadWhole;

os::LocalTime FixedClock() {
  return {2026, 12, 8, 5, 33, 10};
}

// Every byte value, with the ones a text mode would mangle up front.
std::vector<int> KnownLog() {
  std::vector<int> log = {0x00, 0x0D, 0x0A, 0x1A, 0x0A, 0x0D, 0xFF};
  while (log.size() < kLogBufferSize) log.push_back(static_cast<int>(log.size() * 7 % 256));
  return log;
}

class SaveLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    os::SetClockForTest(FixedClock);
    SetPortBus(&bus_);
    bus_.SetRegister(0x38, 0x7B);
    bus_.SetRegister(0x39, 0x00);
    bus_.SetLogBytes(KnownLog());
  }
  void TearDown() override {
    SetPortBus(nullptr);
    os::SetClockForTest(nullptr);
  }
  // A save into dir_; `*message` (if given) says why it failed.
  bool Save(int mode, std::string* message = nullptr) {
    std::string ignored;
    return SaveLogTo(mode, {dir_.path(), false, false}, message ? message : &ignored);
  }
  std::string LogPath() const { return dir_.File(kLogFileName); }

  test::ScopedTempDir dir_;
  test::RecordingPortBus bus_;
};

TEST_F(SaveLogTest, FileIsHeaderThenTheRawBuffer) {
  std::string message;
  EXPECT_TRUE(Save(0x05, &message)) << message;
  const std::string file = ReadWhole(LogPath());
  ASSERT_EQ(file.size(), 8243u);
  EXPECT_EQ(file.substr(0, 49), "Serial Line Log 12-08-2026 05:33:10 RdCnt=0/00123");
  EXPECT_EQ(file.substr(49, 2), "\r\n");
  const std::vector<int> log = KnownLog();
  for (int k = 0; k < kLogBufferSize; ++k) {
    ASSERT_EQ(static_cast<unsigned char>(file[51 + k]), log[k]) << "log byte " << k;
  }
}

TEST_F(SaveLogTest, PortSequenceIsTheSaveCommandsAndEndsOnTheModeRegister) {
  Save(0x05);
  EXPECT_EQ(bus_.Take(), test::SaveSequence(0x05));
  EXPECT_EQ(bus_.selected(), kRegMode);
  Save(0x15);  // bit 0x10 already set: written as it is
  EXPECT_EQ(bus_.Take(), test::SaveSequence(0x15));
}

TEST_F(SaveLogTest, WorkingDirectoryBecomesTheSaveFolderAgain) {
  const std::string before = std::filesystem::current_path();
  std::string message;
  EXPECT_TRUE(SaveLogTo(0, {dir_.path(), true, false}, &message)) << message;
  const std::string after = std::filesystem::current_path();
  std::filesystem::current_path(before);
  EXPECT_EQ(std::filesystem::equivalent(after, dir_.path()), true);
}

TEST_F(SaveLogTest, ReadsKeepOnlyTheLowByte) {
  bus_.SetLogBytes({0x141, -8, 0x7F});
  Save(0);
  EXPECT_EQ(ReadWhole(LogPath()).substr(51, 3), "\x41\xF8\x7F");
}

TEST_F(SaveLogTest, RefusedPortsSaveTheRefusalValues) {
  SetPortBus(nullptr);
  EXPECT_TRUE(Save(0));
  const std::string file = ReadWhole(LogPath());
  ASSERT_EQ(file.size(), 8243u);
  EXPECT_EQ(file.substr(35, 14), " RdCnt=1/30712");
  EXPECT_EQ(file.substr(51), std::string(kLogBufferSize, '\xF8'));
}

TEST_F(SaveLogTest, MissingFolderIsReportedAndTheCardStepsStillRun) {
  const std::string gone = dir_.File("gone");
  std::string message;
  EXPECT_FALSE(SaveLogTo(0x05, {gone, false, false}, &message));
  EXPECT_EQ(message, "Save failed: " + gone + "/SerLog.txt: No such file or directory");
  EXPECT_EQ(bus_.Take(), test::SaveSequence(0x05));
}

TEST_F(SaveLogTest, LongPathIsShortenedToTheFileName) {
  const std::string gone = dir_.File(std::string(60, 'd'));
  std::string message;
  EXPECT_FALSE(SaveLogTo(0, {gone, false, false}, &message));
  EXPECT_EQ(message, "Save failed: SerLog.txt: No such file or directory");
}

// The new log reaches the disk before it takes the old one's place, and the
// folder after the rename, so that a power loss leaves one whole log or the
// other. (A flush that fails: save_faults_test.cc.)
TEST_F(SaveLogTest, NewLogIsFlushedBeforeItReplacesTheOld) {
  ASSERT_TRUE(Save(0));
  const std::string old_log = ReadWhole(LogPath());
  test::SyncProbe probe;
  std::string log_at_flush;
  test::SyncProbe::at_file_flush = [&] { log_at_flush = ReadWhole(LogPath()); };
  bus_.SetLogBytes(std::vector<int>(kLogBufferSize, 'n'));
  std::string message;
  EXPECT_TRUE(SaveLogTo(0, {dir_.path(), false, true}, &message)) << message;
  EXPECT_EQ(test::SyncProbe::files, 1);
  EXPECT_TRUE(log_at_flush == old_log) << "the new log replaced the old one before its flush";
  EXPECT_EQ(test::SyncProbe::folders, 1);
  EXPECT_EQ(ReadWhole(LogPath()).substr(51), std::string(kLogBufferSize, 'n'));
}

}  // namespace
}  // namespace q7t
