#include "support/pty_harness.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace q7t::test {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSendTimeoutMs = 5000;
constexpr int kTermGraceMs = 1000;
// Without a pidfd the end of a child is noticed by looking again this often.
constexpr int kReapPollMs = 10;
constexpr uid_t kNobody = 65534;
constexpr const char* kChildPath = "/usr/local/bin:/usr/bin:/bin";

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::max<decltype(left)>(left, 0));
}

Clock::time_point DeadlineIn(int timeout_ms) {
  return Clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
}

// A program name without a slash is looked up in the child's PATH, here in
// the parent, so that the child only has to call execve.
std::string ResolveProgram(const std::string& program, const std::string& path_list) {
  if (program.find('/') != std::string::npos) return program;
  std::size_t start = 0;
  while (start <= path_list.size()) {
    std::size_t end = path_list.find(':', start);
    if (end == std::string::npos) end = path_list.size();
    std::string dir = path_list.substr(start, end - start);
    std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return program;
}

std::vector<std::pair<std::string, std::string>> ChildEnvironment(
    const PtyProgram::Options& options) {
  const char* home = std::getenv("HOME");
  std::string child_home = home != nullptr ? home : "/";
  if (options.drop_privileges) child_home = options.cwd.empty() ? "/" : options.cwd;
  std::vector<std::pair<std::string, std::string>> env = {{"TERM", options.term},
                                                          {"LANG", "C.UTF-8"},
                                                          {"PATH", kChildPath},
                                                          {"HOME", child_home},
                                                          {"Q7TLOG_LOCK", PrivateCardLock()}};
  for (const auto& [name, value] : options.env) {
    auto same = [&](const auto& entry) { return entry.first == name; };
    auto it = std::find_if(env.begin(), env.end(), same);
    if (it != env.end()) {
      it->second = value;
    } else {
      env.emplace_back(name, value);
    }
  }
  return env;
}

std::vector<char*> CStrings(std::vector<std::string>& texts) {
  std::vector<char*> out;
  for (auto& text : texts) out.push_back(text.data());
  out.push_back(nullptr);
  return out;
}

// Only async-signal-safe calls from here on: the child of fork.
[[noreturn]] void ChildFail(const char* what, const char* path) {
  auto put = [](const char* s) { (void)!write(STDERR_FILENO, s, std::strlen(s)); };
  put("pty_harness: ");
  put(what);
  put(" ");
  put(path);
  put("\r\n");
  _exit(127);
}

[[noreturn]] void RunChild(const char* path, char* const* argv, char* const* envp, const char* cwd,
                           bool drop_privileges) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
  close_range(STDERR_FILENO + 1, ~0U, 0);
  if (cwd[0] != '\0' && chdir(cwd) != 0) ChildFail("cannot enter", cwd);
  if (drop_privileges && geteuid() == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) {
      ChildFail("cannot drop privileges for", path);
    }
  }
  execve(path, argv, envp);
  ChildFail("cannot run", path);
}

// Made before anything runs, so that even a program started with the test
// process's own environment (fork and exec) finds it.
class PrivateLock {
 public:
  PrivateLock() {
    const char* base = std::getenv("TMPDIR");
    std::string folder =
        std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/q7t-lock-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr || chmod(folder.c_str(), 0755) != 0) return;
    folder_ = folder;
    path_ = folder + "/card.lock";
    const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) close(fd);
    fchmodat(AT_FDCWD, path_.c_str(), 0644, 0);
    setenv("Q7TLOG_LOCK", path_.c_str(), 1);
  }
  // Only by the process that made it: a forked child that exits normally
  // leaves it to the test.
  ~PrivateLock() {
    if (getpid() != owner_ || folder_.empty()) return;
    unlink(path_.c_str());
    rmdir(folder_.c_str());
  }
  PrivateLock(const PrivateLock&) = delete;
  PrivateLock& operator=(const PrivateLock&) = delete;
  const std::string& path() const { return path_; }

 private:
  pid_t owner_ = getpid();
  std::string folder_, path_ = "/nonexistent/q7t-test-card.lock";
};

[[maybe_unused]] const bool kPrivateLockMade = !PrivateCardLock().empty();

}  // namespace

const std::string& PrivateCardLock() {
  static const PrivateLock lock;
  return lock.path();
}

ScopedTempDir::ScopedTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/q7t-e2e-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp " << pattern << ": " << std::strerror(errno);
    return;
  }
  path_ = pattern;
}

ScopedTempDir::~ScopedTempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScopedTempDir::File(std::string_view name) const {
  return path_ + "/" + std::string(name);
}

bool ScopedTempDir::OpenToAll() const {
  return chmod(path_.c_str(), 0777) == 0;
}

std::string BinPath(std::string_view name) {
  return std::string(Q7T_BIN_DIR) + "/" + std::string(name);
}

