// q7tlog: the maintenance tool on the real card, through the I/O bus.
#include <string_view>

#include "app/capture_command.h"
#include "app/tool.h"
#include "card/card_lock.h"
#include "platform/card_lock_file.h"
#include "platform/port_bus_hw.h"

int main(int argc, char** argv) {
  q7t::HardwarePortBus bus;
  if (argc > 1 && std::string_view(argv[1]) == "capture") {
    return q7t::CaptureMain(argc - 1, argv + 1, bus, true);
  }
  // The card may be shared with a capture: take the card-wide lock too.
  auto card_lock = q7t::os::CardLockFile::Open(q7t::os::kCardLockPath, nullptr);
  q7t::SetCardLockStore(card_lock.get());
  return q7t::RunTool(bus);
}
