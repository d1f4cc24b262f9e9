#include "console/text_ops.h"

#include <gtest/gtest.h>

#include <climits>

#include "console/key_codes.h"
#include "console/key_queue.h"

namespace q7t {
namespace {

TEST(FmtFixedDec, Widths) {
  struct Case {
    std::int32_t value;
    int width;
    const char* text;
  };
  const Case kCases[] = {
      {42, 5, "00042"},       {0, 3, "000"},          {99999, 5, "99999"},
      {100000, 5, "EEEEE"},   {32767, 5, "32767"},    {-7, 4, "-007"},
      {-12345, 4, "-345"},    {-5, 1, "-"},           {10000, 4, "EEEE"},
      {1000, 3, "EEE"},       {999, 3, "999"},        {INT32_MAX, 10, "2147483647"},
      {INT32_MAX, 12, "002147483647"}, {INT32_MIN, 11, "-2147483648"},
      {INT32_MIN, 4, "-648"}, {5, 0, ""},             {5, -3, ""},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(FmtFixedDec(c.value, c.width), c.text) << c.value << " width " << c.width;
  }
}

TEST(TextOps, UpperCaseTouchesOnlyAToZ) {
  EXPECT_EQ(UpperCase("q"), "Q");
  EXPECT_EQ(UpperCase("aZ{`\xE4"), "AZ{`\xE4");
  // The scan-code byte of an extended key is upper-cased too: Ctrl+PgDn
  // arrives as 0xFF 0x76 and becomes KeyCtrlPgDn.
  EXPECT_EQ(UpperCase("\xFF\x76"), KeyCtrlPgDn);
  EXPECT_EQ(UpperCase(KeyShiftF3), KeyCtrlPgDn);
  EXPECT_EQ(UpperCase("\xFF\x73"), KeyCtrlLeft);
  EXPECT_EQ(UpperCase(KeyHome), KeyHome);
  EXPECT_EQ(UpperCase(kCloseKey), KeyLeft);
}

TEST(KeyQueue, KeepsTheNewest511) {
  KeyQueue q;
  for (int i = 0; i < 600; ++i) q.Push(std::to_string(i));
  EXPECT_EQ(q.Size(), 511);
  EXPECT_EQ(q.Pop(), "89");
  int popped = 1;
  std::string last;
  for (KeyCode k = q.Pop(); !k.empty(); k = q.Pop()) last = k, ++popped;
  EXPECT_EQ(popped, 511);
  EXPECT_EQ(last, "599");
  EXPECT_TRUE(q.Empty());
}

}  // namespace
}  // namespace q7t
