// The system's key code table and the character rules around it.
#include "console/key_forms.h"

#include <array>
#include <optional>
#include <string_view>

#include "console/cp437.h"

namespace q7t::keyforms {
namespace {

// A cell of the key code table: 0 delivers nothing, Ext(x) the extended code
// 0xFF x, Chr(x) the one-byte character x.
constexpr std::uint16_t Ext(std::uint8_t scan) {
  return scan;
}
constexpr std::uint16_t Chr(std::uint8_t ch) {
  return 0x100 | ch;
}

struct PcRow {
  std::uint16_t alone, shift, ctrl, alt;
};

// Indexed by Key. Keypad 5 has no Alt code, so Alt+keypad 5 delivers nothing.
constexpr PcRow kPcRows[] = {
    {0, 0, 0, 0},  // kChar: see CharCode
    {Ext(0x3B), Ext(0x54), Ext(0x5E), Ext(0x68)},
    {Ext(0x3C), Ext(0x55), Ext(0x5F), Ext(0x69)},
    {Ext(0x3D), Ext(0x56), Ext(0x60), Ext(0x6A)},
    {Ext(0x3E), Ext(0x57), Ext(0x61), Ext(0x6B)},
    {Ext(0x3F), Ext(0x58), Ext(0x62), Ext(0x6C)},
    {Ext(0x40), Ext(0x59), Ext(0x63), Ext(0x6D)},
    {Ext(0x41), Ext(0x5A), Ext(0x64), Ext(0x6E)},
    {Ext(0x42), Ext(0x5B), Ext(0x65), Ext(0x6F)},
    {Ext(0x43), Ext(0x5C), Ext(0x66), Ext(0x70)},
    {Ext(0x44), Ext(0x5D), Ext(0x67), Ext(0x71)},
    {Ext(0x85), Ext(0x87), Ext(0x89), Ext(0x8B)},
    {Ext(0x86), Ext(0x88), Ext(0x8A), Ext(0x8C)},
    {Ext(0x47), Ext(0x47), Ext(0x77), Ext(0x97)},  // Home
    {Ext(0x48), Ext(0x48), Ext(0x8D), Ext(0x98)},  // Up
    {Ext(0x49), Ext(0x49), Ext(0x84), Ext(0x99)},  // Page Up
    {Ext(0x4B), Ext(0x4B), Ext(0x73), Ext(0x9B)},  // Left
    {Ext(0x4D), Ext(0x4D), Ext(0x74), Ext(0x9D)},  // Right
    {Ext(0x4F), Ext(0x4F), Ext(0x75), Ext(0x9F)},  // End
    {Ext(0x50), Ext(0x50), Ext(0x91), Ext(0xA0)},  // Down
    {Ext(0x51), Ext(0x51), Ext(0x76), Ext(0xA1)},  // Page Down
    {Ext(0x52), Ext(0x52), Ext(0x92), Ext(0xA2)},  // Insert
    {Ext(0x53), Ext(0x53), Ext(0x93), Ext(0xA3)},  // Delete
    {Ext(0x4C), Ext(0x4C), Ext(0x8F), 0},          // keypad 5
    {Chr(9), Ext(0x0F), Ext(0x94), Ext(0x0F)},     // Tab
    {Chr(27), Chr(27), Chr(27), Ext(0x01)},        // Esc
    {Chr(8), Chr(8), Chr(127), Ext(0xE0)},         // Backspace
    {Chr(13), Chr(13), Chr(10), Ext(0x1C)},        // Enter
};
static_assert(std::size(kPcRows) == static_cast<std::size_t>(Key::kCount));

// Alt with a main-keyboard key: the scan code of that key.
constexpr std::array<std::uint8_t, 128> MakeAltScans() {
  std::array<std::uint8_t, 128> scans{};
  constexpr std::string_view kRows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm", "1234567890-="};
  constexpr std::uint8_t kFirst[] = {0x10, 0x1E, 0x2C, 0x78};
  for (int row = 0; row < 4; ++row) {
    for (std::size_t i = 0; i < kRows[row].size(); ++i) {
      scans[static_cast<unsigned char>(kRows[row][i])] = static_cast<std::uint8_t>(kFirst[row] + i);
    }
  }
  constexpr std::string_view kPunct = "[];'`,./";
  constexpr std::uint8_t kPunctScans[] = {0x1A, 0x1B, 0x27, 0x28, 0x29, 0x33, 0x34, 0x35};
  for (std::size_t i = 0; i < kPunct.size(); ++i) {
    scans[static_cast<unsigned char>(kPunct[i])] = kPunctScans[i];
  }
  for (int c = 'A'; c <= 'Z'; ++c) scans[c] = scans[c + 0x20];
  // Ctrl+letter with Alt: Alt decides, so it is Alt with the letter.
  for (int c = 1; c <= 26; ++c) scans[c] = scans[c + 0x60];
  return scans;
}
constexpr auto kAltScans = MakeAltScans();

// Ctrl with a character key, as the legacy terminals send it; characters not
// listed keep their own value.
struct CtrlForm {
  char key;
  std::uint8_t code;
};
constexpr CtrlForm kCtrlForms[] = {
    {' ', 0},  {'2', 0},  {'@', 0},  {'`', 0},  {'3', 27}, {'[', 27}, {'4', 28}, {'\\', 28},
    {'5', 29}, {']', 29}, {'6', 30}, {'^', 30}, {'~', 30}, {'7', 31}, {'/', 31}, {'_', 31},
};

char32_t CtrlChar(char32_t ch) {
  if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z')) return ch & 0x1F;
  for (const CtrlForm& form : kCtrlForms) {
    if (ch == static_cast<char32_t>(form.key)) return form.code;
  }
  return ch;
}

// The code of a character that the console's character set lacks: the Linux
// console sends an Alt-compose number above 255 as that code point, and the
// system delivers the number modulo 256. Only numbers three keypad digits can
// give, and only when the result is not a control character, so that text in
// other scripts does not turn into Enter or Esc.
std::optional<std::uint8_t> ComposedByte(char32_t cp) {
  if (cp < 0x100 || cp > 999) return std::nullopt;
  const auto low = static_cast<std::uint8_t>(cp & 0xFF);
  if (low < 0x20 || low == 0x7F) return std::nullopt;
  return low;
}

KeyCode CharByte(char32_t ch) {
  if (ch == 0) return {};
  if (ch < 0x80) return KeyCode(1, static_cast<char>(ch));
  auto byte = UnicodeToCp437(ch);
  if (!byte) byte = ComposedByte(ch);
  if (!byte) return {};
  return KeyCode(1, static_cast<char>(*byte));
}

KeyCode CharCode(const KeyEvent& event) {
  char32_t ch = event.ch;
  if ((event.mods & kAlt) && !event.keypad && ch < 0x80 && kAltScans[ch] != 0) {
    return KeyCode{'\xFF', static_cast<char>(kAltScans[ch])};
  }
  if ((event.mods & kCtrl) && !event.keypad) ch = CtrlChar(ch);
  return CharByte(ch);
}

KeyCode CellCode(std::uint16_t cell) {
  if (cell == 0) return {};
  if (cell & 0x100) return KeyCode(1, static_cast<char>(cell & 0xFF));
  return KeyCode{'\xFF', static_cast<char>(cell)};
}

}  // namespace

KeyCode PcCode(const KeyEvent& event) {
  if (event.key == Key::kChar) return CharCode(event);
  const PcRow& row = kPcRows[static_cast<std::size_t>(event.key)];
  if (event.mods & kAlt) return CellCode(row.alt);
  if (event.mods & kCtrl) return CellCode(row.ctrl);
  if (event.mods & kShift) return CellCode(row.shift);
  return CellCode(row.alone);
}

KeyEvent ByteEvent(std::uint8_t byte, std::uint8_t mods) {
  static constexpr Form kControlForms[] = {detail::K(0x09, Key::kTab), detail::K(0x0D, Key::kEnter),
                                           detail::K(0x1B, Key::kEsc),
                                           detail::K(0x7F, Key::kBackspace)};
  KeyEvent event{Key::kChar, byte, mods, false};
  if (const KeyEvent* form = FindForm(kControlForms, byte)) event.key = form->key;
  return event;
}

bool HasAltCode(std::uint8_t low) {
  return (low >= 0x01 && low <= 0x1B) || low == 0x7F || (low < 0x80 && kAltScans[low] != 0);
}

char32_t ShiftedUs(char32_t ch) {
  constexpr std::string_view kPlain = "`1234567890-=[]\\;',./";
  constexpr std::string_view kShifted = "~!@#$%^&*()_+{}|:\"<>?";
  if (ch >= 'a' && ch <= 'z') return ch - 0x20;
  if (ch < 0x80) {
    const auto at = kPlain.find(static_cast<char>(ch));
    if (at != std::string_view::npos) return static_cast<unsigned char>(kShifted[at]);
  }
  return ch;
}

const KeyEvent* FindForm(std::span<const Form> forms, int code) {
  for (const Form& form : forms) {
    if (form.code == code) return &form.event;
  }
  return nullptr;
}

}  // namespace q7t::keyforms
