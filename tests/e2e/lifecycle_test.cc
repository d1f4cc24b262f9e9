// The terminal's whole life under the program: hang-up, suspend and resume
// (with and without a job-control shell above it), window size changes,
// Ctrl+C and termination, and the kitty keyboard protocol's push and pop.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "e2e/menu_screen.h"
#include "support/files.h"
#include "support/pty_harness.h"

namespace q7t::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kPush = "\x1b[>1u";  // the kitty disambiguate mode, pushed
constexpr std::string_view kPop = "\x1b[<u";

// Feeds the program's output until cond holds or timeout_ms pass: for
// conditions outside the screen (process state, terminal modes).
bool PumpUntil(PtyProgram& program, const std::function<bool()>& cond, int timeout_ms = 5000) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!cond()) {
    if (Clock::now() >= deadline) return false;
    program.Pump(10);
  }
  return true;
}

// User and system time of a live process, all its threads, from /proc.
double ProcCpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return 0;
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i >= 14) ticks += std::stol(field);  // utime, stime
  }
  return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double ReapedChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// What the program writes to hand the terminal back: colours to their
// defaults and the cursor shown. A frame sets colours only to write cells
// after them, so these bytes together come from the hand-back alone.
constexpr std::string_view kRestore = "\x1b[m\x1b[?25h";

bool ContainsAfter(const std::string& text, std::size_t from, std::string_view what) {
  return text.find(what, from) != std::string::npos;
}

// The menu drawn whole again, with M's prompt waiting below it.
bool RepaintedWithModePrompt(const VtermScreen& s) {
  return Trimmed(s, 1) == "Q7T Rx Logging Menu" && Trimmed(s, 10) == " <V> View Log" &&
         s.RowText(kMenuCursorRow).rfind(kModePrompt, 0) == 0;
}

TEST(Lifecycle, HangUpEndsTheProgramWithoutSpinning) {
  // Wherever the program waits for a key, the end of the terminal ends it.
  const struct {
    const char* name;
    const char* keys;
    const char* shows;  // on the screen once the keys have taken effect
  } kCases[] = {
      {"menu", "", "<V> View Log"},
      {"line entry", "b", "Select Baud Rate? "},
      {"viewer", "sv", "File: SerLog.txt"},
  };
  for (const auto& c : kCases) {
    ScopedTempDir dir;
    const double reaped_before = ReapedChildrenCpuSeconds();
    PtyProgram program(ProgramOptions(CopyProgram("q7tlog-sim", dir)));
    ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << c.name << "\n" << program.ScreenDump();
    ASSERT_TRUE(program.Send(c.keys)) << c.name;
    ASSERT_TRUE(program.WaitForText(0, c.shows)) << c.name << "\n" << program.ScreenDump();
    const double cpu_at_hang_up = ProcCpuSeconds(program.pid());
    program.CloseMaster();
    int status = -1;
    ASSERT_TRUE(program.WaitForExit(2000, &status)) << c.name;
    EXPECT_TRUE((WIFEXITED(status) && WEXITSTATUS(status) == 0) ||
                (WIFSIGNALED(status) && WTERMSIG(status) == SIGHUP))
        << c.name << ": status " << status;
    // What the program burnt between the hang-up and its end: a program that
    // spins until it notices spends most of that second or two on the CPU.
    const double cpu = ReapedChildrenCpuSeconds() - reaped_before - cpu_at_hang_up;
    EXPECT_LT(cpu, 0.25) << c.name << ": " << cpu << " s of CPU after the hang-up";
  }
}

