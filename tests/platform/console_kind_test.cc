// Telling the Linux console in VGA text mode from a framebuffer one, from the
// console drivers the kernel lists.
#include "platform/console_kind.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "support/pty_harness.h"

namespace q7t::os {
namespace {

TEST(VgaTextConsole, TheBoundDriverDecides) {
  using Drivers = std::vector<std::pair<const char*, const char*>>;  // name, bind
  const struct {
    const char* name;
    Drivers drivers;
    bool vga;
  } kCases[] = {
      {"VGA text", {{"(S) VGA+", "1"}}, true},
      {"framebuffer took over", {{"(S) VGA+", "0"}, {"(M) frame buffer device", "1"}}, false},
      {"framebuffer alone", {{"(S) dummy device", "0"}, {"(M) frame buffer device", "1"}}, false},
      {"nothing listed", {}, true},
  };
  for (const auto& c : kCases) {
    test::ScopedTempDir sys;
    for (std::size_t n = 0; n < c.drivers.size(); ++n) {
      const std::string dir = sys.File("class/vtconsole/vtcon" + std::to_string(n));
      std::filesystem::create_directories(dir);
      std::ofstream(dir + "/name") << c.drivers[n].first << "\n";
      std::ofstream(dir + "/bind") << c.drivers[n].second << "\n";
    }
    EXPECT_EQ(VgaTextConsole(sys.path()), c.vga) << c.name;
  }
}

}  // namespace
}  // namespace q7t::os
