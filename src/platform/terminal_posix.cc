#include "platform/terminal_posix.h"

#include <fcntl.h>
#include <langinfo.h>
#include <linux/kd.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform/console_kind.h"

namespace q7t::os {

namespace {

// State the signal handlers need: plain values, set before they are installed.
int g_in_fd = -1;   // keys come from here; its modes are the terminal's
int g_out_fd = -1;  // the picture goes here
struct termios g_saved;
struct termios g_raw;
bool g_have_saved = false;
std::atomic<bool> g_restored{false};
int g_wake_pipe[2] = {-1, -1};
void (*g_after_restore)() = nullptr;
volatile std::sig_atomic_t g_repaint = 0;
volatile std::sig_atomic_t g_hangup = 0;
volatile std::sig_atomic_t g_resumed = 0;
volatile std::sig_atomic_t g_in_suspend = 0;

// The bytes that hand the terminal back: the renderer's restore sequence,
// plus the pop of the kitty keyboard mode while it is pushed. Prepared in
// the main thread, so the handlers only write() them.
char g_restore_bytes[64];
volatile std::sig_atomic_t g_restore_len = 0;
constexpr std::string_view kKittyQuery = "\x1b[?u";  // the keyboard protocol's flags
constexpr std::string_view kKittyPush = "\x1b[>1u";  // disambiguate escape codes
constexpr std::string_view kKittyPop = "\x1b[<u";

void PrepareRestoreBytes(bool kitty) {
  std::string bytes(kTerminalRestore);
  if (kitty) bytes += kKittyPop;
  g_restore_len = 0;
  std::size_t n = std::min(bytes.size(), sizeof g_restore_bytes);
  std::memcpy(g_restore_bytes, bytes.data(), n);
  g_restore_len = static_cast<int>(n);
}

constexpr int kFatalSignals[] = {SIGINT, SIGTERM, SIGQUIT, SIGSEGV,
                                 SIGBUS, SIGFPE,  SIGILL,  SIGABRT};

// Async-signal-safe: write() of prepared bytes and tcsetattr() only.
// SIGTTOU is held meanwhile: on a suspend the job-control shell may already
// have taken the terminal back (a wrapper in the same job stops at once),
// and the modes must go back all the same without the program being
// stopped for it.
void RestoreModesSignalSafe(int when = TCSAFLUSH) {
  if (!g_have_saved || g_in_fd < 0) return;
  sigset_t ttou, old;
  sigemptyset(&ttou);
  sigaddset(&ttou, SIGTTOU);
  ::pthread_sigmask(SIG_BLOCK, &ttou, &old);
  ssize_t unused = ::write(g_out_fd, g_restore_bytes, static_cast<std::size_t>(g_restore_len));
  (void)unused;
  ::tcsetattr(g_in_fd, when, &g_saved);
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void Wake() {
  if (g_wake_pipe[1] >= 0) {
    char b = 1;
    ssize_t unused = ::write(g_wake_pipe[1], &b, 1);
    (void)unused;
  }
}

// The terminal handed back for good, then the program's last word.
void RestoreForEnd() {
  RestoreModesSignalSafe();
  if (g_after_restore) g_after_restore();
}

void OnFatalSignal(int sig) {
  int saved_errno = errno;
  if (!g_restored.exchange(true)) RestoreForEnd();
  ::signal(sig, SIG_DFL);
  ::raise(sig);
  errno = saved_errno;
}

void OnSuspend(int);

// Back from a stop, or from a stop that never came: the handler again, raw
// mode again, and a full repaint. Nothing typed is flushed: what waits now
// was typed for the program after fg, and the continue signal may reach
// another thread and bring a second Resume after the suspend's own, when
// keys may already be waiting.
void Resume() {
  struct sigaction sa {};
  sa.sa_handler = OnSuspend;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGTSTP, &sa, nullptr);
  if (g_have_saved && !g_restored.load()) ::tcsetattr(g_in_fd, TCSANOW, &g_raw);
  g_repaint = 1;
  g_resumed = 1;
  Wake();
}

// The stop happens inside the handler (SIGTSTP unblocked for it), so that the
// handler itself takes the terminal back afterwards. In an orphaned process
// group (no job-control shell above, as under a terminal multiplexer that
// starts the program directly) the kernel drops the stop: the program then
// carries on at once and takes the terminal back as after a resume.
void OnSuspend(int) {
  int saved_errno = errno;
  // Keys typed for the shell after the stop are the shell's: not flushed.
  RestoreModesSignalSafe(TCSADRAIN);
  ::signal(SIGTSTP, SIG_DFL);
  ::raise(SIGTSTP);
  g_in_suspend = 1;
  sigset_t tstp, old;
  sigemptyset(&tstp);
  sigaddset(&tstp, SIGTSTP);
  ::pthread_sigmask(SIG_UNBLOCK, &tstp, &old);  // stops here until SIGCONT
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  g_in_suspend = 0;
  Resume();
  errno = saved_errno;
}

// A continue without our own stop before it (the stop was SIGSTOP, which
// cannot be caught); after a suspend the suspend handler resumes itself.
void OnContinue(int) {
  if (g_in_suspend) return;
  int saved_errno = errno;
  Resume();
  errno = saved_errno;
}

void OnResize(int) {
  int saved_errno = errno;
  g_repaint = 1;
  Wake();
  errno = saved_errno;
}

void OnHangup(int) {
  int saved_errno = errno;
  g_hangup = 1;
  Wake();
  errno = saved_errno;
}

void Install(int sig, void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(sig, &sa, nullptr);
}

void DrainWakePipe() {
  char buf[64];
  while (::read(g_wake_pipe[0], buf, sizeof buf) > 0) {
  }
}

}  // namespace

bool PosixTerminal::BrightBackgroundsBlink() const {
  return linux_console_ && VgaTextConsole();
}

std::string PosixTerminal::TermName() const {
  if (linux_console_) return "linux";
  const char* term = std::getenv("TERM");
  return term != nullptr ? term : "";
}

std::unique_ptr<PosixTerminal> PosixTerminal::Start(int in_fd, int out_fd, void (*after_restore)(),
                                                    std::string* err) {
  auto refuse = [err](std::string why) {
    if (err) *err = std::move(why);
    return nullptr;
  };
  if (!::isatty(in_fd)) return refuse("standard input is not a terminal");
  if (!::isatty(out_fd)) return refuse("standard output is not a terminal");
  int kb_type = 0;
  const bool linux_console = ::ioctl(out_fd, KDGKBTYPE, &kb_type) == 0;
  const char* term_name = std::getenv("TERM");
  if (term_name != nullptr && std::strcmp(term_name, "dumb") == 0) {
    return refuse("the terminal (TERM=dumb) cannot move the cursor");
  }
  if (::tcgetattr(in_fd, &g_saved) != 0) {
    return refuse(std::string("cannot read the terminal's modes: ") + std::strerror(errno));
  }
  std::unique_ptr<PosixTerminal> term(new PosixTerminal(in_fd, out_fd));
  std::setlocale(LC_CTYPE, "");
  term->utf8_ = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
  term->linux_console_ = linux_console;
  g_in_fd = in_fd;
  g_out_fd = out_fd;
  g_after_restore = after_restore;
  g_have_saved = true;
  g_restored = false;
  if (::pipe2(g_wake_pipe, O_NONBLOCK | O_CLOEXEC) != 0) {
    g_wake_pipe[0] = g_wake_pipe[1] = -1;
  }
  for (int sig : kFatalSignals) Install(sig, OnFatalSignal);
  Install(SIGTSTP, OnSuspend);
  Install(SIGCONT, OnContinue);
  Install(SIGWINCH, OnResize);
  Install(SIGHUP, OnHangup);
  ::signal(SIGPIPE, SIG_IGN);
  PrepareRestoreBytes(false);
  if (!term->EnterRaw()) {
    if (err) *err = std::string("cannot set the terminal's modes: ") + std::strerror(errno);
    term->Restore();
    return nullptr;
  }
  // Asks whether the terminal speaks the kitty keyboard protocol; the answer
  // comes back as input (KeyboardProtocolOffered). The console's first frame
  // follows, with a device attributes request that every terminal answers.
  term->Write(kKittyQuery);
  if (!term->Writable(err)) {
    term->Restore();
    return nullptr;
  }
  return term;
}

bool PosixTerminal::EnterRaw() {
  g_raw = g_saved;
  // Raw: no echo, no canonical input, no flow control, no CR/NL mapping, no
  // output processing; ISIG stays on so Ctrl+C still ends the program.
  g_raw.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                          ICRNL | IXON | IXOFF);
  g_raw.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  g_raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | IEXTEN);
  g_raw.c_lflag |= ISIG;
  g_raw.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB);
  g_raw.c_cflag |= CS8;
  g_raw.c_cc[VMIN] = 1;
  g_raw.c_cc[VTIME] = 0;
  return ::tcsetattr(in_fd_, TCSAFLUSH, &g_raw) == 0;
}

