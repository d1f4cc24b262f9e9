// The console on a real terminal: raw keyboard input with signals left on,
// output written whole, and the terminal's modes given back on every way
// out (normal exit, Ctrl+C, termination, crash signals, suspend).
#pragma once

#include <memory>
#include <string>

#include "console/terminal.h"

namespace q7t::os {

class PosixTerminal : public Terminal {
 public:
  // Takes over the terminal that `in_fd` reads keys from and `out_fd`
  // draws on (one terminal, which may be open read-only on `in_fd`): saves
  // its modes, enters raw mode, installs the signal handlers. Once the modes
  // are given back at the end (on every way out: orderly end, hang-up, the
  // fatal signals) `after_restore` runs, if given, so that it can leave a
  // last word on stderr below the picture; it must be async-signal-safe. Null with
  // `*err` set (what is missing, in words) when either is not a terminal,
  // the terminal cannot move the cursor
  // (TERM=dumb), its modes cannot be set or the first write to it fails. A
  // later write that fails for any reason but a hang-up stops all writes and
  // is told by Writable, for the console to end the program.
  static std::unique_ptr<PosixTerminal> Start(int in_fd, int out_fd, void (*after_restore)(),
                                              std::string* err);
  ~PosixTerminal() override;  // Restore()
  PosixTerminal(const PosixTerminal&) = delete;
  PosixTerminal& operator=(const PosixTerminal&) = delete;

  // Puts the saved modes back and shows the cursor; the picture stays.
  void Restore();
  // True when the locale's character set is UTF-8.
  bool Utf8() const { return utf8_; }
  // The terminal's type: "linux" on a Linux virtual console whatever TERM
  // says, otherwise TERM ("" when unset).
  std::string TermName() const;

  void Write(std::string_view bytes) override;
  bool Writable(std::string* err) const override;
  bool ReadAvailable(std::string& out) override;
  void WaitInput(int timeout_ms) override;
  void Sleep(int ms) override;
  std::int64_t NowMs() override;
  void Bell() override;
  Events TakeEvents() override;
  void KeyboardProtocolOffered() override;
  bool NumLockOn() override;
  // True on a Linux console in VGA text mode.
  bool BrightBackgroundsBlink() const override;
  void SignalKeyPressed(SignalKey key) override;

 private:
  PosixTerminal(int in_fd, int out_fd) : in_fd_(in_fd), out_fd_(out_fd) {}
  bool EnterRaw();

  int in_fd_;
  int out_fd_;
  bool utf8_ = true;
  bool linux_console_ = false;
  bool first_events_ = true;
  bool ended_ = false;
  bool write_failed_ = false;  // a write failed, not for a hang-up
  int write_errno_ = 0;        // and why
  bool kitty_keys_ = false;    // the disambiguate mode is pushed
};

}  // namespace q7t::os
