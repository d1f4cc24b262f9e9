// The log save: the file's bytes, the port sequence, and what a save does
// when the ports are refused or the file cannot be written.
#include "card/save_log.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "card/card.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "support/pty_harness.h"
#include "support/recording_port_bus.h"

namespace q7t {
namespace {

os::LocalTime FixedClock() {
  return {2026, 12, 8, 5, 33, 10};
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
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
  SaveOutcome Save(int mode) { return SaveLogTo(mode, {dir_.path(), false, false}); }
  std::string LogPath() const { return dir_.File(kLogFileName); }

  test::ScopedTempDir dir_;
  test::RecordingPortBus bus_;
};

TEST_F(SaveLogTest, FileIsHeaderThenTheRawBuffer) {
  const SaveOutcome outcome = Save(0x05);
  EXPECT_TRUE(outcome.ok) << outcome.message;
  const std::string file = ReadAll(LogPath());
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
  EXPECT_TRUE(SaveLogTo(0, {dir_.path(), true, false}).ok);
  const std::string after = std::filesystem::current_path();
  std::filesystem::current_path(before);
  EXPECT_EQ(std::filesystem::equivalent(after, dir_.path()), true);
}

TEST_F(SaveLogTest, SecondSaveReplacesTheFirst) {
  Save(0);
  bus_.SetRegister(0x38, 0x00);
  bus_.SetRegister(0x39, 0x80);
  bus_.SetLogBytes(std::vector<int>(kLogBufferSize, 'x'));
  Save(0);
  const std::string file = ReadAll(LogPath());
  ASSERT_EQ(file.size(), 8243u);
  EXPECT_EQ(file.substr(35, 14), " RdCnt=1/00000");
  EXPECT_EQ(file.substr(51), std::string(kLogBufferSize, 'x'));
}

TEST_F(SaveLogTest, ReadsKeepOnlyTheLowByte) {
  bus_.SetLogBytes({0x141, -8, 0x7F});
  Save(0);
  EXPECT_EQ(ReadAll(LogPath()).substr(51, 3), "\x41\xF8\x7F");
}

TEST_F(SaveLogTest, RefusedPortsSaveTheRefusalValues) {
  SetPortBus(nullptr);
  EXPECT_TRUE(Save(0).ok);
  const std::string file = ReadAll(LogPath());
  ASSERT_EQ(file.size(), 8243u);
  EXPECT_EQ(file.substr(35, 14), " RdCnt=1/30712");
  EXPECT_EQ(file.substr(51), std::string(kLogBufferSize, '\xF8'));
}

TEST_F(SaveLogTest, PlantedLinkIsReplacedNotWrittenThrough) {
  test::ScopedTempDir elsewhere;
  const std::string target = elsewhere.File("precious");
  WriteAll(target, "keep me");
  ASSERT_EQ(::symlink(target.c_str(), LogPath().c_str()), 0);
  EXPECT_TRUE(Save(0).ok);
  EXPECT_EQ(ReadAll(target), "keep me");
  struct stat st;
  ASSERT_EQ(::lstat(LogPath().c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_size, 8243);
}

TEST_F(SaveLogTest, MissingFolderIsReportedAndTheCardStepsStillRun) {
  const std::string gone = dir_.File("gone");
  const SaveOutcome outcome = SaveLogTo(0x05, {gone, false, false});
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.message, "Save failed: " + gone + "/SerLog.txt: No such file or directory");
  EXPECT_EQ(bus_.Take(), test::SaveSequence(0x05));
}

TEST_F(SaveLogTest, LongPathIsShortenedToTheFileName) {
  const std::string gone = dir_.File(std::string(60, 'd'));
  const SaveOutcome outcome = SaveLogTo(0, {gone, false, false});
  EXPECT_EQ(outcome.message, "Save failed: SerLog.txt: No such file or directory");
}

// A write cut short (here by a file size limit, which binds root as well)
// leaves the previous log whole.
TEST_F(SaveLogTest, FailedWriteKeepsThePreviousLogWhole) {
  ASSERT_TRUE(Save(0).ok);
  const std::string before = ReadAll(LogPath());
  bus_.Take();
  bus_.SetLogBytes(std::vector<int>(kLogBufferSize, 'y'));

  rlimit old_limit;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  rlimit small = old_limit;
  small.rlim_cur = 4096;
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const SaveOutcome outcome = Save(0x05);
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);

  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.message.rfind("Save failed: ", 0), 0u) << outcome.message;
  EXPECT_NE(outcome.message.find("File too large"), std::string::npos) << outcome.message;
  EXPECT_EQ(ReadAll(LogPath()), before);
  EXPECT_EQ(bus_.Take(), test::SaveSequence(0x05));
  // Nothing but the log is left in the folder.
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

// Stands in for fsync: counts the flushes of regular files, notes whether
// the log still held its old bytes at each, and fails when told to.
struct SyncProbe {
  static inline int file_flushes = 0, fail_with = 0;
  static inline std::string log_path, old_log, log_at_flush;
  static int Sync(int fd) {
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      ++file_flushes;
      log_at_flush = ReadAll(log_path);
    }
    errno = fail_with;
    return fail_with == 0 ? 0 : -1;
  }
};

// The new log reaches the disk before it takes the old one's place, so that
// a power loss leaves one whole log or the other; a flush that fails keeps
// the old one.
TEST_F(SaveLogTest, NewLogIsFlushedBeforeItReplacesTheOld) {
  ASSERT_TRUE(Save(0).ok);
  const std::string old_log = ReadAll(LogPath());
  SyncProbe::log_path = LogPath();
  const os::SyncCall before = os::SetSyncCall(SyncProbe::Sync);
  bus_.SetLogBytes(std::vector<int>(kLogBufferSize, 'n'));
  const SaveOutcome saved = SaveLogTo(0, {dir_.path(), false, true});
  const bool flushed_first = SyncProbe::file_flushes == 1 && SyncProbe::log_at_flush == old_log;
  const std::string new_log = ReadAll(LogPath());
  SyncProbe::fail_with = EIO;
  const SaveOutcome failed = SaveLogTo(0, {dir_.path(), false, true});
  os::SetSyncCall(before);

  EXPECT_TRUE(saved.ok) << saved.message;
  EXPECT_TRUE(flushed_first) << SyncProbe::file_flushes << " flushes";
  EXPECT_EQ(new_log.substr(51), std::string(kLogBufferSize, 'n'));
  EXPECT_FALSE(failed.ok);
  EXPECT_NE(failed.message.find("Input/output error"), std::string::npos) << failed.message;
  EXPECT_TRUE(ReadAll(LogPath()) == new_log) << "the old log was not kept";
}

}  // namespace
}  // namespace q7t
