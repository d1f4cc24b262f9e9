// The console takes from its terminal what only the terminal can tell: Num
// Lock for the keypad, a bright background that would blink, and a write
// that failed.
#include "console/console.h"

#include <gtest/gtest.h>

#include <string>

#include "support/fake_terminal.h"
#include "support/linux_colours.h"
#include "support/vterm_screen.h"

namespace q7t {
namespace {

// In application mode the Linux console's keypad sends the same forms
// whatever Num Lock says: digits while it is on.
TEST(Console, KeypadDigitsWithNumLockOn) {
  test::FakeTerminal term;
  term.num_lock = true;
  InstallConsole(&term, CapsForTerm("linux"));
  term.Type("\x1bOy\x1bOp\r");
  EXPECT_EQ(InputLine("P"), "90");
}

// On a VGA text console a bright background is drawn in its normal colour,
// never as blink.
TEST(Console, SteadyBackgroundsWhereTheTerminalWouldBlink) {
  test::FakeTerminal term;
  term.bright_backgrounds_blink = true;
  InstallConsole(&term, CapsForTerm("linux"));
  SetColor(15, 12);
  PrintText("E");
  FlushConsole();
  test::LinuxColours colours;  // blink shows as the bright background
  test::VtermScreen screen(25, 80);
  screen.Feed(colours.Translate(term.output()));
  EXPECT_EQ(screen.CellBg(1, 1), 4);
}

// A terminal that cannot be written ends the program at the next flush, with
// status 1 and the terminal's reason, before any key is taken.
TEST(Console, FailedWriteEndsWithTheReason) {
  struct Ended {
    int status;
    std::string failure;
  };
  test::FakeTerminal term;
  InstallConsole(&term, {}, [](int status, const std::string& failure) {
    throw Ended{status, failure};
  });
  term.Type("q");
  term.write_failure = "cannot write to the terminal: No space left on device";
  try {
    WaitKey();
    ADD_FAILURE() << "a key was taken";
  } catch (const Ended& e) {
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(e.failure, term.write_failure);
  }
}

}  // namespace
}  // namespace q7t
