#include "app/text_value.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <system_error>

namespace q7t {

namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

double RadixValue(std::string_view digits, int radix) {
  std::uint64_t acc = 0;  // wraps, as the accumulation is defined to
  for (char c : digits) {
    int d = DigitValue(c);
    if (d >= radix) break;
    acc = acc * static_cast<std::uint64_t>(radix) + static_cast<std::uint64_t>(d);
  }
  return static_cast<double>(static_cast<std::int64_t>(acc));
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A decimal number beyond the range of a double: infinity when its leading
// digit stands at a power of ten above zero, else zero; with its sign.
double OutOfRangeValue(const std::string& number) {
  std::size_t e_at = number.find('e');
  std::string mantissa = number.substr(0, e_at);
  long long exponent = 0;
  if (e_at != std::string::npos) {
    for (std::size_t i = e_at + 1; i < number.size(); ++i) {
      if (IsDigit(number[i]))
        exponent = std::min<long long>(exponent * 10 + (number[i] - '0'), 1'000'000'000);
    }
    if (number.find("e-") != std::string::npos) exponent = -exponent;
  }
  std::size_t point = mantissa.find('.');
  if (point == std::string::npos) point = mantissa.size();
  std::size_t lead = mantissa.find_first_of("123456789");
  if (lead == std::string::npos) return 0;
  // The power of ten of the leading digit.
  long long order = lead < point ? static_cast<long long>(point - lead - 1)
                                 : -static_cast<long long>(lead - point);
  double value = order + exponent >= 0 ? HUGE_VAL : 0.0;
  return mantissa.front() == '-' ? -value : value;
}

// The longest leading decimal number of `text`, or 0.
double DecimalValue(std::string_view text) {
  std::size_t i = 0, n = text.size();
  std::string number;
  if (i < n && (text[i] == '+' || text[i] == '-')) number.push_back(text[i++]);
  std::size_t mantissa_digits = 0;
  while (i < n && IsDigit(text[i])) number.push_back(text[i++]), ++mantissa_digits;
  if (i < n && text[i] == '.') {
    std::size_t j = i + 1;
    std::string fraction;
    while (j < n && IsDigit(text[j])) fraction.push_back(text[j++]);
    if (mantissa_digits > 0 || !fraction.empty()) {
      number += "." + fraction;
      mantissa_digits += fraction.size();
      i = j;
    }
  }
  if (mantissa_digits == 0) return 0;
  if (i < n && (text[i] == 'E' || text[i] == 'e' || text[i] == 'D' || text[i] == 'd')) {
    std::size_t j = i + 1;
    std::string exponent = "e";
    if (j < n && (text[j] == '+' || text[j] == '-')) exponent.push_back(text[j++]);
    std::size_t exp_digits = 0;
    while (j < n && IsDigit(text[j])) exponent.push_back(text[j++]), ++exp_digits;
    if (exp_digits > 0) number += exponent;
  }
  const char* first = number.data();
  if (*first == '+') ++first;  // from_chars takes no plus sign
  double value = 0;
  auto [ptr, ec] = std::from_chars(first, number.data() + number.size(), value);
  if (ec == std::errc::result_out_of_range) value = OutOfRangeValue(number);
  return value;
}

}  // namespace

double TextValue(std::string_view text) {
  std::size_t start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) return 0;
  text.remove_prefix(start);
  if (text.size() >= 2 && text[0] == '&') {
    switch (text[1]) {
      case 'H':
      case 'h':
        return RadixValue(text.substr(2), 16);
      case 'O':
      case 'o':
        return RadixValue(text.substr(2), 8);
      case 'B':
      case 'b':
        return RadixValue(text.substr(2), 2);
      default:
        return RadixValue(text.substr(1), 8);
    }
  }
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return 0;
  return DecimalValue(text);
}

}  // namespace q7t
