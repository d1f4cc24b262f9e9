// A port bus for tests that logs every access the way the port access tables
// are written ("idx 3A, wr 15; idx 3B, wr 01") and answers data reads from a
// programmable register map.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "card/port_bus.h"

namespace q7t::test {

class RecordingPortBus : public PortBus {
 public:
  explicit RecordingPortBus(int base = 0x350) : base_(base) {}

  int In(std::uint16_t port) override;
  void Out(std::uint16_t port, int value) override;

  // What a data read of register `index` returns (default: `default_value`).
  void SetRegister(int index, int value) { registers_[index] = value; }
  void SetDefault(int value) { default_value_ = value; }
  // Values that successive data reads of register 0x3B return, in order;
  // once used up, reads of 0x3B fall back to the register map.
  void SetLogBytes(const std::vector<int>& values) {
    log_bytes_.assign(values.begin(), values.end());
  }

  // The access log since the last Take, and clears it. An index write starts
  // a group ("idx 3A"); the data accesses after it join it (", wr 15", ", rd").
  std::string Take();
  // The values the data reads returned, in order, since the last TakeReads.
  std::vector<int> TakeReads();
  int selected() const { return selected_; }

 private:
  void Log(const std::string& entry, bool starts_group);

  int base_;
  int selected_ = -1;
  int default_value_ = 0;
  std::map<int, int> registers_;
  std::deque<int> log_bytes_;
  std::string log_;
  std::vector<int> reads_;
};

// "XX": two upper-case hex digits of the low byte.
std::string Hex2(int value);
// The S command's expected log for mode value `mode` (`reads` data reads of 0x3B).
std::string SaveSequence(int mode, int reads = 8192);

}  // namespace q7t::test
