// The capture's file: appended to, rotated by size.
#include "platform/capture_output.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "support/pty_harness.h"

namespace q7t::os {
namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(CaptureFile, AppendsAndRotatesAtTheSizeKeepingTheNewest) {
  test::ScopedTempDir dir;
  const std::string path = dir.File("cap");
  std::ofstream(path) << "earlier";
  std::string err;
  {
    auto file = CaptureFile::Open(path, 10, 2, &err);
    ASSERT_TRUE(file) << err;
    ASSERT_TRUE(file->Write("abc", &err)) << err;  // the file is never truncated
    ASSERT_TRUE(file->Write("0123456789ABCDEFGHIJxyz", &err)) << err;
  }
  EXPECT_EQ(Read(path + ".2"), "0123456789");  // "earlierabc" went with the third rotation
  EXPECT_EQ(Read(path + ".1"), "ABCDEFGHIJ");
  EXPECT_EQ(Read(path), "xyz");
  EXPECT_FALSE(std::ifstream(path + ".3"));
  {
    auto file = CaptureFile::Open(path, 0, 1, &err);
    ASSERT_TRUE(file && file->Write("!", &err) && file->Sync(&err)) << err;
  }
  EXPECT_EQ(Read(path), "xyz!");
}

}  // namespace
}  // namespace q7t::os
