// The main menu: start-up and the only control loop. Each pass reads the
// card's counter word and mode, draws the menu, waits for one key and runs
// its command to completion.
#pragma once

#include <string>

namespace q7t {

// What lives for the whole run besides the card: the baud text shown after
// the B label and the operator's last mode entry.
struct MenuState {
  std::string baud_text = "???";
  std::string mode_entry;
};

// Start-up after the console is installed: screen size, working directory.
void StartUp();
// One menu pass. Returns false when the operator asked to quit (Q or Esc);
// the screen is then cleared.
bool MenuPass(MenuState& state);
// Start-up, then passes until Q or Esc; then ends the program with status 0.
[[noreturn]] void RunMenu();

}  // namespace q7t
