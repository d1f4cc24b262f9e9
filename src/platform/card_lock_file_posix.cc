// The card-wide lock file: flock, and the hold note read and written in place.
#include "platform/card_lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace q7t::os {

namespace {

constexpr int kBaseFlags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;

// O_EXCL first: opening an existing file with O_CREAT in a sticky folder such
// as /run/lock is refused when another user owns it (protected_regular).
int OpenLockFile(const std::string& path, bool* writable) {
  *writable = true;
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | kBaseFlags, 0644);
  if (fd >= 0) {
    ::fchmod(fd, 0644);  // whatever the umask took away
    return fd;
  }
  if (errno != EEXIST) return -1;
  fd = ::open(path.c_str(), O_RDWR | kBaseFlags);
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    *writable = false;
    fd = ::open(path.c_str(), O_RDONLY | kBaseFlags);
  }
  return fd;
}

}  // namespace

std::unique_ptr<CardLockFile> CardLockFile::Open(const std::string& path, std::string* err) {
  bool writable = false;
  const int fd = OpenLockFile(path, &writable);
  if (fd < 0) {
    if (err) *err = path + ": " + std::strerror(errno);
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    if (err) *err = path + ": not a regular file";
    return nullptr;
  }
  return std::unique_ptr<CardLockFile>(new CardLockFile(fd, writable));
}

CardLockFile::~CardLockFile() {
  ::close(fd_);
}

void CardLockFile::Acquire() {
  // Waits however long another process holds the card; a signal only
  // interrupts the wait, it never skips the sequence.
  while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
  }
}

void CardLockFile::Release() {
  ::flock(fd_, LOCK_UN);
}

int CardLockFile::HeldMode() {
  char buf[16] = {};
  const ssize_t n = ::pread(fd_, buf, sizeof buf - 1, 0);
  unsigned mode = 0;
  if (n >= 7 && std::sscanf(buf, "hold %2x", &mode) == 1) return static_cast<int>(mode & 0xFF);
  return -1;
}

void CardLockFile::SetHeldMode(int mode) {
  if (!writable_) return;
  if (mode < 0) {
    (void)!::ftruncate(fd_, 0);
    return;
  }
  char buf[16];
  const int n = std::snprintf(buf, sizeof buf, "hold %02X\n", mode & 0xFF);
  (void)!::pwrite(fd_, buf, static_cast<std::size_t>(n), 0);
}

}  // namespace q7t::os
