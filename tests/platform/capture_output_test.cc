// The capture's file (appended to, rotated by size) and the card-wide lock
// file (created with care, an exclusive flock, the hold note).
#include "platform/capture_output.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "platform/card_lock_file.h"
#include "support/pty_harness.h"

namespace q7t::os {
namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

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
  EXPECT_EQ(Read(path + ".2"), "0123456789");  // "earlierabc" went with the third rotation
  EXPECT_EQ(Read(path + ".1"), "ABCDEFGHIJ");
  EXPECT_EQ(Read(path), "xyz");
  EXPECT_FALSE(std::ifstream(path + ".3"));
  {
    auto file = CaptureFile::Open(path, 0, 1, &err);
    ASSERT_TRUE(file && file->Write("!", &err) == 1 && file->Sync(&err)) << err;
  }
  EXPECT_EQ(Read(path), "xyz!");
}

TEST(CardLockFile, CreatedWithCareLocksExclusivelyAndKeepsTheNote) {
  test::ScopedTempDir dir;
  const std::string path = dir.File("q7tlog.lock");
  const mode_t old_mask = ::umask(077);
  std::string err;
  auto lock = CardLockFile::Open(path, &err);
  ::umask(old_mask);
  ASSERT_TRUE(lock) << err;
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);

  const int other = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  lock->Acquire();
  EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0) << "another holder got in";
  lock->Release();
  EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  ::close(other);

  EXPECT_EQ(lock->HeldMode(), -1);
  lock->SetHeldMode(0x15);
  EXPECT_EQ(Read(path), "hold 15\n");
  EXPECT_EQ(CardLockFile::Open(path, &err)->HeldMode(), 0x15) << "another process sees it";
  lock->SetHeldMode(-1);
  EXPECT_EQ(lock->HeldMode(), -1);

  ASSERT_EQ(::symlink(path.c_str(), dir.File("link").c_str()), 0);
  EXPECT_FALSE(CardLockFile::Open(dir.File("link"), &err)) << "a link is never followed";
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0644), 0);
  EXPECT_FALSE(CardLockFile::Open(dir.File("fifo"), &err));
}

}  // namespace
}  // namespace q7t::os
