// The card-wide lock as a file that every process on the machine can find:
// an advisory lock (flock) on kCardLockPath, in a folder that only root and
// the group q7t may write. The file's content is the hold note: "hold XX\n"
// while a holder has set the card's hold bit (XX the mode value to restore,
// in hexadecimal), empty otherwise. The program runs with the power to
// reach the card's ports, so a lock that another user could have made or
// could write is not used: it would let them block the card or choose what
// it is sent.
#pragma once

#include <sys/stat.h>

#include <functional>
#include <memory>
#include <string>

#include "card/card_lock.h"

namespace q7t::os {

inline constexpr const char* kCardLockFolder = "/run/q7tlog";
inline constexpr const char* kCardLockPath = "/run/q7tlog/card.lock";
// The group whose members share the card (and may write the lock's folder).
inline constexpr const char* kCardGroup = "q7t";

// Whom the lock's folder and file may belong to (root and the program's own
// user), and whether a missing folder is made. Tests say who owns what.
struct LockTrust {
  unsigned root_uid = 0;
  unsigned own_uid = 0;
  // The owner of what a stat found (by default its st_uid).
  std::function<unsigned(const struct stat&)> owner_of;
  // Make the folder when it is missing: mode 2775, root's, group kCardGroup
  // (as the package's tmpfiles.d entry makes it at boot).
  bool make_folder = false;
  std::string group_file = "/etc/group";
};
// Root and this process's effective user.
LockTrust ProcessLockTrust(bool make_folder);

class CardLockFile : public CardLockStore {
 public:
  // Opens or creates `path` (never through a symbolic link) after checking
  // its folder and the file: a folder, and a regular file with one name,
  // each belonging to root or to the own user and not writable by every
  // user. Without write permission the lock still works but no note is kept.
  // nullptr, and in `*why_not` a line saying why the lock is not used, when
  // the checks fail or the file cannot be had.
  static std::unique_ptr<CardLockFile> Open(const std::string& path, const LockTrust& trust,
                                            std::string* why_not);
  ~CardLockFile() override;
  CardLockFile(const CardLockFile&) = delete;
  CardLockFile& operator=(const CardLockFile&) = delete;

  bool TryAcquire() override;
  void Acquire() override;
  void Release() override;
  long Holder() override;
  std::int64_t Pause(int ms) override;
  int HeldMode() override;
  void SetHeldMode(int mode) override;

 private:
  CardLockFile(int fd, bool writable) : fd_(fd), writable_(writable) {}
  int fd_;
  bool writable_;
};

}  // namespace q7t::os
