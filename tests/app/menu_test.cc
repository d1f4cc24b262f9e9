// The main menu on a terminal in memory and a recording port bus: the screen
// of a pass, and the exact port accesses of every command.
#include "app/menu.h"

#include <gtest/gtest.h>

#include <string>

#include "card/card.h"
#include "console/console.h"
#include "console/screen.h"
#include "support/fake_terminal.h"
#include "support/recording_port_bus.h"

namespace q7t {
namespace {

constexpr const char* kPassReads = "idx 38, rd; idx 39, rd; idx 3A, rd";

class Menu : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallConsole(&term_);
    SetPortBus(&bus_);
    SetScreenSize(80, 25);
  }
  void TearDown() override { SetPortBus(nullptr); }

  // One pass with `keys` typed; returns the port log of the command alone.
  std::string Pass(const std::string& keys, bool* quit = nullptr) {
    term_.Type(keys);
    bool go_on = MenuPass(state_);
    if (quit) *quit = !go_on;
    std::string log = bus_.Take();
    EXPECT_EQ(log.substr(0, std::string(kPassReads).size()), kPassReads);
    log.erase(0, std::string(kPassReads).size());
    if (log.rfind("; ", 0) == 0) log.erase(0, 2);
    return log;
  }
  std::string Row(int row) {
    std::string text;
    for (int c = 1; c <= 80; ++c) text.push_back(static_cast<char>(ConsoleScreen().At(row, c).ch));
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }
  // Draws a pass's menu and stops at its key wait.
  void DrawOnly() {
    EXPECT_THROW(MenuPass(state_), test::FakeTerminal::NoMoreInput);
    bus_.Take();
  }

  test::FakeTerminal term_;
  test::RecordingPortBus bus_;
  MenuState state_;
};

TEST_F(Menu, CounterAndModeForms) {
  struct Case {
    int low, high, mode;
    const char* counter;
    const char* mode_text;
  };
  const Case kCases[] = {{0x00, 0x00, 0x00, "0/00000", "0"},
                         {0xFF, 0xFF, 0xFF, "1/32767", "FF"},
                         {0x00, 0x80, 0x1F, "1/00000", "1F"},
                         {-8, -8, -8, "1/30712", "FFFFFFF8"}};
  for (const Case& c : kCases) {
    bus_.SetRegister(0x38, c.low);
    bus_.SetRegister(0x39, c.high);
    bus_.SetRegister(0x3A, c.mode);
    DrawOnly();
    EXPECT_EQ(Row(6), std::string(" <R> WrCnt -> RdCnt.......: ") + c.counter);
    EXPECT_EQ(Row(5), std::string(" <M> Mode Register........: ") + c.mode_text);
  }
}

TEST_F(Menu, BaudRateEntries) {
  struct Case {
    std::string typed;
    std::string log;
    std::string shown;
  };
  const Case kCases[] = {
      {"9600", "idx 38, wr DD; idx 39, wr 32", "9600"},
      {"115200", "idx 38, wr 3D; idx 39, wr 04", "115200"},
      {"300", "idx 38, wr 9B; idx 39, wr 5B", "300"},
      {"", "idx 38, wr 00; idx 39, wr 00", ""},
      {"abc", "idx 38, wr 00; idx 39, wr 00", "abc"},
      {"9600,8", "idx 38, wr DD; idx 39, wr 32", "9600"},
      {"-9600", "idx 38, wr 23; idx 39, wr CD", "-9600"},
      {"&H2580", "idx 38, wr DD; idx 39, wr 32", "&H2580"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(Pass("b" + c.typed + "\r"), c.log) << c.typed;
    DrawOnly();
    std::string shown = " <B> Select Baud Rate.....: " + c.shown;
    while (shown.back() == ' ') shown.pop_back();  // Row() drops trailing blanks
    EXPECT_EQ(Row(4), shown) << c.typed;
  }
}

TEST_F(Menu, BaudEntryCannotBeAbandoned) {
  // Esc empties the line; Enter then takes the empty text and writes zeros.
  term_.Type("B123\x1b");
  term_.Pause(100);
  EXPECT_EQ(Pass("\r"), "idx 38, wr 00; idx 39, wr 00");
  EXPECT_EQ(state_.baud_text, "");
}

TEST_F(Menu, ModeEntries) {
  struct Case {
    std::string typed;
    std::string log;
  };
  const Case kCases[] = {
      {"", ""},  // an empty entry abandons M: no port access
      {"1F", "idx 3A, wr 1F"},
      {"100", "idx 3A, wr 00"},
      {"G", "idx 3A, wr 00"},
      {"&H5", "idx 3A, wr 00"},
      {"ffffffff", "idx 3A, wr 00"},  // outside 32 bits signed: 0x80000000
      {"7fffffff", "idx 3A, wr FF"},
      {"  3", "idx 3A, wr 03"},
  };
  for (const Case& c : kCases) EXPECT_EQ(Pass("M" + c.typed + "\r"), c.log) << c.typed;
  EXPECT_EQ(state_.mode_entry, "3");
}

TEST_F(Menu, CopyAndResetCounters) {
  bus_.SetRegister(0x3A, 0x03);
  EXPECT_EQ(Pass("r"), "idx 3A, wr 13; idx 3B, wr 01; idx 3A, wr 03");
  bus_.SetRegister(0x3A, 0x15);
  EXPECT_EQ(Pass("R"), "idx 3A, wr 15; idx 3B, wr 01; idx 3A, wr 15");
  EXPECT_EQ(Pass("z"), "idx 3B, wr 02");
}

TEST_F(Menu, QuitKeysAndKeysThatOnlyRedraw) {
  for (std::string key : {"q", "Q", "\x1b"}) {
    bool quit = false;
    term_.Type(key);
    term_.Pause(100);  // a lone Esc becomes the key after the decoder's wait
    EXPECT_EQ(Pass("", &quit), "");
    EXPECT_TRUE(quit) << key;
    EXPECT_EQ(Row(1), "") << "the screen is cleared";
  }
  for (std::string key : {"x", "\x1bOP", "\x1b[A", "1", "\x1b[1;3S"}) {
    bool quit = true;
    EXPECT_EQ(Pass(key, &quit), "");
    EXPECT_FALSE(quit);
  }
}

}  // namespace
}  // namespace q7t