std::string CopyProgram(std::string_view name, const ScopedTempDir& dir) {
  namespace fs = std::filesystem;
  std::string from = BinPath(name);
  std::string to = dir.File(name);
  std::error_code error;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, error);
  if (!error) {
    fs::permissions(to,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    error);
  }
  if (error) {
    ADD_FAILURE() << "copy " << from << " to " << to << ": " << error.message();
    return {};
  }
  return to;
}

PtyProgram::PtyProgram(Options options) : screen_(options.rows, options.cols) {
  Start(options);
}

void PtyProgram::Start(const Options& options) {
  linux_console_colours_ = options.linux_console_colours;
  auto env = ChildEnvironment(options);
  std::string path_list = kChildPath;
  for (const auto& [name, value] : env) {
    if (name == "PATH") path_list = value;
  }
  std::string path = ResolveProgram(options.program, path_list);
  std::vector<std::string> argv_texts = {options.program};
  argv_texts.insert(argv_texts.end(), options.args.begin(), options.args.end());
  std::vector<std::string> env_texts;
  for (const auto& [name, value] : env) env_texts.push_back(name + "=" + value);
  std::vector<char*> argv = CStrings(argv_texts);
  std::vector<char*> envp = CStrings(env_texts);

  winsize size{};
  size.ws_row = static_cast<unsigned short>(options.rows);
  size.ws_col = static_cast<unsigned short>(options.cols);
  pid_ = forkpty(&master_, nullptr, nullptr, &size);
  if (pid_ < 0) {
    ADD_FAILURE() << "forkpty: " << std::strerror(errno);
    master_ = -1;
    hung_up_ = reaped_ = true;
    return;
  }
  if (pid_ == 0) {
    RunChild(path.c_str(), argv.data(), envp.data(), options.cwd.c_str(), options.drop_privileges);
  }
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  // A descriptor that polls readable once the child ends (through syscall:
  // the glibc header lacks C linkage for C++).
  pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  if (pidfd_ >= 0) fcntl(pidfd_, F_SETFD, FD_CLOEXEC);
}

PtyProgram::~PtyProgram() {
  if (pid_ > 0 && !reaped_) {
    Kill(SIGTERM);
    WaitEnd(kTermGraceMs, /*reap=*/false);
    // The program is at most a zombie now, which keeps its group id taken:
    // this sweeps whatever else is left in the group without risk of hitting
    // a stranger.
    Kill(SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  } else if (pid_ > 0 && !hung_up_) {
    // The program has ended but something it started still holds the terminal.
    kill(-pid_, SIGKILL);
  }
  if (master_ >= 0) close(master_);
  if (pidfd_ >= 0) close(pidfd_);
}

void PtyProgram::Kill(int sig) {
  kill(-pid_, sig);
  kill(pid_, sig);  // in case it has left its process group
}

bool PtyProgram::Send(std::string_view bytes) {
  if (master_ < 0 || hung_up_) return false;
  pending_input_.append(bytes);
  FlushInput();
  auto deadline = DeadlineIn(kSendTimeoutMs);
  while (!pending_input_.empty() && !hung_up_) {
    int left = RemainingMs(deadline);
    if (left == 0) break;
    Step(left, /*watch_exit=*/false);
  }
  return pending_input_.empty();
}

bool PtyProgram::WaitFor(const std::function<bool(const VtermScreen&)>& pred, int timeout_ms) {
  auto deadline = DeadlineIn(timeout_ms);
  for (;;) {
    if (pred(screen_)) return true;
    int left = RemainingMs(deadline);
    if (left == 0 || master_ < 0 || hung_up_) return false;
    Step(left, /*watch_exit=*/false);
  }
}

bool PtyProgram::WaitForText(int row, std::string_view text, int timeout_ms) {
  return WaitFor(
      [&](const VtermScreen& s) {
        int first = row > 0 ? row : 1;
        int last = row > 0 ? std::min(row, s.Rows()) : s.Rows();
        for (int r = first; r <= last; ++r) {
          if (s.RowText(r).find(text) != std::string::npos) return true;
        }
        return false;
      },
      timeout_ms);
}

void PtyProgram::Pump(int timeout_ms) {
  auto deadline = DeadlineIn(timeout_ms);
  while (master_ >= 0 && !hung_up_) {
    int left = RemainingMs(deadline);
    if (left == 0) break;
    Step(left, /*watch_exit=*/false);
  }
}

bool PtyProgram::WaitForExit(int timeout_ms, int* status) {
  bool ended = WaitEnd(timeout_ms, /*reap=*/true);
  if (ended && status != nullptr) *status = status_;
  return ended;
}

bool PtyProgram::WaitEnd(int timeout_ms, bool reap) {
  auto deadline = DeadlineIn(timeout_ms);
  for (;;) {
    if (reap ? TryReap() : HasEnded()) {
      ReadOutput();  // what it wrote just before the end
      return true;
    }
    int left = RemainingMs(deadline);
    if (left == 0) return false;
    Step(left, /*watch_exit=*/true);
  }
}

bool PtyProgram::TryReap() {
  if (reaped_) return true;
  int status = 0;
  pid_t got = waitpid(pid_, &status, WNOHANG);
  if (got == pid_) {
    reaped_ = true;
    status_ = status;
  } else if (got < 0 && errno == ECHILD) {
    reaped_ = true;  // reaped elsewhere; nothing left to wait for
  }
  return reaped_;
}

bool PtyProgram::HasEnded() {
  if (reaped_) return true;
  siginfo_t info{};
  if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) < 0) {
    return errno == ECHILD;
  }
  return info.si_pid != 0;
}

