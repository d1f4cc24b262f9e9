// The card-wide lock file: which folders and files are trusted with it (who
// owns them told through the seam, so the table means the same run as root),
// the folder made where it is missing, the flock, its holder and the note.
#include "platform/card_lock_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/pty_harness.h"

namespace q7t::os {
namespace {

constexpr unsigned kRoot = 0, kOwn = 4242, kOther = 65534;
// The folder: made with a mode, a link to one, a file, missing (and made,
// not ours to make, or under a missing folder).
enum class Folder { kDir, kLink, kFile, kMissing, kNotMade, kNoParent };
// The file: none yet, planted holding "hold 3F", or a link, a second name
// or a fifo in its place.
enum class File { kNone, kPlanted, kLink, kSecondName, kFifo };

TEST(CardLockFile, TrustedFoldersAndFilesOnly) {
  struct Case {
    Folder folder;
    mode_t folder_mode;
    unsigned folder_owner;
    File file;
    mode_t file_mode;
    unsigned file_owner;
    const char* refused;  // in the line said; nullptr: used, and the file has this mode:
    mode_t used_mode = 0;
  } kCases[] = {
      {Folder::kDir, 0700, kOwn, File::kNone, 0, kOwn, nullptr, 0644},
      {Folder::kDir, 02775, kRoot, File::kNone, 0, kOwn, nullptr, 0664},
      {Folder::kDir, 02775, kRoot, File::kPlanted, 0664, kRoot, nullptr, 0664},
      {Folder::kDir, 0755, kRoot, File::kPlanted, 0644, kOwn, nullptr, 0644},
      {Folder::kMissing, 0, kOwn, File::kNone, 0, kOwn, nullptr, 0664},
      {Folder::kDir, 02775, kRoot, File::kPlanted, 0644, kOther, "it belongs to user 65534"},
      {Folder::kDir, 0755, kRoot, File::kPlanted, 0666, kRoot, "it is writable by every user"},
      {Folder::kDir, 01777, kRoot, File::kPlanted, 0644, kRoot, "lock is writable by every user"},
      {Folder::kDir, 0755, kOther, File::kPlanted, 0644, kOwn, "lock belongs to user 65534"},
      {Folder::kDir, 0755, kRoot, File::kLink, 0644, kOwn, "it is a symbolic link"},
      {Folder::kDir, 0755, kRoot, File::kSecondName, 0644, kOwn, "it has 2 names"},
      {Folder::kDir, 0755, kRoot, File::kFifo, 0644, kOwn, "it is not a regular file"},
      {Folder::kLink, 0, kOwn, File::kNone, 0, kOwn, "lock is not a folder"},
      {Folder::kFile, 0, kOwn, File::kNone, 0, kOwn, "lock is not a folder"},
      {Folder::kNotMade, 0, kOwn, File::kNone, 0, kOwn, "lock: No such file or directory"},
      {Folder::kNoParent, 0, kOwn, File::kNone, 0, kOwn, "is missing and cannot be made"},
  };
  const mode_t old_mask = ::umask(077);
  for (const Case& c : kCases) {
    SCOPED_TRACE(&c - kCases);
    test::ScopedTempDir dir;
    const std::string folder = dir.File(c.folder == Folder::kNoParent ? "none/lock" : "lock");
    const std::string path = folder + "/card.lock", elsewhere = dir.File("card.lock");
    int failed = 0;
    if (c.folder == Folder::kDir)
      failed |= ::mkdir(folder.c_str(), 0) | ::chmod(folder.c_str(), c.folder_mode);
    if (c.folder == Folder::kLink) failed |= ::symlink(dir.path().c_str(), folder.c_str());
    if (c.folder == Folder::kFile) std::ofstream{folder};
    const std::string planted = c.file == File::kPlanted ? path : elsewhere;
    std::ofstream(planted) << "hold 3F\n";
    failed |= ::chmod(planted.c_str(), c.file_mode);
    if (c.file == File::kLink) failed |= ::symlink(elsewhere.c_str(), path.c_str());
    if (c.file == File::kSecondName) failed |= ::link(elsewhere.c_str(), path.c_str());
    if (c.file == File::kFifo) failed |= ::mkfifo(path.c_str(), c.file_mode);
    ASSERT_EQ(failed, 0);

    LockTrust trust;
    trust.own_uid = kOwn;
    trust.make_folder = c.folder != Folder::kNotMade;
    trust.owner_of = [&](const struct stat& st) {
      return S_ISDIR(st.st_mode) ? c.folder_owner : c.file_owner;
    };
    std::string why_not;
    auto lock = CardLockFile::Open(path, trust, &why_not);
    if (c.refused) {
      EXPECT_FALSE(lock);
      EXPECT_NE(why_not.find(c.refused), std::string::npos) << why_not;
      continue;
    }
    ASSERT_TRUE(lock) << why_not;
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0, c.used_mode);
    if (c.folder == Folder::kMissing) {
      EXPECT_EQ(::stat(folder.c_str(), &st) == 0 ? st.st_mode & 07777 : 0, 02775u);
    }
    EXPECT_EQ(lock->HeldMode(), c.file == File::kPlanted ? 0x3F : -1);
    EXPECT_TRUE(lock->TryAcquire());
  }
  ::umask(old_mask);
}

TEST(CardLockFile, LocksOutOthersTellsTheHolderAndSharesTheNote) {
  test::ScopedTempDir dir;
  std::string why_not;
  auto mine = CardLockFile::Open(dir.File("card.lock"), ProcessLockTrust(false), &why_not);
  auto theirs = CardLockFile::Open(dir.File("card.lock"), ProcessLockTrust(false), &why_not);
  ASSERT_TRUE(mine && theirs) << why_not;
  ASSERT_TRUE(mine->TryAcquire());
  EXPECT_FALSE(theirs->TryAcquire()) << "another holder got in";
  EXPECT_EQ(theirs->Holder(), ::getpid());
  mine->Release();
  EXPECT_TRUE(theirs->TryAcquire());
  mine->SetHeldMode(0x15);
  EXPECT_EQ(theirs->HeldMode(), 0x15);
  mine->SetHeldMode(-1);
  EXPECT_EQ(theirs->HeldMode(), -1);
}

}  // namespace
}  // namespace q7t::os
