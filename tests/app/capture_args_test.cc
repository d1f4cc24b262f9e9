// The capture command's arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/capture_command.h"

namespace q7t {
namespace {

std::optional<CaptureOptions> Parse(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  std::string err;
  return ParseCaptureArgs(static_cast<int>(argv.size()), argv.data(), &err);
}

TEST(CaptureArgs, OptionsAroundTheFileAndWrongOnesRefused) {
  auto o = Parse({"--rotate", "64M", "line.bin", "--keep", "3", "--seconds", "30", "--baud", "9600",
                  "--lock", "/tmp/l"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->file, "line.bin");
  EXPECT_EQ(o->rotate, 64u << 20);
  EXPECT_EQ(o->keep, 3);
  EXPECT_EQ(o->seconds, 30);
  EXPECT_EQ(o->baud, 9600);
  EXPECT_EQ(o->lock_file, "/tmp/l");
  o = Parse({"f"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->seconds, -1);
  EXPECT_EQ(o->rotate, 0u);
  EXPECT_EQ(Parse({"f", "--rotate", "2k"})->rotate, 2048u);

  const std::vector<std::vector<std::string>> kWrong = {{},
                                                        {"a", "b"},
                                                        {"f", "--seconds"},
                                                        {"f", "--seconds", "-1"},
                                                        {"f", "--seconds", "9x"},
                                                        {"f", "--rotate", "0"},
                                                        {"f", "--rotate", "5T"},
                                                        {"f", "--rotate", "99999999999G"},
                                                        {"f", "--keep", "0"},
                                                        {"f", "--baud", "0"},
                                                        {"f", "--lock", ""},
                                                        {"f", "--verbose", "1"}};
  for (const auto& args : kWrong) {
    std::string shown;
    for (const auto& a : args) shown += a + " ";
    EXPECT_FALSE(Parse(args)) << shown;
  }
}

}  // namespace
}  // namespace q7t
