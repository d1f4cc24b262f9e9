// Telling the Linux console in VGA text mode from a framebuffer one, from the
// console drivers the kernel lists.
#include "platform/console_kind.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/pty_harness.h"

namespace q7t::os {
namespace {

TEST(VgaTextConsole, TheBoundDriverDecides) {
  const struct {
    const char* names[2];  // vtcon0, vtcon1
    const char* binds[2];
    bool vga;
  } kCases[] = {
      {{"(S) VGA+"}, {"1"}, true},
      {{"(S) VGA+", "(M) frame buffer device"}, {"0", "1"}, false},
      {{}, {}, true},  // nothing listed
  };
  for (const auto& c : kCases) {
    test::ScopedTempDir sys;
    for (int n = 0; n < 2 && c.names[n] != nullptr; ++n) {
      const std::string dir = sys.File("class/vtconsole/vtcon" + std::to_string(n));
      std::filesystem::create_directories(dir);
      std::ofstream(dir + "/name") << c.names[n] << "\n";
      std::ofstream(dir + "/bind") << c.binds[n] << "\n";
    }
    EXPECT_EQ(VgaTextConsole(sys.path()), c.vga) << (c.names[1] ? c.names[1] : c.names[0]);
  }
}

}  // namespace
}  // namespace q7t::os
