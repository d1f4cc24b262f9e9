// The capture's file (appended to, rotated by size) and its state file (one
// writer, the record).
#include "platform/capture_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "platform/capture_state.h"
#include "support/files.h"
#include "support/pty_harness.h"

namespace q7t::os {
namespace {

TEST(CaptureFile, AppendsAndRotatesAtTheSizeKeepingTheNewest) {
  test::ScopedTempDir dir;
  const std::string path = dir.File("cap");
  std::ofstream(path) << "earlier";
  std::string err;
  {
    auto file = CaptureFile::Open(path, 10, 2, &err);
    ASSERT_TRUE(file) << err;
    ASSERT_EQ(file->Write("abc", &err), 3u) << err;  // the file is never truncated
    ASSERT_EQ(file->Write("0123456789ABCDEFGHIJxyz", &err), 23u) << err;
  }
  EXPECT_EQ(test::ReadWhole(path + ".2"),
            "0123456789");  // "earlierabc" went with the third rotation
  EXPECT_EQ(test::ReadWhole(path + ".1"), "ABCDEFGHIJ");
  EXPECT_EQ(test::ReadWhole(path), "xyz");
  EXPECT_FALSE(std::ifstream(path + ".3"));
  {
    auto file = CaptureFile::Open(path, 0, 1, &err);
    ASSERT_TRUE(file && file->Write("!", &err) == 1 && file->Sync(&err)) << err;
  }
  EXPECT_EQ(test::ReadWhole(path), "xyz!");
}

// One capture at a time holds a file's state, for its rotated names too;
// the record reads back whole or not at all.
TEST(CaptureStateFile, OneWriterForAFileAndItsRotationsAndTheRecordReadsBack) {
  test::ScopedTempDir dir;
  const std::string path = dir.File("line.bin");
  EXPECT_EQ(CaptureStatePath(path), dir.File(".line.bin.q7tlog-capture"));
  EXPECT_EQ(CaptureStatePath("a.1.22"), ".a.q7tlog-capture");
  bool busy = false;
  std::string err;
  auto state = CaptureStateFile::Open(path, &busy, &err);
  ASSERT_TRUE(state) << err;
  EXPECT_FALSE(state->Read()) << "no record yet";
  EXPECT_FALSE(CaptureStateFile::Open(path + ".3", &busy, &err));
  EXPECT_TRUE(busy) << err;
  const CaptureRecord record{0x8123, 1765265402123, 11520, 77, 1, 2, 3};
  state->Write(record);
  const auto back = state->Read();
  ASSERT_TRUE(back);
  EXPECT_EQ(FormatCaptureRecord(*back), FormatCaptureRecord(record));
  const std::string line = FormatCaptureRecord(record);
  EXPECT_FALSE(ParseCaptureRecord(line.substr(0, line.size() - 2))) << "a torn record";
  state.reset();
  EXPECT_TRUE(CaptureStateFile::Open(path, &busy, &err)) << err;
}

// The bytes a file got after its record, followed into its rotations.
TEST(CaptureStateFile, GrowthSinceFollowsTheFileIntoItsRotations) {
  test::ScopedTempDir dir;
  const std::string path = dir.File("line.bin");
  std::ofstream(path) << "abc";
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  const CaptureRecord record{
      0, 0, 0, 0, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino), 3};
  std::ofstream(path, std::ios::app) << "de";
  EXPECT_EQ(GrowthSince(path, record, 0), 2u);
  ASSERT_EQ(::rename(path.c_str(), (path + ".1").c_str()), 0);
  std::ofstream(path) << "xyz";
  EXPECT_EQ(GrowthSince(path, record, 5), 5u);
  EXPECT_EQ(GrowthSince(path, record, 0), std::nullopt) << "path.1 is not looked at";
  ::unlink((path + ".1").c_str());
  EXPECT_EQ(GrowthSince(path, record, 5), std::nullopt);
}

}  // namespace
}  // namespace q7t::os
