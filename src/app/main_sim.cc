// q7tlog-sim: the same tool with the virtual card answering at its ports.
// An argument names a serial device the virtual card listens on.
#include <cstdio>
#include <string>
#include <string_view>

#include "app/capture_command.h"
#include "app/tool.h"
#include "sim/sim_card.h"

int main(int argc, char** argv) {
  // "capture" after the optional DEVICE: the capture command on this card.
  int capture_at = 0;
  for (int i = 1; i <= 2 && i < argc && capture_at == 0; ++i) {
    if (std::string_view(argv[i]) == "capture") capture_at = i;
  }
  std::string error;
  auto card = q7t::StartSimCard(capture_at ? capture_at : argc, argv, &error);
  if (!card) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  // The virtual card lives in this process alone: no card-wide lock file.
  if (capture_at) return q7t::CaptureMain(argc - capture_at, argv + capture_at, *card, false);
  return q7t::RunTool(*card);
}
