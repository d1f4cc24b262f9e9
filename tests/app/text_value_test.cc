#include "app/text_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace q7t {
namespace {

TEST(TextValue, Rules) {
  struct Case {
    std::string text;
    double value;
  };
  const Case kCases[] = {
      {"9600", 9600},
      {"9600 baud", 9600},
      {"  9600", 9600},
      {"\t9600", 0},  // only spaces are skipped
      {"abc", 0},
      {"", 0},
      {"&H2580", 9600},
      {"&h1f", 31},
      {"&HFFz", 255},
      {"&H&H1", 0},
      {"&O17", 15},
      {"&o8", 0},
      {"&B101", 5},
      {"&b102", 2},
      {"&17", 15},  // a bare ampersand reads octal
      {"&", 0},
      {"&HFFFFFFFFFFFFFFFF", -1},  // 64-bit accumulation, taken as signed
      {"&H10000000000000000", 0},  // wraps
      {"0x1F", 0},
      {"0X10", 0},
      {"-9600", -9600},
      {"+12", 12},
      {"1.5", 1.5},
      {".5", 0.5},
      {"5.", 5},
      {"1e3", 1000},
      {"1E3x", 1000},
      {"2d2", 200},
      {"2D-1", 0.2},
      {"3e", 3},
      {"3e+", 3},
      {"-", 0},
      {".", 0},
      {"12,34", 12},
  };
  for (const Case& c : kCases) EXPECT_DOUBLE_EQ(TextValue(c.text), c.value) << "[" << c.text << "]";
}

TEST(TextValue, OutOfRangeExponents) {
  EXPECT_TRUE(std::isinf(TextValue("1e999")));
  EXPECT_LT(TextValue("-1e999"), 0);
  EXPECT_EQ(TextValue("1e-999"), 0);
  // Out of range by the digits alone, not by the exponent's sign.
  EXPECT_EQ(TextValue("0." + std::string(400, '0') + "1"), 0);
  EXPECT_TRUE(std::isinf(TextValue("1" + std::string(400, '0') + "e-5")));
  EXPECT_EQ(TextValue("-0." + std::string(400, '0') + "1e5"), 0);
}

}  // namespace
}  // namespace q7t
