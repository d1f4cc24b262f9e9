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
  // Takes over the terminal on `fd` (read and written): saves its modes,
  // enters raw mode, installs the signal handlers. Null with `*err` set when
  // `fd` is not a terminal or its modes cannot be set.
  static std::unique_ptr<PosixTerminal> Start(int fd, std::string* err);
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
  bool ReadAvailable(std::string& out) override;
  void WaitInput(int timeout_ms) override;
  void Sleep(int ms) override;
  std::int64_t NowMs() override;
  void Bell() override;
  Events TakeEvents() override;
  void KeyboardProtocolOffered() override;
  void SignalKeyPressed(SignalKey key) override;

 private:
  explicit PosixTerminal(int fd) : fd_(fd) {}
  bool EnterRaw();

  int fd_;
  bool utf8_ = true;
  bool linux_console_ = false;
  bool first_events_ = true;
  bool ended_ = false;
  bool kitty_keys_ = false;  // the disambiguate mode is pushed
};

}  // namespace q7t::os
