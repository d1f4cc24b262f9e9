// The capture's file, signals and clocks on a POSIX system.
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

#include "platform/files.h"

namespace q7t::os {

namespace {

constexpr int kWaitWritableMs = 1000;  // a full pipe: look again for a stop meanwhile

std::string Failed(const std::string& what, int e) {
  return what + ": " + std::strerror(e);
}

// Writes what the descriptor takes, going on after partial writes and
// EINTR, waiting while a non-blocking one is full; the count written (errno
// says why when short).
std::size_t WriteSome(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      pollfd pfd{fd, POLLOUT, 0};
      ::poll(&pfd, 1, kWaitWritableMs);
    } else if (n == 0 || errno != EINTR) {
      if (n == 0) errno = ENOSPC;
      break;
    }
  }
  return done;
}

bool ReaderGone(int fd) {
  pollfd pfd{fd, POLLOUT, 0};
  return ::poll(&pfd, 1, 0) == 1 && (pfd.revents & (POLLERR | POLLHUP)) != 0;
}

// A regular file opened (or created) for appending; never waits on a FIFO
// or opens a device. -1 with errno otherwise (EINVAL: not a regular file).
int OpenRegular(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return -1;
  }
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  ::fcntl(fd, F_SETFL, O_WRONLY | O_APPEND);
  return fd;
}

std::string OpenFailure(const std::string& path) {
  return errno == EINVAL ? path + ": not a regular file" : Failed(path, errno);
}

void SyncFolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return;
  SyncFile(dfd);
  ::close(dfd);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// path.1, path.2 ... as they exist without a gap, at most `keep`.
int CountRotated(const std::string& path, int keep) {
  int n = 0;
  while (n < keep && Exists(path + "." + std::to_string(n + 1))) ++n;
  return n;
}

volatile std::sig_atomic_t stop_requested = 0;
volatile std::sig_atomic_t status_requested = 0;
volatile std::sig_atomic_t reopen_requested = 0;
int wake_pipe[2] = {-1, -1};

void OnSignal(int sig) {
  const int saved = errno;
  if (sig == SIGUSR1) {
    status_requested = 1;
  } else if (sig == SIGHUP) {
    reopen_requested = 1;
  } else {
    stop_requested = 1;
  }
  if (wake_pipe[1] >= 0) (void)!::write(wake_pipe[1], "", 1);
  errno = saved;
}

}  // namespace

std::unique_ptr<CaptureFile> CaptureFile::Open(const std::string& path, std::uint64_t rotate_size,
                                               int keep, std::string* err) {
  keep = std::max(keep, 1);
  std::unique_ptr<CaptureFile> file(new CaptureFile(path, -1, rotate_size, keep));
  if (path == kStdoutName) {
    file->fd_ = STDOUT_FILENO;
    file->rotate_size_ = 0;
    return file;
  }
  const int fd = OpenRegular(path);
  if (fd < 0) {
    if (err) *err = OpenFailure(path);
    return nullptr;
  }
  file->Adopt(fd, nullptr);
  file->rotated_ = rotate_size > 0 ? CountRotated(path, keep) : 0;
  return file;
}

CaptureFile::CaptureFile(std::string path, int fd, std::uint64_t rotate_size, int keep)
    : path_(std::move(path)), fd_(fd), rotate_size_(rotate_size), keep_(keep) {}

CaptureFile::~CaptureFile() {
  if (fd_ < 0 || is_stdout()) return;
  Sync(nullptr);
  ::close(fd_);
}

bool CaptureFile::Adopt(int fd, std::string* err) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    if (err) *err = Failed(path_, errno);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  position_ = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
               static_cast<std::uint64_t>(st.st_size)};
  return true;
}

