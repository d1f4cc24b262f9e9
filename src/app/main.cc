// q7tlog: the maintenance tool on the real card, through the I/O bus.
#include <cstdlib>
#include <memory>

#include "app/command_line.h"
#include "app/commands.h"
#include "app/tool.h"
#include "card/card_lock.h"
#include "platform/card_lock_file.h"
#include "platform/port_bus_hw.h"
#include "platform/terminal_posix.h"

int main(int argc, char** argv) {
  q7t::Invocation inv =
      q7t::ParseCommandLine(argc, argv, q7t::Program::kRealCard, std::getenv(q7t::kLogDirVariable));
  if (const int status = q7t::AnswerWithoutCard(inv); status >= 0) return status;
  q7t::HardwarePortBus bus;
  // Below the picture at the end: why the ports were refused, if they were.
  q7t::os::SetAfterRestore(q7t::WritePortNotes);
  // The card may be shared with other processes (a capture, a command from a
  // timer): every sequence of accesses takes the card-wide lock. A capture
  // opens the lock it is told to; anything else uses the usual one.
  std::unique_ptr<q7t::os::CardLockFile> card_lock;
  if (inv.command && inv.command->runs_on) {
    if (inv.args.capture.lock_file.empty()) inv.args.capture.lock_file = q7t::os::kCardLockPath;
  } else {
    card_lock = q7t::os::CardLockFile::Open(q7t::os::kCardLockPath, nullptr);
    q7t::SetCardLockStore(card_lock.get());
  }
  return q7t::RunTool(bus, inv);
}
