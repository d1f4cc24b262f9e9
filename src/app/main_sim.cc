// q7tlog-sim: the same tool with the virtual card answering at its ports.
// A device path (or --device) names a serial device the virtual card listens
// on; the menu without one has the built-in instrument sending to it.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/capture_command.h"
#include "app/command_line.h"
#include "app/commands.h"
#include "app/tool.h"
#include "card/card.h"
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
  q7t::SetEndNote([] { return device != nullptr ? device->Report() : std::string(); });
  if (inv.command && inv.command->runs_on) {
    q7t::SetCaptureNews([] { return device != nullptr ? device->TakeNews() : std::string(); });
    // This card is the capture's own: its line runs at the rate the capture
    // plans for, as an operator sets the real one.
    q7t::SetPortBus(card.get());
    q7t::CardSetDivisor(q7t::BaudDivisor(inv.args.capture.baud));
    q7t::SetPortBus(nullptr);
  }
  return q7t::RunTool(*card, inv);
}
