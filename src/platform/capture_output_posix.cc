// The capture's file, signals and clock on a POSIX system.
#include "platform/capture_output.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

namespace q7t::os {

namespace {

std::string Failed(const std::string& what, int e) {
  return what + ": " + std::strerror(e);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

int OpenAppend(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
}

void SyncFolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return;
  ::fsync(dfd);
  ::close(dfd);
}

volatile std::sig_atomic_t stop_requested = 0;
volatile std::sig_atomic_t status_requested = 0;
int wake_pipe[2] = {-1, -1};

void OnSignal(int sig) {
  const int saved = errno;
  if (sig == SIGUSR1) {
    status_requested = 1;
  } else {
    stop_requested = 1;
  }
  if (wake_pipe[1] >= 0) (void)!::write(wake_pipe[1], "", 1);
  errno = saved;
}

}  // namespace

std::unique_ptr<CaptureFile> CaptureFile::Open(const std::string& path, std::uint64_t rotate_size,
                                               int keep, std::string* err) {
  const int fd = OpenAppend(path);
  if (fd < 0) {
    if (err) *err = Failed(path, errno);
    return nullptr;
  }
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  const std::uint64_t size = regular ? static_cast<std::uint64_t>(st.st_size) : 0;
  return std::unique_ptr<CaptureFile>(
      new CaptureFile(path, fd, size, regular, regular ? rotate_size : 0, std::max(keep, 1)));
}

CaptureFile::CaptureFile(std::string path, int fd, std::uint64_t size, bool regular,
                         std::uint64_t rotate_size, int keep)
    : path_(std::move(path)),
      fd_(fd),
      size_(size),
      regular_(regular),
      rotate_size_(rotate_size),
      keep_(keep) {}

CaptureFile::~CaptureFile() {
  if (fd_ < 0) return;
  Sync(nullptr);
  ::close(fd_);
}

bool CaptureFile::Write(std::string_view bytes, std::string* err) {
  while (!bytes.empty()) {
    if (fd_ < 0 && !Rotate(err)) return false;
    std::size_t part = bytes.size();
    if (rotate_size_ > 0) {
      if (size_ >= rotate_size_ && !Rotate(err)) return false;
      part = static_cast<std::size_t>(std::min<std::uint64_t>(part, rotate_size_ - size_));
    }
    if (!WriteAll(fd_, bytes.substr(0, part))) {
      if (err) *err = Failed(path_, errno);
      return false;
    }
    size_ += part;
    bytes.remove_prefix(part);
  }
  return true;
}

bool CaptureFile::Sync(std::string* err) {
  // Pipes and terminals cannot be synced; that is no failure.
  if (fd_ < 0 || !regular_ || ::fsync(fd_) == 0 || errno == EINVAL) return true;
  if (err) *err = Failed(path_, errno);
  return false;
}

// The full file is synced, then path.N-1 .. path.1 move up one (the oldest
// is replaced), path becomes path.1 and a new path is opened.
bool CaptureFile::Rotate(std::string* err) {
  if (fd_ >= 0) {
    Sync(nullptr);
    ::close(fd_);
    fd_ = -1;
    for (int n = keep_; n > 1; --n) {
      const std::string from = path_ + "." + std::to_string(n - 1);
      if (::rename(from.c_str(), (path_ + "." + std::to_string(n)).c_str()) != 0 &&
          errno != ENOENT) {
        if (err) *err = Failed(from, errno);
      }
    }
    if (::rename(path_.c_str(), (path_ + ".1").c_str()) != 0 && errno != ENOENT) {
      if (err) *err = Failed(path_, errno);
      return false;  // left as it is: the next write retries
    }
  }
  fd_ = OpenAppend(path_);
  if (fd_ < 0) {
    if (err) *err = Failed(path_, errno);
    return false;
  }
  SyncFolderOf(path_);
  struct stat st {};
  size_ = ::fstat(fd_, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
  return true;
}

void InstallCaptureSignals() {
  if (wake_pipe[0] < 0 && ::pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    wake_pipe[0] = wake_pipe[1] = -1;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGTERM, SIGINT, SIGUSR1}) ::sigaction(sig, &sa, nullptr);
}

CaptureWake WaitForSignal(int timeout_ms) {
  if (!stop_requested && !status_requested && timeout_ms > 0) {
    pollfd pfd{wake_pipe[0], POLLIN, 0};
    ::poll(&pfd, wake_pipe[0] >= 0 ? 1 : 0, timeout_ms);
  }
  char drain[64];
  while (wake_pipe[0] >= 0 && ::read(wake_pipe[0], drain, sizeof drain) > 0) {
  }
  CaptureWake wake;
  wake.stop = stop_requested != 0;
  wake.status = status_requested != 0;
  status_requested = 0;
  return wake;
}

std::int64_t MonotonicMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace q7t::os