// Under a shell with job control, as from an interactive shell: Ctrl+Z stops
// the program with the terminal handed back; fg resumes it in raw mode with
// the screen drawn whole.
TEST(Lifecycle, SuspendAndResumeUnderAJobControlShell) {
  ScopedTempDir dir;
  PtyProgram::Options options;
  options.program = "/bin/sh";
  options.args = {"-c", R"(set -m; "$0"; echo "stopped $?"; read line; fg)",
                  CopyProgram("q7tlog-sim", dir)};
  PtyProgram shell(options);
  ASSERT_TRUE(shell.WaitFor(ShowsFirstMenu)) << shell.ScreenDump();
  pid_t pid = 0;
  {
    std::ifstream children("/proc/" + std::to_string(shell.pid()) + "/task/" +
                           std::to_string(shell.pid()) + "/children");
    children >> pid;
  }
  ASSERT_GT(pid, 0);
  // The program sits in a process group of its own: make sure it goes with
  // the test whatever happens.
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      if (ProcState(pid) != 0) kill(pid, SIGKILL);
    }
  } reaper{pid};

  const std::size_t from = shell.raw_output().size();
  ASSERT_TRUE(shell.Send("\x1a"));
  ASSERT_TRUE(shell.WaitForText(0, "stopped 148")) << shell.ScreenDump();
  EXPECT_EQ(ProcState(pid), 'T');
  EXPECT_TRUE(Cooked(shell.master_fd()));
  EXPECT_TRUE(ContainsAfter(shell.raw_output(), from, kRestore));

  shell.Scribble();
  ASSERT_TRUE(shell.Send("\r"));  // the shell reads its line, then runs fg
  ASSERT_TRUE(PumpUntil(shell, [&] { return ProcState(pid) != 'T' && Raw(shell.master_fd()); }))
      << "state " << ProcState(pid);
  EXPECT_TRUE(shell.WaitFor(ShowsFirstMenu)) << shell.ScreenDump();
  // And the keys work again.
  ASSERT_TRUE(shell.Send("m"));
  EXPECT_TRUE(shell.WaitForText(kMenuCursorRow, kModePrompt)) << shell.ScreenDump();
  ASSERT_TRUE(shell.Send("\rq"));
  int status = -1;
  ASSERT_TRUE(shell.WaitForExit(5000, &status));
  EXPECT_EQ(status, 0);  // fg hands on the program's own status
}

// The first process named `name` below `pid` (children first, then theirs);
// 0 when there is none.
pid_t Descendant(pid_t pid, const std::string& name) {
  std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                         "/children");
  for (pid_t child = 0; children >> child;) {
    std::ifstream comm("/proc/" + std::to_string(child) + "/comm");
    std::string comm_name;
    if (std::getline(comm, comm_name) && comm_name == name) return child;
    if (pid_t found = Descendant(child, name)) return found;
  }
  return 0;
}

// The menu with whatever values, waiting for a key.
bool AtMenu(const VtermScreen& s) {
  return Trimmed(s, 1) == "Q7T Rx Logging Menu" && Trimmed(s, 10) == " <V> View Log" &&
         Trimmed(s, kMenuCursorRow).empty() && s.CursorRow() == kMenuCursorRow &&
         s.CursorCol() == 1;
}

