// Runs a program on a pseudo-terminal for end-to-end tests: keys go in, the
// program's output goes through a real terminal emulator, and waits end on a
// condition or a deadline. Whatever it starts is killed and reaped before it goes.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/linux_colours.h"
#include "support/vterm_screen.h"

namespace q7t::test {

// A fresh directory under $TMPDIR (or /tmp), removed with all it holds when
// the object goes.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::string& path() const { return path_; }
  // `path()` + "/" + name.
  std::string File(std::string_view name) const;
  // Mode 0777, so that a child run with dropped privileges can write here.
  bool OpenToAll() const;

 private:
  std::string path_;
};

// The card-wide lock that the programs started by tests take: one of this
// test process's own (a file of mode 0644 in a folder of mode 0755, so that a
// program run as another user can still lock it), never the machine's, whose
// hold note a real card's capture service would act on. Named to every
// program through $Q7TLOG_LOCK, set in this process's environment from its
// start and in each PtyProgram's; removed when the process ends.
const std::string& PrivateCardLock();

// Copies `Q7T_BIN_DIR`/name into dir as an executable (mode 0755) and returns
// the copy's path; the empty text (and a test failure) when the copy fails.
std::string CopyProgram(std::string_view name, const ScopedTempDir& dir);
// `Q7T_BIN_DIR`/name.
std::string BinPath(std::string_view name);

class PtyProgram {
 public:
  struct Options {
    std::string program;            // a path, or a name looked up in PATH below
    std::vector<std::string> args;  // argv[1..]
    int rows = 25, cols = 80;
    std::string term = "xterm-256color";
    std::string cwd;  // empty: the test's own working directory
    // Added to (or replacing entries of) the child's clean environment:
    // TERM, LANG=C.UTF-8, PATH=/usr/local/bin:/usr/bin:/bin, HOME and
    // Q7TLOG_LOCK (PrivateCardLock).
    std::vector<std::pair<std::string, std::string>> env;
    // Run as nobody (uid/gid 65534) when the test runs as root, so that port
    // access is refused even there. The program and cwd must be reachable for
    // that user (see ScopedTempDir::OpenToAll).
    bool drop_privileges = false;
    // The screen takes the program's colours as the Linux console does.
    bool linux_console_colours = false;
  };

  // Starts the program on a new pty of the given size. A start that fails is
  // a test failure; the object then acts as a program that has exited.
  explicit PtyProgram(Options options);
  // SIGTERM to the program's process group, SIGKILL after a short grace,
  // then reaped: nothing is left running.
  ~PtyProgram();
  PtyProgram(const PtyProgram&) = delete;
  PtyProgram& operator=(const PtyProgram&) = delete;

  // Writes key bytes to the terminal (whole, draining output meanwhile so
  // neither side blocks). False when they could not all be written.
  bool Send(std::string_view bytes);

  // Feeds the program's output to the screen until pred holds or timeout_ms
  // pass; returns pred's final value. Once the terminal has hung up (the
  // program and all its children gone) it returns at once.
  bool WaitFor(const std::function<bool(const VtermScreen&)>& pred, int timeout_ms = 5000);
  // Row `row` (1-based; 0 for any row) contains text.
  bool WaitForText(int row, std::string_view text, int timeout_ms = 5000);
  // Feeds output for timeout_ms whatever happens (to let a program settle).
  void Pump(int timeout_ms);
  // Waits for the program to end (feeding its output meanwhile). True once it
  // has ended; *status (may be null) is as from waitpid.
  bool WaitForExit(int timeout_ms, int* status);
  bool exited() const { return reaped_; }

  const VtermScreen& screen() const { return screen_; }
  VtermScreen& screen() { return screen_; }
  // Every row, numbered, with trailing blanks cut, and the cursor: for
  // failure messages.
  std::string ScreenDump() const;
  // Every byte the program wrote to the terminal.
  const std::string& raw_output() const { return raw_output_; }
  void mark() { mark_ = raw_output_.size(); }
  std::size_t bytes_since_mark() const { return raw_output_.size() - mark_; }
  // Wipes the emulator's picture, so that only a whole repaint brings the
  // program's screen back.
  void Scribble();

  // New window size: the pty (the kernel then sends SIGWINCH to the
  // program's process group) and the emulator. Output written before is fed
  // at the old size first.
  void Resize(int rows, int cols);
  // Hangs up the terminal (the program gets SIGHUP and end of input).
  void CloseMaster();

  pid_t pid() const { return pid_; }
  int master_fd() const { return master_; }

 private:
  void Start(const Options& options);
  // One wait of at most timeout_ms on the terminal (and on the program's end
  // when watch_exit), then whatever became ready is read or written.
  void Step(int timeout_ms, bool watch_exit);
  std::size_t ReadOutput();  // everything waiting, without blocking
  void Absorb(const char* data, std::size_t size);
  void FlushInput();  // as much of pending_input_ as the terminal takes now
  bool WaitEnd(int timeout_ms, bool reap);
  bool TryReap();
  bool HasEnded();  // ended, left unreaped
  void Kill(int sig);

  VtermScreen screen_;
  bool linux_console_colours_ = false;
  LinuxColours linux_colours_;
  pid_t pid_ = -1;
  int master_ = -1;
  int pidfd_ = -1;
  bool hung_up_ = false;
  bool reaped_ = false;
  int status_ = 0;
  std::string raw_output_;
  std::size_t mark_ = 0;
  std::string pending_input_;  // keys and replies not yet taken by the terminal
};

// The program's output holds `text` after its first `from` bytes (fed for
// up to timeout_ms).
bool WaitForOutput(PtyProgram& program, std::string_view text, std::size_t from = 0,
                   int timeout_ms = 5000);
// The program's exit status; -1 if it runs on past timeout_ms or a signal
// ended it.
int ExitStatus(PtyProgram& program, int timeout_ms = 5000);

}  // namespace q7t::test
