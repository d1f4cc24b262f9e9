// The seam between the console layer and the terminal it lives on. The
// platform implements it for a real tty; tests implement it in memory.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace q7t {

// The bytes that leave a terminal's colours at their defaults and its cursor
// shown, for handing it back (the picture stays).
inline constexpr std::string_view kTerminalRestore = "\x1b[m\x1b[?25h";

// The keys from which a terminal's line discipline makes signals (Ctrl+C,
// Ctrl+Z, Ctrl+\\), when a keyboard protocol sends them as key sequences.
enum class SignalKey : std::uint8_t { kNone, kInterrupt, kSuspend, kQuit };

class Terminal {
 public:
  virtual ~Terminal() = default;

  // Writes all of `bytes` to the terminal (one write per call where possible).
  virtual void Write(std::string_view bytes) = 0;
  // False once a write has failed for any reason but the terminal going away,
  // with what failed in `*err` (in words); nothing is written after it. The
  // console then ends the program with that reason and status 1.
  virtual bool Writable(std::string* /*err*/) const { return true; }
  // Appends whatever input is waiting to `out` without waiting. Returns false
  // once input has ended for good (end of file, hang-up, read error).
  virtual bool ReadAvailable(std::string& out) = 0;
  // Blocks until input may be waiting, an event arrives (resize, resume,
  // hang-up) or `timeout_ms` passes; a negative timeout waits without limit.
  virtual void WaitInput(int timeout_ms) = 0;
  // Blocks for `ms` milliseconds; input does not cut it short.
  virtual void Sleep(int ms) = 0;
  // Milliseconds on a steady clock.
  virtual std::int64_t NowMs() = 0;
  // The 1000 Hz, 250 ms beep (BEL where the terminal has no tone of its own).
  virtual void Bell() = 0;

  struct Events {
    bool repaint = false;    // the terminal may have lost its picture (resize, resume)
    bool hangup = false;     // the terminal is gone
    int rows = 0, cols = 0;  // window size when repaint is set (0: unknown)
  };
  // Events since the last call.
  virtual Events TakeEvents() { return {}; }
  // The terminal answered that it speaks the kitty keyboard protocol (its
  // reply to the query the platform sends at start): the platform may now
  // turn on its disambiguate mode.
  virtual void KeyboardProtocolOffered() {}
  // Num Lock is on, where the terminal can tell (the Linux console): its
  // keypad then sends the same forms in application mode either way.
  virtual bool NumLockOn() { return false; }
  // A bright background can only be had by blinking (the Linux console in
  // VGA text mode): the console then draws backgrounds steady.
  virtual bool BrightBackgroundsBlink() const { return false; }
  // A signal key arrived as a key sequence: the platform raises its signal
  // where the keyboard protocol kept the line discipline from doing so.
  virtual void SignalKeyPressed(SignalKey) {}
};

}  // namespace q7t
