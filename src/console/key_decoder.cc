// The key decoder's byte reader: a state machine over ESC, CSI, SS3 and UTF-8
// that keeps parsed parameters, never the raw bytes, so no input grows it.
#include "console/key_decoder.h"

#include <algorithm>
#include <utility>

namespace q7t {
namespace {

using keyforms::kAlt;
using keyforms::kCtrl;
using keyforms::Key;
using keyforms::KeyEvent;
using keyforms::kShift;

constexpr std::uint8_t kEscByte = 0x1B;
constexpr int kParamLimit = 9'999'999;  // parameters saturate here

// The modifier bits of a terminal's modifier parameter (1 + bits); kitty's
// Caps Lock and Num Lock bits and the Super/Hyper/Meta bits are not part of
// the key code table.
std::uint8_t Mods(int param) {
  if (param <= 1) return 0;
  return static_cast<std::uint8_t>((param - 1) & (kShift | kAlt | kCtrl));
}

KeyEvent AltChar(char ch) {
  return KeyEvent{Key::kChar, static_cast<char32_t>(ch), kAlt, false};
}

bool IsControl(std::uint8_t byte) {
  return byte < 0x20 || byte >= 0x7F;
}

}  // namespace

void KeyDecoder::Feed(std::uint8_t byte) {
  Step(byte);
}

void KeyDecoder::Step(std::uint8_t byte) {
  switch (state_) {
    case State::kGround:
      Ground(byte, false);
      break;
    case State::kEsc:
      AfterEsc(byte);
      break;
    case State::kEscEsc:
      AfterEscEsc(byte);
      break;
    case State::kCsi:
      InCsi(byte);
      break;
    case State::kLinuxFn:
      InLinuxFn(byte);
      break;
    case State::kSs3:
      InSs3(byte);
      break;
    case State::kMouse:
      InMouse();
      break;
    case State::kUtf8:
      InUtf8(byte);
      break;
  }
}

void KeyDecoder::Idle(int elapsed_ms) {
  if (state_ != State::kGround && elapsed_ms >= kEscWaitMs) Timeout();
}

bool KeyDecoder::Pending() const {
  return state_ != State::kGround;
}

bool KeyDecoder::TakeKittyReply(int* flags) {
  if (!has_kitty_reply_) return false;
  has_kitty_reply_ = false;
  if (flags) *flags = kitty_flags_;
  return true;
}

bool KeyDecoder::TakeDeviceAttributes() {
  if (device_attributes_ == 0) return false;
  --device_attributes_;
  return true;
}

SignalKey KeyDecoder::TakeSignalKey() {
  return std::exchange(signal_key_, SignalKey::kNone);
}

// Nothing followed within the wait: a lone Esc is the Esc key; ESC [ and ESC O
// are Alt+[ and Alt+Shift+O, whose bytes are the CSI and SS3 introducers; any
// other unfinished sequence is dropped.
void KeyDecoder::Timeout() {
  const State state = std::exchange(state_, State::kGround);
  if (state == State::kEsc) Emit(KeyEvent{Key::kEsc});
  if (state == State::kEscEsc) Emit(KeyEvent{Key::kEsc, 0, kAlt});
  if (state == State::kCsi && seq_len_ == 0) Emit(AltChar('['));
  if (state == State::kSs3 && seq_len_ == 0) Emit(AltChar('O'));
}

void KeyDecoder::Ground(std::uint8_t byte, bool alt) {
  if (byte == kEscByte) {
    state_ = State::kEsc;
  } else if (byte >= 0x80) {
    StartUtf8(byte, alt);
  } else {
    Emit(keyforms::ByteEvent(byte, alt ? kAlt : 0));
  }
}

// ESC then a key is Alt with that key, except for the sequence introducers.
void KeyDecoder::AfterEsc(std::uint8_t byte) {
  state_ = State::kGround;
  if (byte == '[') {
    StartSequence(State::kCsi, false);
  } else if (byte == 'O') {
    StartSequence(State::kSs3, false);
  } else if (byte == kEscByte) {
    state_ = State::kEscEsc;
  } else {
    Ground(byte, true);
  }
}

// ESC ESC is Alt+Esc, or (rxvt) Alt with the sequence that follows.
void KeyDecoder::AfterEscEsc(std::uint8_t byte) {
  state_ = State::kGround;
  if (byte == '[') {
    StartSequence(State::kCsi, true);
  } else if (byte == 'O') {
    StartSequence(State::kSs3, true);
  } else {
    Emit(KeyEvent{Key::kEsc, 0, kAlt});
    Step(byte);
  }
}

void KeyDecoder::StartSequence(State state, bool alt) {
  state_ = state;
  alt_ = alt;
  seq_len_ = 0;
  spoiled_ = false;
  prefix_ = 0;
  intermediate_ = 0;
  std::fill(std::begin(params_), std::end(params_), 0);
  std::fill(std::begin(subs_), std::end(subs_), -1);
  param_count_ = 1;
  sub_index_ = 0;
}

// A control byte, Delete or a non-ASCII byte ends the sequence before its
// final byte: the sequence is dropped (an introducer alone is Alt with its
// key) and the byte is read afresh.
void KeyDecoder::CutOff(std::uint8_t byte, bool nothing_read) {
  const State state = std::exchange(state_, State::kGround);
  if (nothing_read) Emit(AltChar(state == State::kCsi ? '[' : 'O'));
  Step(byte);
}

void KeyDecoder::InCsi(std::uint8_t byte) {
  const bool first = seq_len_ == 0;
  if (seq_len_ < kMaxSequence) {
    ++seq_len_;
  } else {
    spoiled_ = true;
  }
  if (byte >= '0' && byte <= '9') {
    AddDigit(byte - '0');
  } else if (byte == ';') {
    if (++param_count_ > kMaxParams) spoiled_ = true;
    sub_index_ = 0;
  } else if (byte == ':') {
    ++sub_index_;
  } else if (byte >= 0x3C && byte <= 0x3F) {
    if (!first) spoiled_ = true;
    prefix_ = static_cast<char>(byte);
  } else if (byte == '[' && first) {
    state_ = State::kLinuxFn;
  } else if (byte == '$' && prefix_ == 0 && intermediate_ == 0) {
    FinishCsi(byte);  // rxvt: $ in place of ~ means Shift
  } else if (byte >= 0x20 && byte <= 0x2F) {
    intermediate_ = static_cast<char>(byte);
  } else if (byte >= 0x40 && byte <= 0x7E) {
    FinishCsi(byte);
  } else {
    CutOff(byte, first);
  }
}

void KeyDecoder::AddDigit(int digit) {
  if (param_count_ > kMaxParams) return;
  const int at = param_count_ - 1;
  int* value = nullptr;
  if (sub_index_ == 0) value = &params_[at];
  if (sub_index_ == 1) value = &subs_[at];
  if (!value) return;  // later sub-parameters carry nothing the keys need
  if (*value < 0) *value = 0;
  *value = std::min(kParamLimit, *value * 10 + digit);
}

void KeyDecoder::FinishCsi(std::uint8_t final_byte) {
  state_ = State::kGround;
  if (spoiled_) return;
  if (prefix_ == '?') {
    // Answers to the platform's start-up queries.
    if (final_byte == 'u' && param_count_ == 1) {
      has_kitty_reply_ = true;
      kitty_flags_ = params_[0];
    }
    if (final_byte == 'c' && device_attributes_ < kMaxAnswers) ++device_attributes_;
    return;
  }
  if (prefix_ != 0 || intermediate_ != 0) return;  // other replies and reports
  if (final_byte == 'M' && seq_len_ == 1) {
    state_ = State::kMouse;  // X10 mouse report: three bytes follow
    mouse_left_ = 3;
  } else if (final_byte == 'u') {
    NoteSignalKey();
    KittyKey(params_[0], subs_[0], params_[1], subs_[1]);
  } else if (keyforms::FindForm(keyforms::kRxvtSuffixForms, final_byte)) {
    CsiNumber(final_byte);
  } else {
    CsiLetter(final_byte);
  }
}

// CSI code[:alternates] ; modifiers[:event] u with Ctrl as the only modifier
// (Caps Lock and Num Lock aside), not a release: a signal key when the code
// is c, z or \\.
void KeyDecoder::NoteSignalKey() {
  constexpr int kLocks = 64 | 128, kRelease = 3;
  if (signal_key_ != SignalKey::kNone || param_count_ < 2 || subs_[1] == kRelease) return;
  if (((params_[1] - 1) & ~kLocks) != kCtrl) return;
  if (params_[0] == 'c') signal_key_ = SignalKey::kInterrupt;
  if (params_[0] == 'z') signal_key_ = SignalKey::kSuspend;
  if (params_[0] == '\\') signal_key_ = SignalKey::kQuit;
}

// CSI [1;m] <final>. A first parameter other than 1 is a report (a cursor
// position report looks like Shift+F3 only when it is for row 1).
void KeyDecoder::CsiLetter(std::uint8_t final_byte) {
  const KeyEvent* form = keyforms::FindForm(keyforms::kCsiFinalForms, final_byte);
  if (!form || params_[0] > 1 || param_count_ > 2) return;
  KeyEvent event = *form;
  event.mods |= Mods(params_[1]);
  if (alt_) event.mods |= kAlt;
  Emit(event);
}

// CSI <n> [;m] ~, rxvt's CSI <n> $ ^ @, and xterm's CSI 27;m;<code> ~.
void KeyDecoder::CsiNumber(std::uint8_t final_byte) {
  if (final_byte == '~' && params_[0] == 27 && param_count_ == 3) {
    KittyKey(params_[2], -1, params_[1], -1);
    return;
  }
  const KeyEvent* form = keyforms::FindForm(keyforms::kCsiNumberForms, params_[0]);
  if (!form || param_count_ > 2 || (final_byte != '~' && param_count_ > 1)) return;
  KeyEvent event = *form;
  event.mods |= keyforms::FindForm(keyforms::kRxvtSuffixForms, final_byte)->mods;
  event.mods |= Mods(params_[1]);
  if (alt_) event.mods |= kAlt;
  Emit(event);
}

// One key of the kitty keyboard protocol (or of tmux extended keys). Releases
// give nothing, except that releasing Alt ends an Alt-compose.
void KeyDecoder::KittyKey(int code, int shifted, int mods_param, int event_type) {
  const bool events_reported = event_type >= 0;
  std::uint8_t mods = Mods(mods_param);
  if (alt_) mods |= kAlt;
  if (code == keyforms::kKittyLeftAlt || code == keyforms::kKittyRightAlt) {
    if (event_type == 3 && composing_ && compose_ != 0) {
      Push(KeyCode(1, static_cast<char>(compose_)));
    }
    if (event_type == 3) {
      composing_ = false;
      compose_ = 0;
    }
    return;
  }
  if (event_type == 3) return;
  const int digit = code - keyforms::kKittyKpDigit0;
  if (digit >= 0 && digit <= 9 && (mods & kAlt)) {
    KeypadDigitWithAlt(digit, events_reported);
    return;
  }
  if (digit >= 0 && digit <= 9) {
    Emit(KeyEvent{Key::kChar, static_cast<char32_t>('0' + digit), mods, true});
    return;
  }
  if (const KeyEvent* form = keyforms::FindForm(keyforms::kKittyForms, code)) {
    KeyEvent event = *form;
    event.mods |= mods;
    Emit(event);
    return;
  }
  const bool private_use = code >= 0xE000 && code <= 0xF8FF;
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  if (code <= 0 || code > 0x10FFFF || private_use || surrogate) return;
  char32_t ch = static_cast<char32_t>(code);
  if (mods & kShift) ch = shifted > 0 ? static_cast<char32_t>(shifted) : keyforms::ShiftedUs(ch);
  Emit(KeyEvent{Key::kChar, ch, mods, false});
}

// With key releases reported, the digits build the compose number; without
// them each digit is a compose of its own (the character of that digit, and
// nothing for 0).
void KeyDecoder::KeypadDigitWithAlt(int digit, bool events_reported) {
  if (!events_reported) {
    Emit(KeyEvent{Key::kChar, static_cast<char32_t>(digit)});
    return;
  }
  compose_ = (compose_ * 10 + digit) % 256;
  composing_ = true;
}

void KeyDecoder::InLinuxFn(std::uint8_t byte) {
  state_ = State::kGround;
  if (const KeyEvent* form = keyforms::FindForm(keyforms::kLinuxFnForms, byte)) {
    KeyEvent event = *form;
    if (alt_) event.mods |= kAlt;
    Emit(event);
  } else if (IsControl(byte)) {
    Step(byte);
  }
}

// SS3 [m] <final>; the modifier digits are xterm's and tmux's (SS3 5 M).
void KeyDecoder::InSs3(std::uint8_t byte) {
  const bool first = seq_len_ == 0;
  if (seq_len_ < 4) {
    ++seq_len_;
  } else {
    spoiled_ = true;  // SS3 carries at most a short modifier
  }
  if (byte >= '0' && byte <= '9') {
    params_[0] = std::min(kParamLimit, params_[0] * 10 + (byte - '0'));
    return;
  }
  if (IsControl(byte)) {
    CutOff(byte, first);
    return;
  }
  state_ = State::kGround;
  const KeyEvent* form = nullptr;
  if (linux_console_ && num_lock_) form = keyforms::FindForm(keyforms::kLinuxNumLockSs3Forms, byte);
  if (linux_console_ && !form) form = keyforms::FindForm(keyforms::kLinuxSs3Forms, byte);
  if (!form) form = keyforms::FindForm(keyforms::kSs3Forms, byte);
  if (!form || spoiled_) return;
  KeyEvent event = *form;
  event.mods |= Mods(params_[0]);
  if (alt_) event.mods |= kAlt;
  Emit(event);
}

void KeyDecoder::InMouse() {
  if (--mouse_left_ <= 0) state_ = State::kGround;
}

void KeyDecoder::StartUtf8(std::uint8_t lead, bool alt) {
  utf8_low_ = 0x80;
  utf8_high_ = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    utf8_left_ = 1;
    cp_ = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    utf8_left_ = 2;
    cp_ = lead & 0x0F;
    if (lead == 0xE0) utf8_low_ = 0xA0;   // overlong
    if (lead == 0xED) utf8_high_ = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    utf8_left_ = 3;
    cp_ = lead & 0x07;
    if (lead == 0xF0) utf8_low_ = 0x90;   // overlong
    if (lead == 0xF4) utf8_high_ = 0x8F;  // above U+10FFFF
  } else {
    return;  // a stray continuation byte or a byte UTF-8 never uses
  }
  alt_ = alt;
  state_ = State::kUtf8;
}

