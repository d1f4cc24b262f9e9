#include "app/tool.h"

#include <errno.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/capture_command.h"
#include "app/commands.h"
#include "app/menu.h"
#include "card/card.h"
#include "card/save_log.h"
#include "console/console.h"
#include "console/term_caps.h"

namespace q7t {

namespace {

// The parts the process ends with: the handed-over ones while RunTool runs.
const ToolParts* g_parts = nullptr;

// The one end of the process once the menu runs: the console has flushed
// (or the terminal cannot be written); the terminal's modes go back, the last
// word goes below the picture (why the terminal failed, or the end note), and
// the process ends at once (the virtual card's threads need no unwinding).
void ExitTool(int status, const std::string& failure) {
  if (g_parts && g_parts->terminal) g_parts->terminal->Restore();
  if (!failure.empty()) {
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, failure.c_str());
  } else if (g_parts && g_parts->end_note) {
    std::fputs(g_parts->end_note().c_str(), stderr);
  }
  ::_exit(status);
}

// The parts handed to the layers that use them, for as long as this lives.
class HandOver {
 public:
  explicit HandOver(const ToolParts& parts) {
    g_parts = &parts;
    SetPortBus(parts.bus);
    SetCardLockStore(parts.card_lock);
    SetLogDir(parts.log_dir);
    SetCaptureNews(parts.capture_news);
  }
  ~HandOver() {
    SetCaptureNews(nullptr);
    SetLogDir("");
    SetCardLockStore(nullptr);
    SetPortBus(nullptr);
    g_parts = nullptr;
  }
  HandOver(const HandOver&) = delete;
  HandOver& operator=(const HandOver&) = delete;
};

[[noreturn]] void RunMenuOn(os::PosixTerminal& terminal) {
  TermCaps caps = CapsForTerm(terminal.TermName());
  caps.utf8 = terminal.Utf8();
  InstallConsole(&terminal, caps, ExitTool);
  RunMenu();
}

}  // namespace

std::unique_ptr<os::PosixTerminal> TakeTerminal(void (*after_restore)()) {
  std::string err;
  std::unique_ptr<os::PosixTerminal> terminal =
      os::PosixTerminal::Start(STDIN_FILENO, STDOUT_FILENO, after_restore, &err);
  if (!terminal) std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, err.c_str());
  return terminal;
}

int RunTool(const Invocation& inv, const ToolParts& parts) {
  HandOver hand_over(parts);
  if (inv.what == Invocation::What::kCommand) {
    if (parts.capture_sets_line_rate && inv.command->runs_on) {
      CardSetDivisor(BaudDivisor(inv.args.capture.baud));
    }
    return RunCommand(inv);
  }
  RunMenuOn(*parts.terminal);
}

}  // namespace q7t
