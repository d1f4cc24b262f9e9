// Key forms: the byte forms terminals send for each key, grouped by the family
// that sends them, and the system's key code for every key and modifier. The
// key decoder reads bytes; these tables say what a finished form means.
#pragma once

#include <cstdint>
#include <span>

#include "console/key_codes.h"

namespace q7t::keyforms {

// The keys that have rows of their own in the key code table; kChar is any key
// that produces a character.
// clang-format off
enum class Key : std::uint8_t {
  kChar,
  kF1, kF2, kF3, kF4, kF5, kF6, kF7, kF8, kF9, kF10, kF11, kF12,
  kHome, kUp, kPgUp, kLeft, kRight, kEnd, kDown, kPgDn, kIns, kDel,
  kKp5,  // keypad 5 with Num Lock off
  kTab, kEsc, kBackspace, kEnter,
  kCount
};
// clang-format on

// Modifier bits as terminals number them (their modifier parameter minus 1).
inline constexpr std::uint8_t kShift = 1;
inline constexpr std::uint8_t kAlt = 2;
inline constexpr std::uint8_t kCtrl = 4;

// One key press as a terminal reported it.
struct KeyEvent {
  Key key = Key::kChar;
  char32_t ch = 0;        // the character, for kChar
  std::uint8_t mods = 0;  // kShift | kAlt | kCtrl
  bool keypad = false;    // a character key of the numeric keypad
};

// The system's key code for `event`: Alt decides first, then Ctrl, then Shift.
// The empty text when the combination delivers nothing.
KeyCode PcCode(const KeyEvent& event);

// The meaning of a single byte outside any sequence (0x7F is Backspace, 0x0D
// Enter, 0x09 Tab, 0x1B Esc; any other byte is that character).
KeyEvent ByteEvent(std::uint8_t byte, std::uint8_t mods);

// True when `low` (a 7-bit byte) names a key with an Alt code of its own: what
// an 8-bit meta terminal sends as U+0080 + `low` is Alt with that key.
bool HasAltCode(std::uint8_t low);

// The character of `ch` with Shift on a US layout, for protocols that report
// the unshifted key ('1' with Shift is '!').
char32_t ShiftedUs(char32_t ch);

// One form: the final byte, number or code point that names it, and the key.
struct Form {
  int code;
  KeyEvent event;
};

// The form in `forms` named `code`, or nullptr.
const KeyEvent* FindForm(std::span<const Form> forms, int code);

namespace detail {
constexpr Form K(int code, Key key, std::uint8_t mods = 0) {
  return {code, {key, 0, mods, false}};
}
constexpr Form Kp(int code, char ch) {
  return {code, {Key::kChar, char32_t(ch), 0, true}};
}
constexpr Form KpKey(int code, Key key) {
  return {code, {key, 0, 0, true}};
}
}  // namespace detail

// CSI [1;m] <final>: xterm, VTE, tmux and kitty cursor keys and F1..F4, the
// Linux console's keypad 5 (G), Shift+Tab (Z), rxvt's Shift+arrows (a..d).
inline constexpr Form kCsiFinalForms[] = {
    detail::K('A', Key::kUp),           detail::K('B', Key::kDown),
    detail::K('C', Key::kRight),        detail::K('D', Key::kLeft),
    detail::K('E', Key::kKp5),          detail::K('F', Key::kEnd),
    detail::K('G', Key::kKp5),          detail::K('H', Key::kHome),
    detail::K('P', Key::kF1),           detail::K('Q', Key::kF2),
    detail::K('R', Key::kF3),           detail::K('S', Key::kF4),
    detail::K('Z', Key::kTab, kShift),  detail::K('a', Key::kUp, kShift),
    detail::K('b', Key::kDown, kShift), detail::K('c', Key::kRight, kShift),
    detail::K('d', Key::kLeft, kShift),
};

// CSI <n> [;m] ~ (VT220, xterm, Linux console, tmux, kitty) and rxvt's CSI <n>
// with $ ^ @ in place of ~. The Linux console and rxvt send Shift+F3..F10 as
// F13..F20 (25..34); Shift+F1/F2 are F11/F12 there and cannot be told apart.
inline constexpr Form kCsiNumberForms[] = {
    detail::K(1, Key::kHome),        detail::K(2, Key::kIns),
    detail::K(3, Key::kDel),         detail::K(4, Key::kEnd),
    detail::K(5, Key::kPgUp),        detail::K(6, Key::kPgDn),
    detail::K(7, Key::kHome),        detail::K(8, Key::kEnd),
    detail::K(11, Key::kF1),         detail::K(12, Key::kF2),
    detail::K(13, Key::kF3),         detail::K(14, Key::kF4),
    detail::K(15, Key::kF5),         detail::K(17, Key::kF6),
    detail::K(18, Key::kF7),         detail::K(19, Key::kF8),
    detail::K(20, Key::kF9),         detail::K(21, Key::kF10),
    detail::K(23, Key::kF11),        detail::K(24, Key::kF12),
    detail::K(25, Key::kF3, kShift), detail::K(26, Key::kF4, kShift),
    detail::K(28, Key::kF5, kShift), detail::K(29, Key::kF6, kShift),
    detail::K(31, Key::kF7, kShift), detail::K(32, Key::kF8, kShift),
    detail::K(33, Key::kF9, kShift), detail::K(34, Key::kF10, kShift),
};

// rxvt's modifier suffixes in place of the modifier parameter.
inline constexpr Form kRxvtSuffixForms[] = {
    detail::K('~', Key::kChar),
    detail::K('$', Key::kChar, kShift),
    detail::K('^', Key::kChar, kCtrl),
    detail::K('@', Key::kChar, kCtrl | kShift),
};

// ESC [ [ A..E: the Linux console's F1..F5.
inline constexpr Form kLinuxFnForms[] = {
    detail::K('A', Key::kF1), detail::K('B', Key::kF2), detail::K('C', Key::kF3),
    detail::K('D', Key::kF4), detail::K('E', Key::kF5),
};

// SS3 [m] <final>: F1..F4 and the cursor keys in application mode (xterm, VTE,
// tmux), tmux's keypad 5, rxvt's Ctrl+arrows (a..d) and the application keypad
// (Num Lock off for p..y, as rxvt and the Linux console send them).
inline constexpr Form kSs3Forms[] = {
    detail::K('A', Key::kUp),
    detail::K('B', Key::kDown),
    detail::K('C', Key::kRight),
    detail::K('D', Key::kLeft),
    detail::K('E', Key::kKp5),
    detail::K('F', Key::kEnd),
    detail::K('H', Key::kHome),
    detail::K('P', Key::kF1),
    detail::K('Q', Key::kF2),
    detail::K('R', Key::kF3),
    detail::K('S', Key::kF4),
    detail::KpKey('M', Key::kEnter),
    detail::K('a', Key::kUp, kCtrl),
    detail::K('b', Key::kDown, kCtrl),
    detail::K('c', Key::kRight, kCtrl),
    detail::K('d', Key::kLeft, kCtrl),
    detail::Kp('X', '='),
    detail::Kp('j', '*'),
    detail::Kp('k', '+'),
    detail::Kp('l', ','),
    detail::Kp('m', '-'),
    detail::KpKey('n', Key::kDel),
    detail::Kp('o', '/'),
    detail::KpKey('p', Key::kIns),
    detail::KpKey('q', Key::kEnd),
    detail::KpKey('r', Key::kDown),
    detail::KpKey('s', Key::kPgDn),
    detail::KpKey('t', Key::kLeft),
    detail::KpKey('u', Key::kKp5),
    detail::KpKey('v', Key::kRight),
    detail::KpKey('w', Key::kHome),
    detail::KpKey('x', Key::kUp),
    detail::KpKey('y', Key::kPgUp),
};

// SS3 <final> from the Linux console's keypad in application mode, where it
// differs from the forms above: its F1..F4 are ESC [ [ A..D, so SS3 P..S are
// keypad keys there (P is Num Lock itself, which delivers nothing), and SS3 l
// is keypad +, not the keypad comma.
inline constexpr Form kLinuxSs3Forms[] = {
    detail::Kp('P', '\0'), detail::Kp('Q', '/'), detail::Kp('R', '*'),
    detail::Kp('S', '-'),  detail::Kp('l', '+'),
};

// The same with Num Lock on: the digit keys and the decimal point, which
// send the forms of their Num Lock off keys (Insert, End ... Delete).
inline constexpr Form kLinuxNumLockSs3Forms[] = {
    detail::Kp('p', '0'), detail::Kp('q', '1'), detail::Kp('r', '2'), detail::Kp('s', '3'),
    detail::Kp('t', '4'), detail::Kp('u', '5'), detail::Kp('v', '6'), detail::Kp('w', '7'),
    detail::Kp('x', '8'), detail::Kp('y', '9'), detail::Kp('n', '.'),
};

// CSI <code> [;m] u (kitty keyboard protocol, tmux extended keys) and xterm's
// CSI 27;m;<code> ~: the keys with codes of their own. Any other code below the
// private-use area is the character with that code point.
inline constexpr int kKittyKpDigit0 = 57399;  // KP_0 .. KP_9 follow
inline constexpr int kKittyLeftAlt = 57443;
inline constexpr int kKittyRightAlt = 57449;
inline constexpr Form kKittyForms[] = {
    detail::K(9, Key::kTab),          detail::K(13, Key::kEnter),
    detail::K(27, Key::kEsc),         detail::K(127, Key::kBackspace),
    detail::Kp(57409, '.'),           detail::Kp(57410, '/'),
    detail::Kp(57411, '*'),           detail::Kp(57412, '-'),
    detail::Kp(57413, '+'),           detail::KpKey(57414, Key::kEnter),
    detail::Kp(57415, '='),           detail::Kp(57416, ','),
    detail::KpKey(57417, Key::kLeft), detail::KpKey(57418, Key::kRight),
    detail::KpKey(57419, Key::kUp),   detail::KpKey(57420, Key::kDown),
    detail::KpKey(57421, Key::kPgUp), detail::KpKey(57422, Key::kPgDn),
    detail::KpKey(57423, Key::kHome), detail::KpKey(57424, Key::kEnd),
    detail::KpKey(57425, Key::kIns),  detail::KpKey(57426, Key::kDel),
    detail::KpKey(57427, Key::kKp5),
};

}  // namespace q7t::keyforms
