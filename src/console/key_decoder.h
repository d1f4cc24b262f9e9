// The key decoder: turns the byte sequences terminals send (xterm, VT220,
// Linux console, rxvt-unicode, VTE, tmux, the kitty keyboard protocol) into
// the system's key codes. Bytes and elapsed time in, key codes out; no I/O.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "console/key_codes.h"

namespace q7t {

class KeyDecoder {
 public:
  // One terminal byte; may complete one or more keys.
  void Feed(std::uint8_t byte);
  // `elapsed_ms` passed with no further byte: an Esc with nothing after it
  // within kEscWaitMs becomes KeyEsc; a cut-off sequence is dropped whole.
  void Idle(int elapsed_ms);
  // The next decoded key code, or the empty text when none is ready.
  KeyCode Take();
  // True while bytes wait for more (so the caller knows to call Idle later).
  bool Pending() const;

  static constexpr int kEscWaitMs = 50;

 private:
  std::string buf_;  // bytes of an incomplete sequence
  int waited_ms_ = 0;
  std::deque<KeyCode> ready_;
};

}  // namespace q7t
