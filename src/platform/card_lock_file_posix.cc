// The card-wide lock file: its folder and the file checked before use, the
// folder made when missing, flock, the holder from /proc/locks, and the hold
// note read and written in place.
#include "platform/card_lock_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace q7t::os {

namespace {

constexpr int kBaseFlags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
constexpr mode_t kFolderMode = 02775;

std::string Errno(int error) {
  return std::strerror(error);
}

// The group's id from a group file ("name:x:gid:members"); root's group
// when the group is not there.
gid_t GroupId(const std::string& group_file, const char* name) {
  std::ifstream in(group_file);
  const std::string prefix = std::string(name) + ":";
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) != 0) continue;
    const std::size_t gid_at = line.find(':', prefix.size());
    if (gid_at == std::string::npos) break;
    return static_cast<gid_t>(std::strtoul(line.c_str() + gid_at + 1, nullptr, 10));
  }
  return 0;
}

// Made as the package's tmpfiles.d entry makes it; kept only if it is a
// folder of its own afterwards (the checks below say so otherwise).
bool MakeFolder(const std::string& folder, const LockTrust& trust, std::string* why_not) {
  if (::mkdir(folder.c_str(), 0700) != 0) {
    if (errno == EEXIST) return true;  // another process was first
    *why_not = "the folder " + folder + " is missing and cannot be made (" + Errno(errno) + ")";
    return false;
  }
  // Not root: the folder stays the own user's, which the checks accept.
  (void)!::chown(folder.c_str(), trust.root_uid, GroupId(trust.group_file, kCardGroup));
  ::chmod(folder.c_str(), kFolderMode);
  return true;
}

std::string OwnerProblem(const struct stat& st, const LockTrust& trust) {
  const unsigned owner = trust.owner_of ? trust.owner_of(st) : st.st_uid;
  if (owner == trust.root_uid || owner == trust.own_uid) return {};
  return "belongs to user " + std::to_string(owner);
}

// Why a folder may not hold the lock; empty when it may. A folder that every
// user may write lets anyone put a file of their own in the lock's place,
// sticky bit or not.
std::string FolderProblem(const struct stat& st, const LockTrust& trust) {
  if (!S_ISDIR(st.st_mode)) return "is not a folder";
  if (st.st_mode & S_IWOTH) return "is writable by every user";
  return OwnerProblem(st, trust);
}

std::string FileProblem(const struct stat& st, const LockTrust& trust) {
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  if (st.st_nlink != 1) return "has " + std::to_string(st.st_nlink) + " names (hard links)";
  if (st.st_mode & S_IWOTH) return "is writable by every user";
  return OwnerProblem(st, trust);
}

// The file in the folder `dir_fd`: created (writable by the folder's group
// when the folder is shared, as /run/q7tlog is), or opened as it is; read
// only where it may not be written. O_EXCL first: opening an existing file
// with O_CREAT in a sticky folder is refused when another user owns it.
int OpenInFolder(int dir_fd, const std::string& name, mode_t folder_mode, bool* writable) {
  *writable = true;
  const mode_t mode = (folder_mode & S_ISGID) ? 0664 : 0644;
  int fd = ::openat(dir_fd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | kBaseFlags, mode);
  if (fd >= 0) {
    ::fchmod(fd, mode);  // whatever the umask took away
    return fd;
  }
  if (errno != EEXIST) return -1;
  fd = ::openat(dir_fd, name.c_str(), O_RDWR | kBaseFlags);
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    *writable = false;
    fd = ::openat(dir_fd, name.c_str(), O_RDONLY | kBaseFlags);
  }
  return fd;
}

// The folder and the name of `path` ("." for a bare name).
std::pair<std::string, std::string> SplitPath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

// The first flock listed on the file that is held (not waited for).
long FlockHolder(const std::string& proc_locks, unsigned major, unsigned minor,
                 unsigned long inode) {
  char want[64];
  std::snprintf(want, sizeof want, "%02x:%02x:%lu", major, minor, inode);
  std::istringstream in(proc_locks);
  for (std::string line; std::getline(in, line);) {
    // "1: FLOCK  ADVISORY  WRITE 1234 00:1a:5678 0 EOF"; a waiter has "->".
    std::istringstream fields(line);
    std::string number, kind, advisory, access, pid, file;
    fields >> number >> kind >> advisory >> access >> pid >> file;
    if (kind == "FLOCK" && file == want) return std::strtol(pid.c_str(), nullptr, 10);
  }
  return 0;
}

}  // namespace

LockTrust ProcessLockTrust(bool make_folder) {
  LockTrust trust;
  trust.own_uid = ::geteuid();
  trust.make_folder = make_folder;
  return trust;
}

std::unique_ptr<CardLockFile> CardLockFile::Open(const std::string& path, const LockTrust& trust,
                                                 std::string* why_not) {
  const auto [folder, name] = SplitPath(path);
  std::string problem;
  auto refuse = [&](const std::string& why) {
    *why_not =
        "not using the card's lock " + path + ": " + why + "; going on without the card-wide lock";
    return nullptr;
  };
  if (name.empty()) return refuse("not a file name");
  int dir_fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir_fd < 0 && errno == ENOENT && trust.make_folder) {
    if (!MakeFolder(folder, trust, &problem)) return refuse(problem);
    dir_fd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }
  if (dir_fd < 0) {
    return refuse("the folder " + folder +
                  (errno == ENOTDIR || errno == ELOOP ? " is not a folder" : ": " + Errno(errno)));
  }
  struct stat st {};
  if (::fstat(dir_fd, &st) != 0) problem = Errno(errno);
  if (problem.empty()) problem = FolderProblem(st, trust);
  if (!problem.empty()) {
    ::close(dir_fd);
    return refuse("its folder " + folder + " " + problem);
  }
  const mode_t folder_mode = st.st_mode;

  bool writable = false;
  const int fd = OpenInFolder(dir_fd, name, folder_mode, &writable);
  const int open_error = errno;
  ::close(dir_fd);
  if (fd < 0) return refuse(open_error == ELOOP ? "it is a symbolic link" : Errno(open_error));
  if (::fstat(fd, &st) != 0) problem = Errno(errno);
  if (problem.empty()) problem = FileProblem(st, trust);
  if (!problem.empty()) {
    ::close(fd);
    return refuse("it " + problem);
  }
  return std::unique_ptr<CardLockFile>(new CardLockFile(fd, writable));
}

CardLockFile::~CardLockFile() {
  ::close(fd_);
}

bool CardLockFile::TryAcquire() {
  int result;
  while ((result = ::flock(fd_, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  return result == 0;
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

// The kernel's own list of locks names the holder: nothing a holder writes
// can be stale or made up, and a holder that died is no longer listed.
long CardLockFile::Holder() {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return 0;
  std::ifstream in("/proc/locks");
  std::ostringstream text;
  text << in.rdbuf();
  return FlockHolder(text.str(), major(st.st_dev), minor(st.st_dev), st.st_ino);
}

std::int64_t CardLockFile::Pause(int ms) {
  auto now_ms = [] {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t{t.tv_sec} * 1000 + t.tv_nsec / 1000000;
  };
  const std::int64_t start = now_ms();
  timespec delay{ms / 1000, (ms % 1000) * 1000000L};
  while (::nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
  return now_ms() - start;
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
