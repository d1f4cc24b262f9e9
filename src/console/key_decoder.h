// The key decoder: turns the byte sequences terminals send (xterm, VT220,
// Linux console, rxvt-unicode, VTE, tmux, the kitty keyboard protocol) into
// the system's key codes. Bytes and elapsed time in, key codes out; no I/O.
#pragma once

#include <cstdint>
#include <string>

#include "console/key_codes.h"
#include "console/key_forms.h"
#include "console/key_queue.h"
#include "console/terminal.h"

namespace q7t {

// Input is UTF-8. A sequence the decoder does not know, a cut-off sequence and
// invalid UTF-8 are dropped whole; no byte stream grows its state without
// bound or leaves it waiting after an Idle of kEscWaitMs.
//
// The kitty keyboard protocol is read in every mode; the platform pushes flag 1
// (`CSI > 1 u`). With event types reported as well (flags 2 and 8, which also
// report the Alt key itself), Alt+keypad digits compose a character that is
// delivered when Alt is released; with flag 1 alone no release is ever seen,
// so each Alt+keypad digit delivers the character of that one digit.
class KeyDecoder {
 public:
  // Decoded keys go straight into `queue` (not owned).
  explicit KeyDecoder(KeyQueue& queue) : queue_(queue) {}

  // One terminal byte; may complete one or more keys (into the queue).
  void Feed(std::uint8_t byte);
  // `elapsed_ms` passed with no further byte: an Esc with nothing after it
  // within kEscWaitMs becomes KeyEsc; a cut-off sequence is dropped whole.
  // `elapsed_ms` counts from the last byte fed, so calling it again with a
  // larger value as time goes on is right; calls do not add up.
  void Idle(int elapsed_ms);
  // True while bytes wait for more (so the caller knows to call Idle later).
  bool Pending() const;

  // The answer to the keyboard protocol query `CSI ? u` (`CSI ? <flags> u`):
  // true once per answer received, with the flags the terminal reported.
  bool TakeKittyReply(int* flags);
  // True once per primary device attributes answer (`CSI ? ... c`): the
  // console follows frames with the request to learn when they are shown.
  bool TakeDeviceAttributes();
  // The first signal key (Ctrl alone with C, Z or \\, pressed or repeated)
  // that came as a kitty key sequence since the last call, once.
  SignalKey TakeSignalKey();

  // The terminal is the Linux console: its keypad's application forms apply.
  void SetLinuxConsole(bool on) { linux_console_ = on; }
  // Num Lock is on (known on the Linux console): its application keypad's
  // digit keys then give digits.
  void SetNumLock(bool on) { num_lock_ = on; }

  static constexpr int kEscWaitMs = 50;

 private:
  enum class State : std::uint8_t { kGround, kEsc, kEscEsc, kCsi, kLinuxFn, kSs3, kMouse, kUtf8 };
  static constexpr int kMaxParams = 8;
  static constexpr int kMaxSequence = 64;  // longer CSI/SS3 sequences are no key
  static constexpr int kMaxAnswers = 64;   // device attributes answers kept

  void Step(std::uint8_t byte);
  void Ground(std::uint8_t byte, bool alt);
  void AfterEsc(std::uint8_t byte);
  void AfterEscEsc(std::uint8_t byte);
  void StartSequence(State state, bool alt);
  void InCsi(std::uint8_t byte);
  void AddDigit(int digit);
  void FinishCsi(std::uint8_t final_byte);
  void CsiLetter(std::uint8_t final_byte);
  void CsiNumber(std::uint8_t final_byte);
  void KittyKey(int code, int shifted, int mods, int event_type);
  void NoteSignalKey();
  void KeypadDigitWithAlt(int digit, bool events_reported);
  void InLinuxFn(std::uint8_t byte);
  void InSs3(std::uint8_t byte);
  void CutOff(std::uint8_t byte, bool nothing_read);
  void InMouse();
  void StartUtf8(std::uint8_t lead, bool alt);
  void InUtf8(std::uint8_t byte);
  void CodePoint(char32_t cp, bool alt);
  void Timeout();
  void Emit(keyforms::KeyEvent event);
  void Push(KeyCode code);

  State state_ = State::kGround;
  bool linux_console_ = false;
  bool num_lock_ = false;
  bool alt_ = false;  // an Esc came before the sequence being read

  // The CSI or SS3 sequence being read: its private prefix, intermediate,
  // numeric parameters with their first sub-parameter (-1 when absent).
  int seq_len_ = 0;
  bool spoiled_ = false;  // too long or malformed: read to its end, then dropped
  char prefix_ = 0;
  char intermediate_ = 0;
  int params_[kMaxParams] = {};
  int subs_[kMaxParams] = {};
  int param_count_ = 1;
  int sub_index_ = 0;
  int mouse_left_ = 0;

  // The UTF-8 character being read.
  char32_t cp_ = 0;
  int utf8_left_ = 0;
  std::uint8_t utf8_low_ = 0x80, utf8_high_ = 0xBF;

  // Alt-compose over kitty key events (number modulo 256).
  int compose_ = 0;
  bool composing_ = false;

  bool has_kitty_reply_ = false;
  int kitty_flags_ = 0;
  int device_attributes_ = 0;  // answers not yet taken
  SignalKey signal_key_ = SignalKey::kNone;
  KeyQueue& queue_;
};

}  // namespace q7t