std::size_t CaptureFile::Write(std::string_view bytes, std::string* err) {
  // A pipe whose reader has gone is seen at once, not only at the next byte.
  if (is_stdout() && !broken_ && ReaderGone(fd_)) {
    broken_ = true;
    if (err) *err = Failed("standard output", EPIPE);
  }
  std::size_t done = 0;
  while (done < bytes.size() && !broken_) {
    if (fd_ < 0 && !Rotate(err)) break;
    std::size_t part = bytes.size() - done;
    if (rotate_size_ > 0) {
      if (position_.size >= rotate_size_ && !Rotate(err)) break;
      part = static_cast<std::size_t>(std::min<std::uint64_t>(part, rotate_size_ - position_.size));
    }
    const std::size_t n = WriteSome(fd_, bytes.substr(done, part));
    done += n;
    position_.size += n;
    if (n < part) {
      if (err) *err = Failed(is_stdout() ? "standard output" : path_, errno);
      broken_ = is_stdout();
      break;
    }
  }
  return done;
}

bool CaptureFile::Sync(std::string* err) {
  // Pipes and terminals cannot be synced; that is no failure.
  if (fd_ < 0 || is_stdout() || SyncFile(fd_) == 0 || errno == EINVAL) return true;
  if (err) *err = Failed(path_, errno);
  return false;
}

bool CaptureFile::Reopen(std::string* err) {
  if (is_stdout()) return true;
  const int fd = OpenRegular(path_);
  if (fd < 0) {
    if (err) *err = OpenFailure(path_);
    return false;
  }
  if (fd_ >= 0) {
    Sync(nullptr);
    ::close(fd_);
    fd_ = -1;
  }
  if (!Adopt(fd, err)) return false;
  SyncFolderOf(path_);
  if (rotate_size_ > 0) rotated_ = CountRotated(path_, keep_);
  return true;
}

// The full file is synced, then the rotated files that exist move up one
// (path.keep, the oldest, is replaced), path becomes path.1 and a new path
// is opened. Only files that exist are renamed, so the cost does not grow
// with `keep` beyond them.
bool CaptureFile::Rotate(std::string* err) {
  if (fd_ >= 0) {
    Sync(nullptr);
    ::close(fd_);
    fd_ = -1;
    for (int n = std::min(rotated_, keep_ - 1); n >= 1; --n) {
      const std::string from = path_ + "." + std::to_string(n);
      if (::rename(from.c_str(), (path_ + "." + std::to_string(n + 1)).c_str()) != 0 &&
          errno != ENOENT) {
        if (err) *err = Failed(from, errno);
      }
    }
    if (::rename(path_.c_str(), (path_ + ".1").c_str()) != 0 && errno != ENOENT) {
      if (err) *err = Failed(path_, errno);
      return false;  // left as it is: the next write retries
    }
    rotated_ = std::min(rotated_ + 1, keep_);
  }
  const int fd = OpenRegular(path_);
  if (fd < 0) {
    if (err) *err = OpenFailure(path_);
    return false;
  }
  SyncFolderOf(path_);
  return Adopt(fd, err);
}

void InstallCaptureSignals() {
  if (wake_pipe[0] < 0 && ::pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    wake_pipe[0] = wake_pipe[1] = -1;
  }
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGTERM, SIGINT, SIGUSR1, SIGHUP}) ::sigaction(sig, &sa, nullptr);
  // A reader gone or a size limit met is a failed write, said and handled.
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
}

bool StopRequested() {
  return stop_requested != 0;
}

CaptureWake WaitForSignal(int timeout_ms) {
  if (!stop_requested && !status_requested && !reopen_requested && timeout_ms > 0) {
    pollfd pfd{wake_pipe[0], POLLIN, 0};
    ::poll(&pfd, wake_pipe[0] >= 0 ? 1 : 0, timeout_ms);
  }
  char drain[64];
  while (wake_pipe[0] >= 0 && ::read(wake_pipe[0], drain, sizeof drain) > 0) {
  }
  CaptureWake wake;
  wake.stop = stop_requested != 0;
  wake.status = status_requested != 0;
  wake.reopen = reopen_requested != 0;
  status_requested = 0;
  reopen_requested = 0;
  return wake;
}

std::int64_t MonotonicMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

std::int64_t WallMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  return std::int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace q7t::os
