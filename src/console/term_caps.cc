// The terminals known by name, and what each can do.
#include "console/term_caps.h"

namespace q7t {

TermCaps CapsForTerm(std::string_view term) {
  auto starts = [term](std::string_view prefix) { return term.substr(0, prefix.size()) == prefix; };
  TermCaps caps;
  // The console's own names: linux, linux-16color ..., con80x25 ...
  const bool console_size = starts("con") && term.size() > 3 && term[3] >= '0' && term[3] <= '9';
  if (term == "linux" || starts("linux-") || console_size) {
    caps.erase = EraseColours::kBothNormal;
    caps.repeat = false;
    caps.scroll_sequences = false;
    caps.bright_by_attributes = true;
  } else if (starts("xterm") || starts("vte") || starts("gnome") || starts("konsole") ||
             starts("kitty") || starts("alacritty") || starts("foot") || starts("wezterm") ||
             starts("putty") || starts("st-") || term == "st") {
    // They erase in the colours in force, both halves.
    caps.erase = EraseColours::kBoth;
  } else if (!starts("tmux")) {
    // GNU screen, and terminals not known: blanks in colours are written as
    // spaces, which is right even where an erase takes no colour at all.
    caps.repeat = false;
    // DL/IL are older than SU/SD and more widely kept.
    if (!starts("screen")) caps.scroll_sequences = false;
  }
  return caps;
}

}  // namespace q7t
