#include "console/text_ops.h"

#include <charconv>
#include <cstdlib>

namespace q7t {

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
  }
  return out;
}

std::string DecText(std::int64_t value) {
  char buf[24];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, end);
}

std::string FmtFixedDec(std::int32_t value, int width) {
  if (width < 1) return {};
  // The magnitude as a 64-bit value, so INT32_MIN has one too.
  std::int64_t magnitude = std::llabs(static_cast<std::int64_t>(value));
  std::string digits = DecText(magnitude);
  if (value >= 0) {
    // Width nines no longer fit a 32-bit value from width 10 on: never "E" there.
    if (width < 10) {
      std::int64_t nines = 0;
      for (int i = 0; i < width; ++i) nines = nines * 10 + 9;
      if (magnitude > nines) return std::string(width, 'E');
    }
    std::string text = std::string(width, '0') + digits;
    return text.substr(text.size() - width);
  }
  // A negative value keeps its sign and loses leading digits, never "E".
  std::string text = std::string(width, '0') + digits;
  return "-" + text.substr(text.size() - (width - 1));
}

std::string HexText(std::int64_t value) {
  auto u = static_cast<std::uint32_t>(value);
  char buf[9];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, u, 16);
  std::string out(buf, end);
  return UpperCase(out);
}

}  // namespace q7t
