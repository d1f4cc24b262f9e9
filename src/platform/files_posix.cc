// Files on a POSIX system: the program's folder, the log replaced whole, and
// regular files found by name without regard to letter case.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <strings.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>

namespace q7t::os {

namespace {

std::string Reason(int err) {
  return std::strerror(err);
}

// Writes all of `bytes`, going on after partial writes and EINTR.
bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Seeded from the clock and the process, not from the kernel's random
// source, which kernels before 3.17 lack.
std::string TempNameFor(const std::string& name) {
  static std::mt19937_64 rng{
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count() ^
                                 (static_cast<std::uint64_t>(::getpid()) << 20))};
  return "." + name + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(rng() % 1000000);
}

SyncCall g_sync = ::fsync;

}  // namespace

SyncCall SetSyncCall(SyncCall call) {
  SyncCall before = g_sync;
  g_sync = call != nullptr ? call : ::fsync;
  return before;
}

int SyncFile(int fd) {
  return g_sync(fd);
}

std::string ProgramDir() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "/";
  std::string path(buf, static_cast<std::size_t>(n));
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

bool ChangeDir(const std::string& dir) {
  return ::chdir(dir.c_str()) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

PathKind KindOf(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return PathKind::kMissing;
  if (S_ISREG(st.st_mode)) return PathKind::kRegular;
  return S_ISDIR(st.st_mode) ? PathKind::kDirectory : PathKind::kOther;
}

std::string AbsolutePath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return {};
  std::string result = resolved;
  std::free(resolved);
  return result;
}

bool WriteStdout(std::string_view bytes, std::string* err) {
  if (WriteAll(STDOUT_FILENO, bytes)) return true;
  if (err) *err = Reason(errno);
  return false;
}

bool ReplaceFile(const std::string& dir, const std::string& name, std::string_view bytes, bool sync,
                 std::string* err) {
  std::string folder = dir.empty() ? "." : dir;
  std::string target = folder + "/" + name;
  std::string temp;
  auto fail = [&](int e) {
    if (err) *err = target + ": " + Reason(e);
    return false;
  };
  // O_EXCL|O_NOFOLLOW: the temporary name is ours alone and never a planted link.
  // A name that happens to be taken already gets another try.
  int fd = -1;
  for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
    temp = folder + "/" + TempNameFor(name);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return fail(errno);
  bool ok = WriteAll(fd, bytes);
  int e = errno;
  if (ok && sync && g_sync(fd) != 0) {
    ok = false;
    e = errno;
  }
  if (::close(fd) != 0 && ok) {
    ok = false;
    e = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    return fail(e);
  }
  // rename() replaces a link at the target itself, never what it points to.
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    e = errno;
    ::unlink(temp.c_str());
    return fail(e);
  }
  if (sync) {
    int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
      g_sync(dfd);
      ::close(dfd);
    }
  }
  return true;
}

std::optional<std::string> FindRegularFileNoCase(const std::string& dir, const std::string& name) {
  std::string folder = dir.empty() ? "." : dir;
  auto is_regular = [&](const std::string& entry) {
    struct stat st;
    return ::stat((folder + "/" + entry).c_str(), &st) == 0 && S_ISREG(st.st_mode);
  };
  if (is_regular(name)) return name;  // the exact name wins
  DIR* d = ::opendir(folder.c_str());
  if (!d) return std::nullopt;
  std::optional<std::string> found;
  while (dirent* ent = ::readdir(d)) {
    if (::strcasecmp(ent->d_name, name.c_str()) == 0 && is_regular(ent->d_name)) {
      found = ent->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

std::optional<ReadFile> ReadFile::Open(const std::string& path) {
  // O_NONBLOCK: a FIFO put in the file's place must not hang the open.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return ReadFile(fd);
}

ReadFile& ReadFile::operator=(ReadFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

ReadFile::~ReadFile() {
  if (fd_ >= 0) ::close(fd_);
}

long ReadFile::Read(char* buf, std::size_t n) {
  for (;;) {
    ssize_t got = ::read(fd_, buf, n);
    if (got < 0 && errno == EINTR) continue;
    return static_cast<long>(got);
  }
}

}  // namespace q7t::os
