// The recording port bus: a log per access, answers from a register map.
#include "support/recording_port_bus.h"

#include <string>
#include <utility>

namespace q7t::test {

std::string Hex2(int value) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[(value >> 4) & 0xF], kDigits[value & 0xF]};
}

namespace {

// A byte as the tables write it; anything that is not a byte shows as itself,
// so a value that reached the bus uncut stands out in the log.
std::string ByteText(int value) {
  return value >= 0 && value <= 0xFF ? Hex2(value) : "?" + std::to_string(value);
}

}  // namespace

void RecordingPortBus::Log(const std::string& entry, bool starts_group) {
  if (!log_.empty()) log_ += starts_group ? "; " : ", ";
  log_ += entry;
}

int RecordingPortBus::In(std::uint16_t port) {
  if (port == base_ + 1) {
    Log("idx rd", true);
    return selected_ & 0xFF;
  }
  if (port != base_) {
    Log("in " + Hex2(port >> 8) + Hex2(port), true);
    return 0xFF;
  }
  int value = default_value_;
  if (selected_ == 0x3B && !log_bytes_.empty()) {
    value = log_bytes_.front();
    log_bytes_.pop_front();
  } else if (auto it = registers_.find(selected_); it != registers_.end()) {
    value = it->second;
  }
  Log("rd", false);
  reads_.push_back(value);
  return value;
}

void RecordingPortBus::Out(std::uint16_t port, int value) {
  if (port == base_ + 1) {
    selected_ = value & 0xFF;
    Log("idx " + ByteText(value), true);
  } else if (port == base_) {
    Log("wr " + ByteText(value), false);
  } else {
    Log("out " + Hex2(port >> 8) + Hex2(port) + " " + ByteText(value), true);
  }
}

std::string RecordingPortBus::Take() {
  return std::exchange(log_, {});
}

std::vector<int> RecordingPortBus::TakeReads() {
  return std::exchange(reads_, {});
}

std::string SaveSequence(int mode, int reads) {
  std::string s =
      "idx 3A, wr " + Hex2(mode | 0x10) + "; idx 3B, wr 01; idx 38, rd; idx 39, rd; idx 3B";
  for (int k = 0; k < reads; ++k) s += ", rd";
  return s + "; idx 3A, wr " + Hex2(mode);
}

}  // namespace q7t::test