// Typed into an interactive shell, under a wrapper that waits for it in the
// same job (as `make run` does): the wrapper stops at once on Ctrl+Z and the
// shell takes the terminal back while the program still hands it back. fg
// must bring the program back repainted with its keys working, every time,
// wherever it waits for a key, from bash and from a plain POSIX sh.
TEST(Lifecycle, SuspendAndResumeUnderAWrapperInAnInteractiveShell) {
  const struct {
    const char* where;
    const char* keys;   // from the menu
    const char* shows;  // once there
    const char* leave;  // back to the menu
  } kPlaces[] = {
      {"menu", "", "<V> View Log", ""},
      {"line entry", "b", "Select Baud Rate? ", "\r"},
      {"viewer", "sv", "File: SerLog.txt", "\x1b"},
  };
  for (const char* shell_path : {"/bin/bash", "/bin/sh"}) {
    ScopedTempDir dir;
    PtyProgram::Options options;
    options.program = shell_path;
    options.args = {"-i"};
    options.env = {{"PS1", "$ "}, {"ENV", ""}, {"HOME", dir.path()}};
    PtyProgram shell(options);
    const std::string program = CopyProgram("q7tlog-sim", dir);
    // The wrapper reports the terminal's modes once the program has ended
    // (the shell's own line editor changes them again at its prompt).
    ASSERT_TRUE(
        shell.Send("sh -c '\"$0\"; stty -a | tr \" ;\" \"\\n\\n\" | grep -x -e icanon -e echo "
                   "| tr \"\\n\" \" \"; echo wrapper done' " +
                   program + "\r"));
    ASSERT_TRUE(shell.WaitFor(ShowsFirstMenu)) << shell_path << "\n" << shell.ScreenDump();
    const pid_t pid = Descendant(shell.pid(), "q7tlog-sim");
    ASSERT_GT(pid, 0) << shell_path;
    for (int round = 0; round < 2; ++round) {
      for (const auto& place : kPlaces) {
        const std::string name = std::string(shell_path) + " " + place.where + " round " +
                                 std::to_string(round + 1) + "\n";
        ASSERT_TRUE(shell.Send(place.keys)) << name;
        ASSERT_TRUE(shell.WaitForText(0, place.shows)) << name << shell.ScreenDump();
        ASSERT_TRUE(shell.Send("\x1a")) << name;
        ASSERT_TRUE(PumpUntil(shell, [&] { return ProcState(pid) == 'T'; })) << name;
        ASSERT_TRUE(shell.WaitForText(0, "Stopped")) << name << shell.ScreenDump();
        shell.Scribble();
        ASSERT_TRUE(shell.Send("fg\r")) << name;
        ASSERT_TRUE(shell.WaitForText(0, place.shows)) << name << "state " << ProcState(pid) << "\n"
                                                       << shell.ScreenDump();
        ASSERT_TRUE(shell.Send(place.leave)) << name;
        ASSERT_TRUE(shell.WaitFor(AtMenu)) << name << shell.ScreenDump();
      }
    }
    ASSERT_TRUE(shell.Send("q"));
    EXPECT_TRUE(shell.WaitForText(0, "icanon echo wrapper done")) << shell_path << "\n"
                                                                  << shell.ScreenDump();
    ASSERT_TRUE(shell.Send("exit\r"));
    int status = -1;
    EXPECT_TRUE(shell.WaitForExit(5000, &status)) << shell_path;
  }
}

// Started straight on the terminal (as a terminal multiplexer starts it) the
// program is alone in an orphaned process group, where the kernel refuses to
// stop it: Ctrl+Z must then leave it running in raw mode, not in the modes
// it handed back for the stop that never came.
TEST(Lifecycle, SuspendWithoutJobControlCarriesOn) {
  ScopedTempDir dir;
  PtyProgram program(ProgramOptions(CopyProgram("q7tlog-sim", dir)));
  ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
  const std::size_t from = program.raw_output().size();
  program.Scribble();
  // The key typed right behind Ctrl+Z is the program's, not thrown away.
  ASSERT_TRUE(program.Send("\x1am"));
  ASSERT_TRUE(program.WaitFor(RepaintedWithModePrompt)) << program.ScreenDump();
  EXPECT_TRUE(ContainsAfter(program.raw_output(), from, kRestore));
  EXPECT_TRUE(PumpUntil(program, [&] { return Raw(program.master_fd()); }));
  EXPECT_NE(ProcState(program.pid()), 'T');
  // A second Ctrl+Z is handled the same way.
  program.Scribble();
  ASSERT_TRUE(program.Send("\x1a"));
  EXPECT_TRUE(program.WaitFor(RepaintedWithModePrompt)) << program.ScreenDump();
  EXPECT_TRUE(PumpUntil(program, [&] { return Raw(program.master_fd()); }));
}

