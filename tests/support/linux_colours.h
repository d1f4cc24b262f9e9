// The Linux console's colour rules for an emulator that has others: bytes
// as the console takes them, rewritten so that libvterm shows what the
// console would.
#pragma once

#include <string>
#include <string_view>

namespace q7t::test {

// Each SGR becomes the colours the console shows after it. There bold (also
// set by SGR 90-97) brightens the foreground and stays until SGR 22 or 0,
// blink brightens the background until SGR 25 or 0, and SGR 100-107 give
// the normal background; cursor save and restore (DECSC, DECRC) keep all of
// it. Bytes may come in pieces of any size: a sequence cut at the end of one
// is finished with the next.
class LinuxColours {
 public:
  std::string Translate(std::string_view in);

 private:
  struct State {
    int fg = -1, bg = -1;  // ANSI colour numbers, -1 for the console's own
    bool bold = false, blink = false;
  };
  void Apply(std::string_view params);
  std::string Sgr() const;

  State now_, saved_;
  std::string pending_;  // the start of a sequence the last piece cut off
};

}  // namespace q7t::test