PosixTerminal::~PosixTerminal() {
  Restore();
}

void PosixTerminal::Restore() {
  if (g_restored.exchange(true)) return;
  RestoreForEnd();
}

void PosixTerminal::Write(std::string_view bytes) {
  while (!bytes.empty() && !ended_ && !write_failed_) {
    ssize_t n = ::write(out_fd_, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      struct pollfd p {
        out_fd_, POLLOUT, 0
      };
      ::poll(&p, 1, 100);
    } else if (g_hangup || errno == EIO) {
      ended_ = true;  // the terminal is gone
    } else {
      write_failed_ = true;  // any other failure: Writable tells it
      write_errno_ = errno;
    }
  }
}

bool PosixTerminal::Writable(std::string* err) const {
  if (!write_failed_) return true;
  if (err) *err = std::string("cannot write to the terminal: ") + std::strerror(write_errno_);
  return false;
}

bool PosixTerminal::ReadAvailable(std::string& out) {
  while (!ended_) {
    struct pollfd p {
      in_fd_, POLLIN, 0
    };
    int r = ::poll(&p, 1, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    if (p.revents & POLLIN) {
      char buf[4096];
      ssize_t n = ::read(in_fd_, buf, sizeof buf);
      if (n > 0) {
        out.append(buf, static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      ended_ = true;  // end of file, or EIO: the terminal has gone
    } else if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
      ended_ = true;
    }
    break;
  }
  if (g_hangup) ended_ = true;
  return !ended_;
}

// With the kitty keyboard mode pushed the terminal sends Ctrl+C, Ctrl+Z and
// Ctrl+\\ as key sequences, not as the bytes from which the line discipline
// makes its signals.
void PosixTerminal::SignalKeyPressed(SignalKey key) {
  if (!kitty_keys_) return;
  if (key == SignalKey::kInterrupt) ::raise(SIGINT);
  if (key == SignalKey::kSuspend) ::raise(SIGTSTP);
  if (key == SignalKey::kQuit) ::raise(SIGQUIT);
}

void PosixTerminal::WaitInput(int timeout_ms) {
  struct pollfd p[2] = {{in_fd_, POLLIN, 0}, {g_wake_pipe[0], POLLIN, 0}};
  int n = g_wake_pipe[0] >= 0 ? 2 : 1;
  if (g_repaint || g_hangup || ended_) return;
  int r = ::poll(p, n, timeout_ms);
  if (r > 0 && n == 2 && (p[1].revents & POLLIN)) DrainWakePipe();
}

void PosixTerminal::Sleep(int ms) {
  struct timespec ts {
    ms / 1000, static_cast<long>(ms % 1000) * 1000000L
  };
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

std::int64_t PosixTerminal::NowMs() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void PosixTerminal::Bell() {
  // The Linux text console sounds the exact tone itself; elsewhere BEL.
  constexpr int kToneHz = 1000, kToneMs = 250, kTimerHz = 1193180;
  if (linux_console_ && ::ioctl(out_fd_, KDMKTONE, (kToneMs << 16) | (kTimerHz / kToneHz)) == 0)
    return;
  Write("\x07");
}

bool PosixTerminal::NumLockOn() {
  char flags = 0;
  return linux_console_ && ::ioctl(in_fd_, KDGKBLED, &flags) == 0 && (flags & K_NUMLOCK) != 0;
}

void PosixTerminal::KeyboardProtocolOffered() {
  if (kitty_keys_) return;
  kitty_keys_ = true;
  Write(kKittyPush);
  if (write_failed_) return;  // the mode was not pushed: nothing to pop at the end
  PrepareRestoreBytes(true);
}

Terminal::Events PosixTerminal::TakeEvents() {
  Events ev;
  if (g_resumed) {
    g_resumed = 0;
    if (kitty_keys_) Write(kKittyPush);  // the suspend popped it
  }
  if (first_events_ || g_repaint) {
    first_events_ = false;
    g_repaint = 0;
    ev.repaint = true;
    struct winsize ws {};
    if (::ioctl(out_fd_, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0) {
      ev.rows = ws.ws_row;
      ev.cols = ws.ws_col;
    }
  }
  if (g_hangup) ev.hangup = true;
  return ev;
}

}  // namespace q7t::os
