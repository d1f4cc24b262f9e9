// Wiring the virtual card to the source the command line names.
#include "sim/sim_card.h"

namespace q7t {

std::unique_ptr<SimCard> StartSimCard(const std::string& device, bool instrument,
                                      std::string* error) {
  auto sim = std::make_unique<SimCard>();
  if (device.empty()) {
    if (instrument) sim->instrument_ = std::make_unique<InstrumentSource>(sim->card_);
    return sim;
  }
  std::string reason;
  sim->device_ = SerialDeviceSource::Open(device, sim->card_, &reason);
  if (!sim->device_) {
    if (error) *error = "q7tlog-sim: cannot open " + device + ": " + reason;
    return nullptr;
  }
  return sim;
}

}  // namespace q7t
