// Files as the tool uses them: the log replaced whole and never through a
// link, regular files found without regard to letter case, reading that
// never blocks on a FIFO.
#include "platform/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/pty_harness.h"

namespace q7t::os {
namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

int EntryCount(const std::string& dir) {
  int n = 0;
  for (const auto& name : {"a", "SerLog.txt", "victim"})
    n += ::access((dir + "/" + name).c_str(), F_OK) == 0;
  return n;
}

TEST(ReplaceFile, WritesWholeAndReplaces) {
  test::ScopedTempDir dir;
  std::string err;
  ASSERT_TRUE(ReplaceFile(dir.path(), "SerLog.txt", std::string("a\0b", 3), true, &err)) << err;
  EXPECT_EQ(Slurp(dir.File("SerLog.txt")), std::string("a\0b", 3));
  ASSERT_TRUE(ReplaceFile(dir.path(), "SerLog.txt", "second", false, &err)) << err;
  EXPECT_EQ(Slurp(dir.File("SerLog.txt")), "second");
  EXPECT_EQ(EntryCount(dir.path()), 1) << "no temporary file is left behind";
}

TEST(ReplaceFile, NeverWritesThroughALink) {
  test::ScopedTempDir dir;
  Write(dir.File("victim"), "keep me");
  ASSERT_EQ(::symlink(dir.File("victim").c_str(), dir.File("SerLog.txt").c_str()), 0);
  std::string err;
  ASSERT_TRUE(ReplaceFile(dir.path(), "SerLog.txt", "log", true, &err)) << err;
  EXPECT_EQ(Slurp(dir.File("victim")), "keep me");
  struct stat st;
  ASSERT_EQ(::lstat(dir.File("SerLog.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode)) << "the link itself is replaced by the new log";
}

TEST(ReplaceFile, FailureSaysWhyAndKeepsTheOldLog) {
  test::ScopedTempDir dir;
  std::string err;
  // A folder in place of the log: even root cannot rename a file over it.
  ASSERT_EQ(::mkdir(dir.File("SerLog.txt").c_str(), 0755), 0);
  EXPECT_FALSE(ReplaceFile(dir.path(), "SerLog.txt", "log", true, &err));
  EXPECT_NE(err.find("SerLog.txt: "), std::string::npos) << err;
  EXPECT_NE(err.find("directory"), std::string::npos) << err;
  EXPECT_EQ(EntryCount(dir.path()), 1) << "the temporary file is removed";
  // A folder that is not there.
  EXPECT_FALSE(ReplaceFile(dir.File("gone"), "SerLog.txt", "log", true, &err));
  EXPECT_NE(err.find("No such file"), std::string::npos) << err;
}

TEST(FindRegularFileNoCase, RegularFilesOnlyExactNameFirst) {
  test::ScopedTempDir dir;
  EXPECT_FALSE(FindRegularFileNoCase(dir.path(), "SerLog.txt"));
  ASSERT_EQ(::mkdir(dir.File("SerLog.txt").c_str(), 0755), 0);
  EXPECT_FALSE(FindRegularFileNoCase(dir.path(), "SerLog.txt")) << "a folder is passed over";
  ASSERT_EQ(::mkfifo(dir.File("serlog.TXT").c_str(), 0644), 0);
  EXPECT_FALSE(FindRegularFileNoCase(dir.path(), "SerLog.txt")) << "a FIFO is passed over";
  Write(dir.File("SERLOG.TXT"), "x");
  EXPECT_EQ(FindRegularFileNoCase(dir.path(), "SerLog.txt"), "SERLOG.TXT");
  ::rmdir(dir.File("SerLog.txt").c_str());
  Write(dir.File("SerLog.txt"), "y");
  EXPECT_EQ(FindRegularFileNoCase(dir.path(), "SerLog.txt"), "SerLog.txt");
}

TEST(ReadFile, OpensRegularFilesOnlyAndNeverBlocks) {
  test::ScopedTempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0644), 0);
  EXPECT_FALSE(ReadFile::Open(dir.File("fifo")));
  EXPECT_FALSE(ReadFile::Open(dir.path()));
  EXPECT_FALSE(ReadFile::Open(dir.File("missing")));
  Write(dir.File("f"), "hello");
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
