// The virtual card's registers, commands and receiving.
#include "sim/virtual_card.h"

#include <utility>

namespace q7t {

namespace {

constexpr int kFlag = 0x8000;
constexpr int kCountMask = 0x7FFF;
constexpr int kHoldBit = 0x10;

}  // namespace

int VirtualCard::In(std::uint16_t port) {
  std::lock_guard lock(mutex_);
  if (port == base_ + 1) return state_.selected;
  if (port != base_) return 0xFF;
  switch (state_.selected) {
    case 0x38:
      return state_.read_counter & 0xFF;
    case 0x39:
      return (state_.read_counter >> 8) & 0xFF;
    case 0x3A:
      return state_.mode;
    case 0x3B: {
      const int byte = buffer_[static_cast<std::size_t>(state_.read_pos)];
      state_.read_pos = (state_.read_pos + 1) % kBufferSize;
      return byte;
    }
    default:
      return 0xFF;
  }
}

void VirtualCard::Out(std::uint16_t port, int value) {
  std::lock_guard lock(mutex_);
  if (port == base_ + 1) {
    state_.selected = value & 0xFF;
  } else if (port == base_) {
    WriteRegister(value & 0xFF);
  }
}

void VirtualCard::WriteRegister(int value) {
  const int old_divisor = state_.divisor;
  switch (state_.selected) {
    case 0x38:
      state_.divisor = (state_.divisor & 0xFF00) | value;
      break;
    case 0x39:
      state_.divisor = (state_.divisor & 0x00FF) | (value << 8);
      break;
    case 0x3A:
      state_.mode = value;
      if (!(value & kHoldBit)) Release();
      break;
    case 0x3B:
      Command(value);
      break;
    default:
      break;
  }
  if (state_.divisor != old_divisor && divisor_listener_) divisor_listener_(state_.divisor);
}

void VirtualCard::Command(int value) {
  if (value == 0x01) {
    state_.read_counter = state_.write_counter;
    // The oldest stored byte: the write position once the buffer has wrapped.
    state_.read_pos = (state_.write_counter & kFlag) ? state_.write_pos : 0;
  } else if (value == 0x02) {
    state_.write_counter = 0;
    state_.write_pos = 0;
  }
}

void VirtualCard::Receive(std::string_view bytes) {
  std::lock_guard lock(mutex_);
  if (state_.divisor == 0) return;  // receiver off: the bytes are lost
  if (state_.mode & kHoldBit) {
    Hold(bytes);
    return;
  }
  for (char c : bytes) Store(static_cast<std::uint8_t>(c));
}

void VirtualCard::Store(std::uint8_t byte) {
  buffer_[static_cast<std::size_t>(state_.write_pos)] = byte;
  Skip(1);
}

// Moves the write position and the counter on by `count` bytes.
void VirtualCard::Skip(std::uint64_t count) {
  const std::uint64_t end = static_cast<std::uint64_t>(state_.write_pos) + count;
  const int flag = (state_.write_counter & kFlag) | (end >= kBufferSize ? kFlag : 0);
  state_.write_pos = static_cast<int>(end % kBufferSize);
  const auto counted = static_cast<std::uint64_t>(state_.write_counter & kCountMask) + count;
  state_.write_counter = flag | static_cast<int>(counted & kCountMask);
}

void VirtualCard::Hold(std::string_view bytes) {
  held_.append(bytes);
  if (held_.size() >= 2 * static_cast<std::size_t>(kBufferSize)) {
    const std::size_t extra = held_.size() - kBufferSize;
    held_skipped_ += extra;
    held_.erase(0, extra);
  }
}

void VirtualCard::Release() {
  Skip(held_skipped_);
  for (char c : held_) Store(static_cast<std::uint8_t>(c));
  held_.clear();
  held_skipped_ = 0;
}

int VirtualCard::Divisor() const {
  std::lock_guard lock(mutex_);
  return state_.divisor;
}

void VirtualCard::SetDivisorListener(std::function<void(int)> listener) {
  std::lock_guard lock(mutex_);
  divisor_listener_ = std::move(listener);
}

VirtualCard::State VirtualCard::Snapshot() const {
  std::lock_guard lock(mutex_);
  State s = state_;
  s.held = static_cast<std::size_t>(held_skipped_) + held_.size();
  return s;
}

std::string VirtualCard::Buffer() const {
  std::lock_guard lock(mutex_);
  return std::string(buffer_.begin(), buffer_.end());
}

}  // namespace q7t
