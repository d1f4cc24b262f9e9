// The card-wide lock as a file that every process on the machine can find:
// an advisory lock (flock) on kCardLockPath. The file's content is the hold
// note: "hold XX\n" while a holder has set the card's hold bit (XX the mode
// value to restore, in hexadecimal), empty otherwise.
#pragma once

#include <memory>
#include <string>

#include "card/card_lock.h"

namespace q7t::os {

inline constexpr const char* kCardLockPath = "/run/lock/q7tlog.lock";

class CardLockFile : public CardLockStore {
 public:
  // Opens or creates `path` (mode 0644, never through a symbolic link, only
  // a regular file). Without write permission the lock still works but no
  // note is kept. nullptr and the reason in `*err` when it cannot be opened.
  static std::unique_ptr<CardLockFile> Open(const std::string& path, std::string* err);
  ~CardLockFile() override;
  CardLockFile(const CardLockFile&) = delete;
  CardLockFile& operator=(const CardLockFile&) = delete;

  void Acquire() override;
  void Release() override;
  int HeldMode() override;
  void SetHeldMode(int mode) override;

 private:
  CardLockFile(int fd, bool writable) : fd_(fd), writable_(writable) {}
  int fd_;
  bool writable_;
};

}  // namespace q7t::os
