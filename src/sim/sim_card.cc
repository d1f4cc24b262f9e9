// Wiring the virtual card to the source the command line names.
#include "sim/sim_card.h"

namespace q7t {

std::unique_ptr<SimCard> StartSimCard(int argc, char** argv, std::string* error) {
  auto sim = std::make_unique<SimCard>();
  if (argc <= 1) {
    sim->instrument_ = std::make_unique<InstrumentSource>(sim->card_);
    return sim;
  }
  if (argc > 2) {
    if (error) *error = "usage: q7tlog-sim [DEVICE]";
    return nullptr;
  }
  std::string reason;
  sim->device_ = SerialDeviceSource::Open(argv[1], sim->card_, &reason);
  if (!sim->device_) {
    if (error) *error = std::string("q7tlog-sim: cannot open ") + argv[1] + ": " + reason;
    return nullptr;
  }
  return sim;
}

}  // namespace q7t
