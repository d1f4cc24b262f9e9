// q7tlog-sim: the same tool with the virtual card answering at its ports.
// An argument names a serial device the virtual card listens on.
#include <cstdio>
#include <string>

#include "app/tool.h"
#include "sim/sim_card.h"

int main(int argc, char** argv) {
  std::string error;
  auto card = q7t::StartSimCard(argc, argv, &error);
  if (!card) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  // A serial device that went away meanwhile is reported at the end, after
  // the screens.
  static q7t::SerialDeviceSource* device = card->device();
  q7t::SetEndNote([] { return device != nullptr ? device->Report() : std::string(); });
  return q7t::RunTool(*card);
}
