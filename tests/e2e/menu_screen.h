// What the end-to-end tests look for on the programs' terminal: the main
// menu as the user sees it, and the terminal's modes (read on the master
// side, which reflects the program's side on Linux).
#pragma once

#include <termios.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "support/pty_harness.h"

namespace q7t::test {

inline constexpr int kMenuCursorRow = 22;
inline constexpr std::string_view kModePrompt =
    "Mode Register (hexa 0=Kv 1=TR22A 2=W48 3=TR22B 4=LPN 5=EX906)? ";
inline constexpr std::string_view kBaudPrompt = "Select Baud Rate? ";

inline PtyProgram::Options ProgramOptions(std::string path, std::vector<std::string> args = {}) {
  PtyProgram::Options options;
  options.program = std::move(path);
  options.args = std::move(args);
  return options;
}

// Rows 1..11 of the menu for these values; every row below is blank.
inline std::vector<std::string> MenuRows(const std::string& baud = "???",
                                         const std::string& mode = "0",
                                         const std::string& counter = "0/00000") {
  return {"Q7T Rx Logging Menu",
          "--------------------",
          "",
          " <B> Select Baud Rate.....: " + baud,
          " <M> Mode Register........: " + mode,
          " <R> WrCnt -> RdCnt.......: " + counter,
          "",
          " <Z> Reset Write Counter",
          " <S> Save Log",
          " <V> View Log",
          ""};
}

inline std::string Trimmed(const VtermScreen& s, int row) {
  std::string text = s.RowText(row);
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

// The window holds exactly `rows` from row 1 on and blanks below (cut to the
// window's width), and the cursor waits at row 22, column 1 when that fits.
inline bool ShowsMenu(const VtermScreen& s, const std::vector<std::string>& rows) {
  for (int row = 1; row <= s.Rows(); ++row) {
    const std::size_t i = static_cast<std::size_t>(row - 1);
    std::string want = i < rows.size() ? rows[i].substr(0, static_cast<std::size_t>(s.Cols())) : "";
    if (Trimmed(s, row) != want) return false;
  }
  return s.Rows() < kMenuCursorRow || (s.CursorRow() == kMenuCursorRow && s.CursorCol() == 1);
}

inline bool ShowsFirstMenu(const VtermScreen& s) {
  return ShowsMenu(s, MenuRows());
}

// A condition for PtyProgram::WaitFor: the menu with these values.
inline std::function<bool(const VtermScreen&)> MenuWith(const std::string& baud,
                                                        const std::string& mode,
                                                        const std::string& counter) {
  return
      [rows = MenuRows(baud, mode, counter)](const VtermScreen& s) { return ShowsMenu(s, rows); };
}

inline bool LocalModes(int fd, tcflag_t* lflag) {
  termios modes{};
  if (tcgetattr(fd, &modes) != 0) return false;
  *lflag = modes.c_lflag;
  return true;
}

// The terminal is in the modes a shell expects: echo and line editing.
inline bool Cooked(int fd) {
  tcflag_t lflag = 0;
  return LocalModes(fd, &lflag) && (lflag & ECHO) && (lflag & ICANON);
}

inline bool Raw(int fd) {
  tcflag_t lflag = 0;
  return LocalModes(fd, &lflag) && !(lflag & (ECHO | ICANON));
}

}  // namespace q7t::test
