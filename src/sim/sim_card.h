// q7tlog-sim's card: the virtual card wired to its source (the built-in
// instrument, or the serial device named on the command line).
#pragma once

#include <memory>
#include <string>

#include "card/port_bus.h"
#include "sim/instrument.h"
#include "sim/serial_device.h"
#include "sim/virtual_card.h"

namespace q7t {

class SimCard : public PortBus {
 public:
  SimCard() = default;
  SimCard(const SimCard&) = delete;
  SimCard& operator=(const SimCard&) = delete;

  int In(std::uint16_t port) override { return card_.In(port); }
  void Out(std::uint16_t port, int value) override { card_.Out(port, value); }

  VirtualCard& card() { return card_; }
  // The device source, or nullptr with the built-in instrument.
  SerialDeviceSource* device() { return device_.get(); }

 private:
  friend std::unique_ptr<SimCard> StartSimCard(const std::string&, bool, std::string*);

  // The sources are destroyed first: their threads stop before the card goes.
  VirtualCard card_;
  std::unique_ptr<InstrumentSource> instrument_;
  std::unique_ptr<SerialDeviceSource> device_;
};

// The virtual card listening on the serial device `device`; with no device,
// fed by the built-in instrument when `instrument` is true, else by nothing.
// nullptr and one line for stderr in `*error` when the device cannot be opened.
std::unique_ptr<SimCard> StartSimCard(const std::string& device, bool instrument,
                                      std::string* error);

}  // namespace q7t
