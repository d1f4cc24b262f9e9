#include "app/tool.h"

#include <errno.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/commands.h"
#include "app/menu.h"
#include "card/card.h"
#include "card/save_log.h"
#include "console/console.h"
#include "console/term_caps.h"
#include "platform/terminal_posix.h"

namespace q7t {

namespace {

os::PosixTerminal* g_terminal = nullptr;
std::string (*g_end_note)() = nullptr;

// The one end of the process once the menu runs: the console has flushed
// (or the terminal cannot be written); the terminal's modes go back, the last
// word goes below the picture (why the terminal failed, or the end note), and
// the process ends at once (the virtual card's threads need no unwinding).
void ExitTool(int status, const std::string& failure) {
  if (g_terminal) g_terminal->Restore();
  if (!failure.empty()) {
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, failure.c_str());
  } else if (g_end_note) {
    std::fputs(g_end_note().c_str(), stderr);
  }
  ::_exit(status);
}

}  // namespace

void SetEndNote(std::string (*note)()) {
  g_end_note = note;
}

int RunTool(PortBus& bus, const Invocation& inv) {
  if (inv.what == Invocation::What::kCommand) return RunCommand(inv, bus);
  SetLogDir(inv.log_dir);
  std::string err;
  std::unique_ptr<os::PosixTerminal> terminal =
      os::PosixTerminal::Start(STDIN_FILENO, STDOUT_FILENO, &err);
  if (!terminal) {
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, err.c_str());
    return 1;
  }
  g_terminal = terminal.get();
  TermCaps caps = CapsForTerm(terminal->TermName());
  caps.utf8 = terminal->Utf8();
  InstallConsole(terminal.get(), caps);
  SetExitHandler(ExitTool);
  SetPortBus(&bus);
  RunMenu();
}

}  // namespace q7t