void PtyProgram::Step(int timeout_ms, bool watch_exit) {
  pollfd fds[2];
  nfds_t count = 0;
  int master_slot = -1;
  if (master_ >= 0 && !hung_up_) {
    master_slot = static_cast<int>(count);
    fds[count++] = {master_, static_cast<short>(POLLIN | (pending_input_.empty() ? 0 : POLLOUT)),
                    0};
  }
  if (watch_exit) {
    if (pidfd_ >= 0) {
      fds[count++] = {pidfd_, POLLIN, 0};
    } else {
      timeout_ms = std::min(timeout_ms, kReapPollMs);
    }
  }
  if (count == 0 && !watch_exit) return;
  if (poll(count > 0 ? fds : nullptr, count, timeout_ms) <= 0 || master_slot < 0) return;
  short events = fds[master_slot].revents;
  if (events & (POLLIN | POLLHUP | POLLERR)) ReadOutput();
  if (events & POLLOUT) FlushInput();
}

std::size_t PtyProgram::ReadOutput() {
  std::size_t total = 0;
  char buffer[65536];
  while (master_ >= 0 && !hung_up_) {
    ssize_t got = read(master_, buffer, sizeof buffer);
    if (got > 0) {
      Absorb(buffer, static_cast<std::size_t>(got));
      total += static_cast<std::size_t>(got);
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else if (got < 0 && errno == EAGAIN) {
      break;
    } else {
      hung_up_ = true;  // EIO: every holder of the terminal's other side is gone
    }
  }
  return total;
}

void PtyProgram::Absorb(const char* data, std::size_t size) {
  raw_output_.append(data, size);
  if (linux_console_colours_) {
    screen_.Feed(linux_colours_.Translate(std::string_view(data, size)));
  } else {
    screen_.Feed(std::string_view(data, size));
  }
  // Answers to the program's queries go back as a real terminal's would.
  pending_input_ += screen_.TakeOutput();
  FlushInput();
}

void PtyProgram::FlushInput() {
  while (!pending_input_.empty() && master_ >= 0 && !hung_up_) {
    ssize_t put = write(master_, pending_input_.data(), pending_input_.size());
    if (put > 0) {
      pending_input_.erase(0, static_cast<std::size_t>(put));
    } else if (put < 0 && errno == EINTR) {
      continue;
    } else if (put < 0 && errno == EAGAIN) {
      return;
    } else {
      pending_input_.clear();
      return;
    }
  }
}

void PtyProgram::Resize(int rows, int cols) {
  ReadOutput();  // what was written for the old size is shown at the old size
  if (master_ >= 0) {
    winsize size{};
    size.ws_row = static_cast<unsigned short>(rows);
    size.ws_col = static_cast<unsigned short>(cols);
    ioctl(master_, TIOCSWINSZ, &size);
  }
  screen_.Resize(rows, cols);
}

void PtyProgram::CloseMaster() {
  if (master_ < 0) return;
  ReadOutput();
  close(master_);
  master_ = -1;
  hung_up_ = true;
  pending_input_.clear();
}

void PtyProgram::Scribble() {
  std::string junk = "\x1b[m\x1b[2J";
  for (int row = 1; row <= screen_.Rows(); ++row) {
    junk += "\x1b[" + std::to_string(row) + "H" + std::string(screen_.Cols(), '#');
  }
  screen_.Feed(junk);
}

std::string PtyProgram::ScreenDump() const {
  std::string out = "cursor at row " + std::to_string(screen_.CursorRow()) + ", column " +
                    std::to_string(screen_.CursorCol()) +
                    (screen_.CursorVisible() ? " (shown)\n" : " (hidden)\n");
  for (int row = 1; row <= screen_.Rows(); ++row) {
    std::string text = screen_.RowText(row);
    text.erase(text.find_last_not_of(' ') + 1);
    out += (row < 10 ? " " : "") + std::to_string(row) + "|" + text + "\n";
  }
  return out;
}

bool WaitForOutput(PtyProgram& program, std::string_view text, std::size_t from, int timeout_ms) {
  return program.WaitFor(
      [&](const VtermScreen&) {
        return program.raw_output().find(text, from) != std::string::npos;
      },
      timeout_ms);
}

int ExitStatus(PtyProgram& program, int timeout_ms) {
  int status = 0;
  if (!program.WaitForExit(timeout_ms, &status) || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace q7t::test