// A stop that the program cannot see coming (SIGSTOP) leaves the terminal as
// it was; the continue still repaints, and keeps what was typed meanwhile.
TEST(Lifecycle, ContinueAfterAStopSignalRepaints) {
  ScopedTempDir dir;
  PtyProgram program(ProgramOptions(CopyProgram("q7tlog-sim", dir)));
  ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
  ASSERT_EQ(kill(program.pid(), SIGSTOP), 0);
  ASSERT_TRUE(PumpUntil(program, [&] { return ProcState(program.pid()) == 'T'; }));
  ASSERT_TRUE(program.Send("m"));
  program.Scribble();
  ASSERT_EQ(kill(program.pid(), SIGCONT), 0);
  EXPECT_TRUE(program.WaitFor(RepaintedWithModePrompt)) << program.ScreenDump();
  EXPECT_TRUE(Raw(program.master_fd()));
}

TEST(Lifecycle, ResizeRepaintsWhatFits) {
  ScopedTempDir dir;
  PtyProgram program(ProgramOptions(CopyProgram("q7tlog-sim", dir)));
  ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
  // ShowsMenu wants blanks everywhere outside the menu's rows, on the whole
  // window, and the rows cut to the window's width.
  const struct { int rows, cols; } kSizes[] = {{30, 100}, {20, 60}, {25, 80}, {24, 20}};
  for (const auto& size : kSizes) {
    program.Resize(size.rows, size.cols);
    program.Scribble();
    EXPECT_TRUE(program.WaitFor(ShowsFirstMenu)) << size.rows << "x" << size.cols << "\n"
                                                 << program.ScreenDump();
  }
  program.Resize(25, 80);
  ASSERT_TRUE(program.Send("m"));
  EXPECT_TRUE(program.WaitForText(kMenuCursorRow, kModePrompt)) << program.ScreenDump();
}

TEST(Lifecycle, InterruptAndTerminationHandTheTerminalBack) {
  const struct {
    const char* name;
    const char* keys;   // before the signal
    const char* shows;  // then on row 1
    const char* ctrl;   // the key that sends the signal, or null for kill()
    int sig;
  } kCases[] = {
      {"Ctrl+C at the menu", "", "Q7T Rx Logging Menu", "\x03", SIGINT},
      {"Ctrl+C in line entry", "b", "Q7T Rx Logging Menu", "\x03", SIGINT},
      {"SIGTERM at the menu", "", "Q7T Rx Logging Menu", nullptr, SIGTERM},
      {"SIGTERM in the viewer", "sv", "   File: SerLog.txt", nullptr, SIGTERM},
  };
  for (const auto& c : kCases) {
    ScopedTempDir dir;
    PtyProgram program(ProgramOptions(CopyProgram("q7tlog-sim", dir)));
    ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << c.name << "\n" << program.ScreenDump();
    ASSERT_TRUE(program.Send(c.keys)) << c.name;
    ASSERT_TRUE(program.WaitForText(1, c.shows)) << c.name << "\n" << program.ScreenDump();
    const std::size_t from = program.raw_output().size();
    if (c.ctrl != nullptr) {
      ASSERT_TRUE(program.Send(c.ctrl)) << c.name;
    } else {
      ASSERT_EQ(kill(program.pid(), c.sig), 0) << c.name;
    }
    int status = -1;
    ASSERT_TRUE(program.WaitForExit(5000, &status)) << c.name;
    ASSERT_TRUE(WIFSIGNALED(status)) << c.name << ": status " << status;
    EXPECT_EQ(WTERMSIG(status), c.sig) << c.name;
    EXPECT_TRUE(Cooked(program.master_fd())) << c.name;
    EXPECT_TRUE(ContainsAfter(program.raw_output(), from, kRestore)) << c.name;
    EXPECT_TRUE(program.screen().CursorVisible()) << c.name;
    // The picture stays as the program left it.
    EXPECT_NE(program.screen().RowText(1).find(c.shows), std::string::npos) << c.name << "\n"
                                                                            << program.ScreenDump();
  }
}

