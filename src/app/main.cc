// q7tlog: the maintenance tool on the real card, through the I/O bus.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/commands.h"
#include "app/tool.h"
#include "card/card_lock.h"
#include "platform/card_lock_file.h"
#include "platform/port_bus_hw.h"
#include "platform/terminal_posix.h"

namespace {

// Why the card-wide lock is not used, said once: at once by a command, after
// the terminal is given back by the menu.
std::string g_lock_note;

void WriteEndNotes() {
  q7t::WritePortNotes();
  if (!g_lock_note.empty()) (void)!::write(STDERR_FILENO, g_lock_note.data(), g_lock_note.size());
}

}  // namespace

int main(int argc, char** argv) {
  q7t::Invocation inv =
      q7t::ParseCommandLine(argc, argv, q7t::Program::kRealCard, std::getenv(q7t::kLogDirVariable),
                            std::getenv(q7t::kLockVariable));
  if (const int status = q7t::AnswerWithoutCard(inv); status >= 0) return status;
  q7t::HardwarePortBus bus;
  // The card may be shared with other processes (a capture, a command from a
  // timer): every sequence of accesses takes the card-wide lock, once it is
  // found to be one that only trusted users can have made.
  const bool usual = inv.lock.empty();
  const std::string path = usual ? q7t::os::kCardLockPath : inv.lock;
  std::string why_not;
  const std::unique_ptr<q7t::os::CardLockFile> card_lock =
      q7t::os::CardLockFile::Open(path, q7t::os::ProcessLockTrust(usual), &why_not);
  if (!card_lock) {
    g_lock_note = std::string(q7t::ProgramName(inv.program)) + ": " + why_not + "\n";
    if (inv.what == q7t::Invocation::What::kCommand) {
      std::fputs(g_lock_note.c_str(), stderr);
      g_lock_note.clear();
    }
  }
  // Below the picture at the end: why the ports were refused, if they were.
  std::unique_ptr<q7t::os::PosixTerminal> terminal;
  if (inv.what == q7t::Invocation::What::kMenu) {
    terminal = q7t::TakeTerminal(WriteEndNotes);
    if (!terminal) return 1;
  }
  return q7t::RunTool(inv, {.bus = &bus,
                            .card_lock = card_lock.get(),
                            .log_dir = inv.log_dir,
                            .terminal = terminal.get()});
}
