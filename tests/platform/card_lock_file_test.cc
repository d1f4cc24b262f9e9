// The card-wide lock file: which folders and files are trusted with it (who
// owns them told through the seam, so the table means the same run as root),
// the folder made where it is missing, the flock, its holder and the note.
#include "platform/card_lock_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "support/pty_harness.h"

namespace q7t::os {
namespace {

constexpr unsigned kRoot = 0, kOwn = 4242, kOther = 65534;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

enum class Folder { kDir, kLinkToDir, kFile, kMissing, kMissingParent };
enum class File { kNone, kRegular, kLink, kSecondName, kFifo };

TEST(CardLockFile, TrustedFoldersAndFilesOnly) {
  struct Case {
    const char* what;
    Folder folder;
    mode_t folder_mode;
    unsigned folder_owner;
    File file;
    mode_t file_mode;
    unsigned file_owner;
    bool make_folder;
    const char* refused;  // in the line said; nullptr: the lock is used
    mode_t made_mode;     // the file's mode once used
  } kCases[] = {
      {"own folder, file made", Folder::kDir, 0700, kOwn, File::kNone, 0, kOwn, false, nullptr,
       0644},
      {"shared folder, file made for the group", Folder::kDir, 02775, kRoot, File::kNone, 0, kOwn,
       false, nullptr, 0664},
      {"root's file", Folder::kDir, 02775, kRoot, File::kRegular, 0664, kRoot, false, nullptr,
       0664},
      {"own file", Folder::kDir, 0755, kRoot, File::kRegular, 0644, kOwn, false, nullptr, 0644},
      {"another user's file", Folder::kDir, 02775, kRoot, File::kRegular, 0644, kOther, false,
       "it belongs to user 65534", 0},
      {"file writable by all", Folder::kDir, 0755, kRoot, File::kRegular, 0666, kRoot, false,
       "it is writable by every user", 0},
      {"sticky folder writable by all", Folder::kDir, 01777, kRoot, File::kRegular, 0644, kRoot,
       false, "/lock is writable by every user", 0},
      {"another user's folder", Folder::kDir, 0755, kOther, File::kRegular, 0644, kOwn, false,
       "/lock belongs to user 65534", 0},
      {"symbolic link", Folder::kDir, 0755, kRoot, File::kLink, 0644, kOwn, false,
       "it is a symbolic link", 0},
      {"second name", Folder::kDir, 0755, kRoot, File::kSecondName, 0644, kOwn, false,
       "it has 2 names", 0},
      {"fifo", Folder::kDir, 0755, kRoot, File::kFifo, 0644, kOwn, false,
       "it is not a regular file", 0},
      {"folder is a link", Folder::kLinkToDir, 0755, kOwn, File::kNone, 0, kOwn, true,
       "/lock is not a folder", 0},
      {"folder is a file", Folder::kFile, 0644, kOwn, File::kNone, 0, kOwn, true,
       "/lock is not a folder", 0},
      {"folder missing, made", Folder::kMissing, 0, kOwn, File::kNone, 0, kOwn, true, nullptr,
       0664},
      {"folder missing, not ours to make", Folder::kMissing, 0, kOwn, File::kNone, 0, kOwn, false,
       "No such file or directory", 0},
      {"folder cannot be made", Folder::kMissingParent, 0, kOwn, File::kNone, 0, kOwn, true,
       "is missing and cannot be made", 0},
  };
  const mode_t old_mask = ::umask(077);
  for (const Case& c : kCases) {
    test::ScopedTempDir dir;
    const std::string folder =
        c.folder == Folder::kMissingParent ? dir.File("none/lock") : dir.File("lock");
    const std::string path = folder + "/card.lock";
    ASSERT_EQ(::mkdir(dir.File("elsewhere").c_str(), 0700), 0);
    switch (c.folder) {
      case Folder::kDir:
        ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
        ASSERT_EQ(::chmod(folder.c_str(), c.folder_mode), 0);
        break;
      case Folder::kLinkToDir:
        ASSERT_EQ(::symlink(dir.File("elsewhere").c_str(), folder.c_str()), 0);
        break;
      case Folder::kFile:
        std::ofstream(folder) << "";
        break;
      case Folder::kMissing:
      case Folder::kMissingParent:
        break;
    }
    const std::string other = dir.File("elsewhere/card.lock");
    if (c.file != File::kNone) {
      std::ofstream(c.file == File::kRegular ? path : other) << "hold 3F\n";
      ASSERT_EQ(::chmod(c.file == File::kRegular ? path.c_str() : other.c_str(), c.file_mode), 0);
    }
    int made = 0;
    if (c.file == File::kLink) made = ::symlink(other.c_str(), path.c_str());
    if (c.file == File::kSecondName) made = ::link(other.c_str(), path.c_str());
    if (c.file == File::kFifo) made = ::mkfifo(path.c_str(), c.file_mode);
    ASSERT_EQ(made, 0) << c.what;

    LockTrust trust;
    trust.own_uid = kOwn;
    trust.make_folder = c.make_folder;
    trust.owner_of = [&](const struct stat& st) {
      return S_ISDIR(st.st_mode) ? c.folder_owner : c.file_owner;
    };
    std::string why_not;
    auto lock = CardLockFile::Open(path, trust, &why_not);
    if (c.refused) {
      EXPECT_FALSE(lock) << c.what;
      EXPECT_EQ(why_not.rfind("not using the card's lock " + path + ": ", 0), 0u) << why_not;
      EXPECT_NE(why_not.find(c.refused), std::string::npos) << c.what << ": " << why_not;
      EXPECT_NE(why_not.find("; going on without the card-wide lock"), std::string::npos);
      continue;
    }
    ASSERT_TRUE(lock) << c.what << ": " << why_not;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.made_mode) << c.what;
    if (c.folder == Folder::kMissing) {
      ASSERT_EQ(::stat(folder.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 02775u) << c.what;
    }
    EXPECT_EQ(lock->HeldMode(), c.file == File::kRegular ? 0x3F : -1) << c.what;
    EXPECT_TRUE(lock->TryAcquire()) << c.what;
  }
  ::umask(old_mask);
}

TEST(CardLockFile, LocksOutOthersTellsTheHolderAndSharesTheNote) {
  test::ScopedTempDir dir;
  const std::string path = dir.File("card.lock");
  std::string why_not;
  auto mine = CardLockFile::Open(path, ProcessLockTrust(false), &why_not);
  auto theirs = CardLockFile::Open(path, ProcessLockTrust(false), &why_not);
  ASSERT_TRUE(mine && theirs) << why_not;

  EXPECT_EQ(theirs->Holder(), 0);
  ASSERT_TRUE(mine->TryAcquire());
  EXPECT_FALSE(theirs->TryAcquire()) << "another holder got in";
  EXPECT_EQ(theirs->Holder(), ::getpid());
  mine->Release();
  EXPECT_TRUE(theirs->TryAcquire());
  theirs->Release();
  EXPECT_GE(mine->Pause(20), 20);

  mine->SetHeldMode(0x15);
  EXPECT_EQ(Read(path), "hold 15\n");
  EXPECT_EQ(theirs->HeldMode(), 0x15);
  mine->SetHeldMode(-1);
  EXPECT_EQ(theirs->HeldMode(), -1);
}

}  // namespace
}  // namespace q7t::os
