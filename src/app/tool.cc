#include "app/tool.h"

#include <errno.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/menu.h"
#include "card/card.h"
#include "console/console.h"
#include "console/term_caps.h"
#include "platform/terminal_posix.h"

namespace q7t {

namespace {

os::PosixTerminal* g_terminal = nullptr;

// The orderly end: the console has flushed; the terminal's modes go back and
// the process ends at once (the virtual card's threads need no unwinding).
void ExitTool(int status) {
  if (g_terminal) g_terminal->Restore();
  ::_exit(status);
}

}  // namespace

int RunTool(PortBus& bus) {
  std::string err;
  std::unique_ptr<os::PosixTerminal> terminal = os::PosixTerminal::Start(STDIN_FILENO, &err);
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
