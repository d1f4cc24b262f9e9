// Files as the tool uses them: regular files found without regard to letter
// case, reading that never blocks on a FIFO, the program's own folder. (How
// the log is replaced, through links and failures, is in card/save_*_test.cc.)
#include "platform/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/files.h"
#include "support/pty_harness.h"

namespace q7t::os {
namespace {

TEST(FindRegularFileNoCase, RegularFilesOnlyExactNameFirst) {
  test::ScopedTempDir dir;
  EXPECT_FALSE(FindRegularFileNoCase(dir.path(), "SerLog.txt"));
  ASSERT_EQ(::mkdir(dir.File("SerLog.txt").c_str(), 0755), 0);
  EXPECT_FALSE(FindRegularFileNoCase(dir.path(), "SerLog.txt")) << "a folder is passed over";
  ASSERT_EQ(::mkfifo(dir.File("serlog.TXT").c_str(), 0644), 0);
  EXPECT_FALSE(FindRegularFileNoCase(dir.path(), "SerLog.txt")) << "a FIFO is passed over";
  test::WriteWhole(dir.File("SERLOG.TXT"), "x");
  EXPECT_EQ(FindRegularFileNoCase(dir.path(), "SerLog.txt"), "SERLOG.TXT");
  ::rmdir(dir.File("SerLog.txt").c_str());
  test::WriteWhole(dir.File("SerLog.txt"), "y");
  EXPECT_EQ(FindRegularFileNoCase(dir.path(), "SerLog.txt"), "SerLog.txt");
}

TEST(ReadFile, OpensRegularFilesOnlyAndNeverBlocks) {
  test::ScopedTempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0644), 0);
  EXPECT_FALSE(ReadFile::Open(dir.File("fifo")));
  EXPECT_FALSE(ReadFile::Open(dir.path()));
  EXPECT_FALSE(ReadFile::Open(dir.File("missing")));
  test::WriteWhole(dir.File("f"), "hello");
  auto f = ReadFile::Open(dir.File("f"));
  ASSERT_TRUE(f);
  char buf[16];
  EXPECT_EQ(f->Read(buf, sizeof buf), 5);
  EXPECT_EQ(f->Read(buf, sizeof buf), 0);
}

TEST(ProgramDir, IsTheTestProgramsFolder) {
  std::string dir = ProgramDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_NE(dir.back(), '/');
  EXPECT_EQ(::access((dir + "/platform_tests").c_str(), X_OK), 0) << dir;
}

}  // namespace
}  // namespace q7t::os