// The harness's emulator does not speak the kitty keyboard protocol; here the
// test answers the program's query for it, ahead of the emulator's device
// attributes as a terminal that speaks it would. The program then pushes the
// disambiguate mode.
std::unique_ptr<PtyProgram> StartWithKittyKeys(const ScopedTempDir& dir) {
  auto program = std::make_unique<PtyProgram>(ProgramOptions(CopyProgram("q7tlog-sim", dir)));
  // No output is read before raw mode is on, so the query (written after it)
  // has not reached the emulator yet and its reply cannot be ahead of ours.
  auto deadline = Clock::now() + std::chrono::seconds(5);
  while (!Raw(program->master_fd()) && Clock::now() < deadline) usleep(1000);
  EXPECT_TRUE(Raw(program->master_fd()));
  EXPECT_TRUE(program->Send("\x1b[?0u"));
  EXPECT_TRUE(program->WaitFor(ShowsFirstMenu)) << program->ScreenDump();
  const std::string& out = program->raw_output();
  EXPECT_TRUE(program->WaitFor([&](const VtermScreen&) { return ContainsAfter(out, 0, kPush); }))
      << "no push";
  return program;
}

TEST(Lifecycle, KittyKeyboardModeIsPushedAndPopped) {
  ScopedTempDir dir;
  auto program = StartWithKittyKeys(dir);
  const std::string& out = program->raw_output();
  const std::size_t pushed = out.find(kPush);
  ASSERT_NE(pushed, std::string::npos);
  EXPECT_LT(out.find("\x1b[?u"), pushed);

  // Ctrl+Z comes as a key sequence now, and still reaches the suspend: the
  // mode is popped for the stop (refused in this orphaned group) and pushed
  // again after it.
  ASSERT_TRUE(program->Send("\x1b[122;5u"));
  ASSERT_TRUE(PumpUntil(*program, [&] {
    std::size_t pop = out.find(kPop, pushed);
    return pop != std::string::npos && ContainsAfter(out, pop, kPush);
  })) << "no pop and push around Ctrl+Z";

  const std::size_t before_quit = out.size();
  ASSERT_TRUE(program->Send("q"));
  int status = -1;
  ASSERT_TRUE(program->WaitForExit(5000, &status));
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(ContainsAfter(out, before_quit, kPop));
  EXPECT_TRUE(Cooked(program->master_fd()));
}

// In that mode Ctrl+C no longer reaches the line discipline as the byte that
// makes SIGINT; it must end the program all the same.
TEST(Lifecycle, KittyCtrlCStillInterrupts) {
  const struct {
    const char* name;
    const char* key;
  } kCases[] = {
      {"Ctrl+C", "\x1b[99;5u"},
      {"Ctrl+C with Num Lock on", "\x1b[99;133u"},
      {"Ctrl+C press event", "\x1b[99;5:1u"},
  };
  for (const auto& c : kCases) {
    ScopedTempDir dir;
    auto program = StartWithKittyKeys(dir);
    // Neither a release, nor Ctrl+Shift+C, nor C itself, interrupts.
    ASSERT_TRUE(program->Send("\x1b[99;5:3u\x1b[99;6uc")) << c.name;
    ASSERT_TRUE(program->Send("m")) << c.name;
    ASSERT_TRUE(program->WaitForText(kMenuCursorRow, kModePrompt)) << c.name << "\n"
                                                                   << program->ScreenDump();
    ASSERT_TRUE(program->Send("\r")) << c.name;
    ASSERT_TRUE(program->WaitFor(ShowsFirstMenu)) << c.name << "\n" << program->ScreenDump();

    const std::size_t from = program->raw_output().size();
    ASSERT_TRUE(program->Send(c.key)) << c.name;
    int status = -1;
    ASSERT_TRUE(program->WaitForExit(5000, &status)) << c.name;
    ASSERT_TRUE(WIFSIGNALED(status)) << c.name << ": status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGINT) << c.name;
    EXPECT_TRUE(ContainsAfter(program->raw_output(), from, kPop)) << c.name;
    EXPECT_TRUE(Cooked(program->master_fd())) << c.name;
  }
}

}  // namespace
}  // namespace q7t::test
