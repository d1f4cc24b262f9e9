// q7tlog-sim: the same tool with the virtual card answering at its ports.
// A device path (or --device) names a serial device the virtual card listens
// on; the menu without one has the built-in instrument sending to it.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/commands.h"
#include "app/tool.h"
#include "sim/sim_card.h"

int main(int argc, char** argv) {
  const q7t::Invocation inv = q7t::ParseCommandLine(argc, argv, q7t::Program::kVirtualCard,
                                                    std::getenv(q7t::kLogDirVariable));
  if (const int status = q7t::AnswerWithoutCard(inv); status >= 0) return status;
  std::string error;
  // A one-shot command meets the card at power-on: nothing received yet.
  const bool instrument = inv.what == q7t::Invocation::What::kMenu;
  auto card = q7t::StartSimCard(inv.device, instrument, &error);
  if (!card) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  // A serial device that went away meanwhile is reported at the end, after
  // the screens; a capture tells it as it happens.
  static q7t::SerialDeviceSource* device = card->device();
  std::unique_ptr<q7t::os::PosixTerminal> terminal;
  if (inv.what == q7t::Invocation::What::kMenu) {
    terminal = q7t::TakeTerminal(nullptr);
    if (!terminal) return 1;
  }
  return q7t::RunTool(
      inv, {.bus = card.get(),
            .log_dir = inv.log_dir,
            .terminal = terminal.get(),
            .end_note = [] { return device != nullptr ? device->Report() : std::string(); },
            .capture_news = [] { return device != nullptr ? device->TakeNews() : std::string(); },
            // This card is the capture's own.
            .capture_sets_line_rate = true});
}