void KeyDecoder::InUtf8(std::uint8_t byte) {
  if (byte < utf8_low_ || byte > utf8_high_) {
    state_ = State::kGround;  // invalid: the character so far is dropped
    Step(byte);
    return;
  }
  cp_ = (cp_ << 6) | (byte & 0x3F);
  utf8_low_ = 0x80;
  utf8_high_ = 0xBF;
  if (--utf8_left_ > 0) return;
  state_ = State::kGround;
  CodePoint(cp_, alt_);
}

// xterm's default Alt sets bit 8 and sends the result UTF-8 encoded, so
// U+0080..U+00FF over a key that has an Alt code is Alt with that key (Alt+a
// arrives as U+00E1). Every other character is typed text.
void KeyDecoder::CodePoint(char32_t cp, bool alt) {
  const auto low = static_cast<std::uint8_t>(cp & 0x7F);
  if (cp <= 0xFF && keyforms::HasAltCode(low)) {
    Emit(keyforms::ByteEvent(low, kAlt));
  } else {
    Emit(KeyEvent{Key::kChar, cp, static_cast<std::uint8_t>(alt ? kAlt : 0)});
  }
}

void KeyDecoder::Emit(KeyEvent event) {
  KeyCode code = keyforms::PcCode(event);
  if (code.empty()) return;
  compose_ = 0;  // any key that gives a code starts the compose number afresh
  composing_ = false;
  Push(std::move(code));
}

void KeyDecoder::Push(KeyCode code) {
  queue_.Push(std::move(code));
}

}  // namespace q7t
