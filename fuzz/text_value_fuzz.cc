// Fuzzes what the menu does with a typed line: TakeInputValue picks the value
// out of the line, TextValue reads the number it stands for, BaudDivisor turns
// that into the card's divisor. None may crash or hit undefined behaviour; the
// value taken is the documented part of the line, and a plain decimal number
// reads as the nearest double (too large as infinity, too small as zero).
//
// Input: the typed line, any bytes.
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/text_value.h"
#include "card/card.h"
#include "console/console.h"

namespace {

constexpr std::size_t kMaxInputValue = 4096;

[[noreturn]] void Fail(const char* what, std::string_view text) {
  std::fprintf(stderr, "text_value_fuzz: %s\n  text (%zu bytes): ", what, text.size());
  for (unsigned char c : text.substr(0, 200)) std::fprintf(stderr, "%02X ", c);
  std::fprintf(stderr, "\n");
  std::abort();
}

// The value the line holds: blanks skipped, then a quoted value to its
// closing quote, or else everything up to the first comma; at most 4096 bytes.
void CheckTakeInputValue(std::string_view line) {
  std::string value = q7t::TakeInputValue(line);
  if (value.size() > kMaxInputValue) Fail("value longer than 4096", line);
  std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string_view::npos) {
    if (!value.empty()) Fail("value from a blank line", line);
    return;
  }
  const bool quoted = line[start] == '"';
  std::string_view rest = line.substr(start + (quoted ? 1 : 0));
  if (rest.substr(0, value.size()) != value) Fail("value is not where the line holds it", line);
  const char stop = quoted ? '"' : ',';
  if (value.find(stop) != std::string::npos) Fail("value runs past its end", line);
  if (value.size() < kMaxInputValue && value.size() < rest.size() && rest[value.size()] != stop) {
    Fail("value ends early", line);
  }
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// True when all of `text` is one decimal number as TextValue reads it: sign,
// digits, fraction, exponent by E, e, D or d. `c_form` gets it with the
// exponent letter as strtod reads it.
bool WholeDecimal(std::string_view text, std::string& c_form) {
  std::size_t i = 0, n = text.size(), digits = 0;
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  while (i < n && IsDigit(text[i])) ++i, ++digits;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  c_form.assign(text.substr(0, i));
  if (i < n && (text[i] == 'E' || text[i] == 'e' || text[i] == 'D' || text[i] == 'd')) {
    ++i;
    c_form += 'e';
    std::size_t exp_start = i;
    if (i < n && (text[i] == '+' || text[i] == '-')) c_form += text[i++];
    while (i < n && IsDigit(text[i])) c_form += text[i++];
    if (i == exp_start || !IsDigit(text[i - 1])) return false;
  }
  return i == n;
}

// A plain decimal number against the C library's reading of it (the fuzzer
// runs in the "C" locale).
void CheckDecimal(std::string_view text, double value) {
  std::string c_form;
  if (!WholeDecimal(text, c_form)) return;
  errno = 0;
  const double want = std::strtod(c_form.c_str(), nullptr);
  const bool range = errno == ERANGE;
  if (value == want && std::signbit(value) == std::signbit(want)) return;
  // Below the smallest normal double, zero is as good as the nearest value.
  if (range && std::fabs(want) < DBL_MIN && value == 0 &&
      std::signbit(value) == std::signbit(want)) {
    return;
  }
  std::fprintf(stderr, "TextValue gave %.17g, the number is %.17g\n", value, want);
  Fail("a decimal number read as another value", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  CheckTakeInputValue(line);

  const double value = q7t::TextValue(line);
  if (std::isnan(value)) Fail("TextValue gave NaN", line);
  std::size_t start = line.find_first_not_of(' ');
  if (start != std::string_view::npos) CheckDecimal(line.substr(start), value);
  // The B command: the baud text's value into the divisor.
  static_cast<void>(q7t::BaudDivisor(value));
  // The M command reads its entry as hexadecimal.
  static_cast<void>(q7t::TextValue("&H" + std::string(q7t::TakeInputValue(line))));
  return 0;
}
