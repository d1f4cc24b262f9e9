// Key codes and the key-name constants the screens compare keys against.
// A key code is a text of one or two bytes: one byte is a character, 0xFF
// followed by a PC keyboard scan code is an extended key, empty means no key.
#pragma once

#include <string>
#include <string_view>

namespace q7t {

using KeyCode = std::string;

inline constexpr std::string_view KeyF1 = "\xFF\x3B";
inline constexpr std::string_view KeyF2 = "\xFF\x3C";
inline constexpr std::string_view KeyF3 = "\xFF\x3D";
inline constexpr std::string_view KeyF4 = "\xFF\x3E";
inline constexpr std::string_view KeyF5 = "\xFF\x3F";
inline constexpr std::string_view KeyF6 = "\xFF\x40";
inline constexpr std::string_view KeyF7 = "\xFF\x41";
inline constexpr std::string_view KeyF8 = "\xFF\x42";
inline constexpr std::string_view KeyF9 = "\xFF\x43";
inline constexpr std::string_view KeyF10 = "\xFF\x44";
inline constexpr std::string_view KeyF11 = "\xFF\x85";
inline constexpr std::string_view KeyF12 = "\xFF\x86";

inline constexpr std::string_view KeyShiftF1 = "\xFF\x54";
inline constexpr std::string_view KeyShiftF2 = "\xFF\x55";
inline constexpr std::string_view KeyShiftF3 = "\xFF\x56";
inline constexpr std::string_view KeyShiftF4 = "\xFF\x57";
inline constexpr std::string_view KeyShiftF5 = "\xFF\x58";
inline constexpr std::string_view KeyShiftF6 = "\xFF\x59";
inline constexpr std::string_view KeyShiftF7 = "\xFF\x5A";
inline constexpr std::string_view KeyShiftF8 = "\xFF\x5B";
inline constexpr std::string_view KeyShiftF9 = "\xFF\x5C";
inline constexpr std::string_view KeyShiftF10 = "\xFF\x5D";
inline constexpr std::string_view KeyShiftF11 = "\xFF\x87";
inline constexpr std::string_view KeyShiftF12 = "\xFF\x88";

inline constexpr std::string_view KeyCtrlF1 = "\xFF\x5E";
inline constexpr std::string_view KeyCtrlF2 = "\xFF\x5F";
inline constexpr std::string_view KeyCtrlF3 = "\xFF\x60";
inline constexpr std::string_view KeyCtrlF4 = "\xFF\x61";
inline constexpr std::string_view KeyCtrlF5 = "\xFF\x62";
inline constexpr std::string_view KeyCtrlF6 = "\xFF\x63";
inline constexpr std::string_view KeyCtrlF7 = "\xFF\x64";
inline constexpr std::string_view KeyCtrlF8 = "\xFF\x65";
inline constexpr std::string_view KeyCtrlF9 = "\xFF\x66";
inline constexpr std::string_view KeyCtrlF10 = "\xFF\x67";
inline constexpr std::string_view KeyCtrlF11 = "\xFF\x89";
inline constexpr std::string_view KeyCtrlF12 = "\xFF\x8A";

inline constexpr std::string_view KeyLeft = "\xFF\x4B";
inline constexpr std::string_view KeyRight = "\xFF\x4D";
inline constexpr std::string_view KeyUp = "\xFF\x48";
inline constexpr std::string_view KeyDown = "\xFF\x50";
inline constexpr std::string_view KeyPgUp = "\xFF\x49";
inline constexpr std::string_view KeyPgDn = "\xFF\x51";

// The five Ctrl constants below hold the upper-cased form of what the keyboard
// delivers (Ctrl+Left arrives as 0xFF 0x73): screens compare upper-cased keys.
inline constexpr std::string_view KeyCtrlLeft = "\xFF\x53";
inline constexpr std::string_view KeyCtrlRight = "\xFF\x54";
inline constexpr std::string_view KeyCtrlUp = "\xFF\x8D";
inline constexpr std::string_view KeyCtrlDown = "\xFF\x91";
inline constexpr std::string_view KeyCtrlPgUp = "\xFF\x84";
inline constexpr std::string_view KeyCtrlPgDn = "\xFF\x56";

inline constexpr std::string_view KeyIns = "\xFF\x52";
inline constexpr std::string_view KeyDel = "\xFF\x53";
inline constexpr std::string_view KeyHome = "\xFF\x47";
inline constexpr std::string_view KeyEnd = "\xFF\x4F";
inline constexpr std::string_view KeyCtrlIns = "\xFF\x92";
inline constexpr std::string_view KeyCtrlDel = "\xFF\x93";
inline constexpr std::string_view KeyCtrlHome = "\xFF\x57";
inline constexpr std::string_view KeyCtrlEnd = "\xFF\x55";

inline constexpr std::string_view KeyTab = "\x09";
inline constexpr std::string_view KeyShiftTab = "\xFF\x0F";
inline constexpr std::string_view KeyEnter = "\x0D";
inline constexpr std::string_view KeyEsc = "\x1B";

// The console-close notification (terminal hung up or input ended): the same
// code as Alt+F4.
inline constexpr std::string_view kCloseKey = "\xFF\x6B";

}  // namespace q7t
