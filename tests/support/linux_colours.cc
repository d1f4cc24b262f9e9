#include "support/linux_colours.h"

#include <algorithm>
#include <cctype>

namespace q7t::test {

std::string LinuxColours::Translate(std::string_view piece) {
  std::string in = pending_;
  in.append(piece);
  pending_.clear();
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != 0x1B) {
      out.push_back(in[i]);
      continue;
    }
    if (i + 1 == in.size()) {
      pending_ = in.substr(i);
      break;
    }
    if (in[i + 1] == '7') saved_ = now_;
    if (in[i + 1] == '8') now_ = saved_;
    if (in[i + 1] != '[') {
      out.push_back(in[i]);
      continue;
    }
    size_t j = i + 2;
    while (j < in.size() && (std::isdigit(static_cast<unsigned char>(in[j])) || in[j] == ';')) ++j;
    if (j == in.size()) {
      pending_ = in.substr(i);
      break;
    }
    if (in[j] != 'm') {
      out.push_back(in[i]);
      continue;
    }
    Apply(std::string_view(in).substr(i + 2, j - i - 2));
    out += Sgr();
    i = j;
  }
  return out;
}

void LinuxColours::Apply(std::string_view params) {
  size_t at = 0;
  do {
    size_t end = std::min(params.find(';', at), params.size());
    int n = 0;
    for (size_t k = at; k < end; ++k) n = n * 10 + (params[k] - '0');
    at = end + 1;
    if (n == 0) now_ = State{};
    if (n == 1) now_.bold = true;
    if (n == 22) now_.bold = false;
    if (n == 5) now_.blink = true;
    if (n == 25) now_.blink = false;
    if (n >= 30 && n <= 37) now_.fg = n - 30;
    if (n == 39) now_.fg = -1;
    if (n >= 40 && n <= 47) now_.bg = n - 40;
    if (n == 49) now_.bg = -1;
    if (n >= 90 && n <= 97) now_.fg = n - 90, now_.bold = true;
    if (n >= 100 && n <= 107) now_.bg = n - 100;
  } while (at <= params.size());
}

// The console's own colours are light grey on black: bold or blink on them
// shows white or dark grey.
std::string LinuxColours::Sgr() const {
  const int fg = now_.fg < 0 ? (now_.bold ? 97 : 39) : (now_.bold ? 90 : 30) + now_.fg;
  const int bg = now_.bg < 0 ? (now_.blink ? 100 : 49) : (now_.blink ? 100 : 40) + now_.bg;
  return "\x1b[0;" + std::to_string(fg) + ";" + std::to_string(bg) + "m";
}

}  // namespace q7t::test
