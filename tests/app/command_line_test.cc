// The command line by table: arguments, exit status, message, and the card
// traffic of each one-shot command against the menu key it stands for.
#include "app/command_line.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/menu.h"
#include "app/tool.h"
#include "card/card_lock.h"
#include "card/save_log.h"
#include "console/console.h"
#include "platform/clock.h"
#include "support/fake_lock_store.h"
#include "support/fake_terminal.h"
#include "support/files.h"
#include "support/pty_harness.h"
#include "support/recording_port_bus.h"

namespace q7t {
namespace {

// What one descriptor (stdout or stderr) receives while it lives.
class Captured {
 public:
  explicit Captured(int fd) : fd_(fd), file_(std::tmpfile()) {
    std::fflush(nullptr);
    saved_ = ::dup(fd_);
    ::dup2(::fileno(file_), fd_);
  }
  ~Captured() { Take(); }
  std::string Take() {
    if (saved_ < 0) return text_;
    std::fflush(nullptr);
    ::dup2(saved_, fd_);
    ::close(saved_);
    saved_ = -1;
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) text_.push_back(static_cast<char>(c));
    std::fclose(file_);
    return text_;
  }

 private:
  int fd_;
  std::FILE* file_;
  int saved_ = -1;
  std::string text_;
};

struct Outcome {
  int status;
  std::string traffic, out, err;
};

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    os::SetClockForTest([] { return os::LocalTime{2026, 12, 8, 5, 33, 10}; });
    InstallConsole(&term_);
    SetScreenSize(80, 25);
    bus_.SetRegister(0x38, 0x7B);
    bus_.SetRegister(0x39, 0x80);
    bus_.SetRegister(0x3A, 0x05);
  }
  void TearDown() override {
    SetPortBus(nullptr);
    SetLogDir("");
    os::SetClockForTest(nullptr);
    std::filesystem::current_path(cwd_);
  }

  Outcome Run(std::vector<std::string> args, Program program = Program::kRealCard,
              const char* env = nullptr, test::RecordingPortBus* bus = nullptr) {
    args.insert(args.begin(), "q7tlog");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    Captured out(STDOUT_FILENO), err(STDERR_FILENO);
    inv_ = ParseCommandLine(static_cast<int>(args.size()), argv.data(), program, env);
    int status = AnswerWithoutCard(inv_);
    if (status < 0 && inv_.what == Invocation::What::kCommand) {
      status =
          RunTool(inv_, {.bus = bus ? bus : &bus_, .card_lock = lock_, .log_dir = inv_.log_dir});
    }
    return {status, (bus ? *bus : bus_).Take(), out.Take(), err.Take()};
  }
  // The accesses of a first menu pass in which `keys` were typed.
  std::string Menu(const std::string& keys) {
    SetPortBus(&bus_);
    term_.Type(keys);
    MenuState state;
    MenuPass(state);
    SetPortBus(nullptr);
    return bus_.Take();
  }

  test::FakeTerminal term_;
  test::RecordingPortBus bus_;
  CardLockStore* lock_ = nullptr;  // handed over with the bus
  test::ScopedTempDir dir_;
  Invocation inv_;
  std::filesystem::path cwd_ = std::filesystem::current_path();
};

TEST_F(CommandLine, EachCommandMakesTheAccessesOfItsMenuKey) {
  struct Case {
    std::vector<std::string> args;
    std::string keys;
  };
  const Case kCases[] = {
      {{"status"}, "x"},
      {{"baud", "9600"}, "b9600\r"},
      {{"baud", "1907.38"}, "b1907.38\r"},
      {{"mode", "1f"}, "m1F\r"},
      {{"mode", "0"}, "m0\r"},
      {{"copy"}, "r"},
      {{"reset"}, "z"},
      {{"save", dir_.File("x")}, "s"},
  };
  SetLogDir(dir_.path());
  for (const Case& c : kCases) {
    const Outcome got = Run(c.args);
    EXPECT_EQ(got.status, 0) << c.args[0] << ": " << got.err;
    EXPECT_EQ(got.traffic, Menu(c.keys)) << c.args[0];
  }
}

TEST_F(CommandLine, BadCommandLinesTouchNothing) {
  struct Case {
    std::vector<std::string> args;
    std::string message;  // in the one line on stderr
  };
  // A capture accepted by mistake would end at once (--seconds=0).
  const Case kCases[] = {
      {{"baud", "1200"}, "baud rate '1200' is too low: its divisor 104167"},
      {{"baud", "1907.35"}, "its divisor 65536 does not fit"},
      {{"baud", "9600baud"}, "'9600baud' is not a positive number"},
      {{"baud", "--", "-9600"}, "'-9600' is not"},
      {{"baud", "250000001"}, "'250000001' is too high"},
      {{"baud"}, "baud needs RATE"},
      {{"mode", "100"}, "mode '100' is not one or two hexadecimal digits"},
      {{"mode", "+1"}, "mode '+1'"},
      {{"copy", "now"}, "copy: unexpected 'now'"},
      {{"save", "/nonexistent/log"}, "'/nonexistent/log' is in no existing folder"},
      {{"save", "/tmp"}, "save file '/tmp' is not a file name"},
      {{"--json", "copy"}, "'--json' belongs to the status command"},
      {{"frob"}, "unknown command 'frob'"},
      {{"--frob"}, "unknown option '--frob'"},
      {{"-q"}, "unknown option '-q'"},
      {{"status", "-L"}, "option '-L' needs a value"},
      {{"--log-dir=/nonexistent", "status"}, "log folder '/nonexistent' is not an existing folder"},
      {{"--device=/dev/null"}, "unknown option '--device'"},
      {{"--seconds=0", "capture", "f", "--keep", "3"}, "capture: --keep goes with --rotate"},
      {{"--seconds=0", "capture", "f", "--rotate", "4095"}, "--rotate '4095' is below 4K"},
      {{"--seconds=0", "capture", "f", "--rotate", "4K", "--keep", "1001"},
       "'1001' is not a number from 1 to"},
      {{"--seconds=0", "capture", "f", "--baud", "1200"}, "baud rate '1200' is too low"},
      {{"--seconds=0", "capture", "f", "--hold", "1025M"}, "--hold '1025M' is above 1G"},
      {{"--seconds=0", "capture", "/dev/null"}, "file '/dev/null' is not a regular file"},
      {{"--seconds=0", "capture", "-", "--rotate", "1M"}, "--rotate needs a FILE"},
      {{"--wait", "1.5", "copy"}, "wait '1.5' is not a whole number of seconds"},
      {{"--wait=-1", "copy"}, "wait '-1' is not"},
      {{"--wait", "3"}, "option '--wait' belongs to the commands"},
      {{"--lock", "/run/", "copy"}, "lock file '/run/' is not a file name"},
  };
  for (const Case& c : kCases) {
    const Outcome got = Run(c.args);
    EXPECT_EQ(got.status, 2) << c.message;
    EXPECT_EQ(got.traffic, "") << c.message;
    EXPECT_EQ(got.out, "") << c.message;
    const std::string first_line = got.err.substr(0, got.err.find('\n'));
    EXPECT_EQ(first_line.rfind("q7tlog: ", 0), 0u) << got.err;
    EXPECT_NE(first_line.find(c.message), std::string::npos) << got.err;
    EXPECT_NE(got.err.find("\nUsage: q7tlog "), std::string::npos) << got.err;
  }
}

TEST_F(CommandLine, HelpAndVersionOnStdout) {
  for (const char* option : {"-h", "--help", "-V", "--version"}) {
    const Outcome got = Run({"status", option, "--frob"});
    EXPECT_EQ(got.status, 0) << option;
    EXPECT_EQ(got.traffic + got.err, "") << option;
  }
  EXPECT_EQ(Run({"-V"}).out, std::string("q7tlog ") + Q7T_VERSION_FOR_TEST + "\n");
}

TEST_F(CommandLine, VirtualCardTellsDevicesFromCommands) {
  struct Case {
    std::vector<std::string> args;
    Invocation::What what;
    std::string device;
  };
  const Case kCases[] = {
      {{}, Invocation::What::kMenu, ""},
      {{"/dev/ttyUSB0"}, Invocation::What::kMenu, "/dev/ttyUSB0"},
      {{"--device", "status"}, Invocation::What::kMenu, "status"},
      {{"-d", "/dev/pts/3", "save", "-"}, Invocation::What::kCommand, "/dev/pts/3"},
      {{"/dev/ttyUSB0", "status"}, Invocation::What::kCommand, "/dev/ttyUSB0"},
      {{"/dev/pts/3", "capture", dir_.File("c"), "--seconds", "0", "--rotate", "4K", "--keep",
        "1000", "--hold", "1G"},
       Invocation::What::kCommand,
       "/dev/pts/3"},
      {{"--seconds=0", "capture", dir_.File("c")}, Invocation::What::kBadUsage, ""},
      {{"-d", "a", "b", "status"}, Invocation::What::kBadUsage, "a"},
      {{"status", "--seconds=5"}, Invocation::What::kBadUsage, ""},
      {{"capture", "f", "--keep", "0"}, Invocation::What::kBadUsage, ""},
      {{"--device=a", "b"}, Invocation::What::kBadUsage, "a"},
  };
  for (const Case& c : kCases) {
    test::RecordingPortBus unused;
    Run(c.args, Program::kVirtualCard, nullptr, &unused);
    EXPECT_EQ(inv_.what, c.what) << inv_.error;
    EXPECT_EQ(inv_.device, c.device);
  }
}

TEST_F(CommandLine, SaveWritesTheBytesOfTheMenusSave) {
  std::vector<int> log;
  for (int k = 0; k < kLogBufferSize; ++k) log.push_back((k * 37 + 13) & 0xFF);
  bus_.SetLogBytes(log);
  SetLogDir(dir_.path());
  test::SyncProbe probe;  // each save below that writes a file flushes it once
  Menu("s");
  const std::string by_menu = test::ReadWhole(dir_.File(kLogFileName));
  ASSERT_EQ(by_menu.size(), static_cast<std::size_t>(kLogFileSize));
  EXPECT_EQ(by_menu.substr(0, 49), "Serial Line Log 12-08-2026 05:33:10 RdCnt=1/00123");

  bus_.SetLogBytes(log);
  EXPECT_EQ(Run({"save", "-"}).out, by_menu);
  bus_.SetLogBytes(log);
  EXPECT_EQ(Run({"save", "copy.txt"}).status, 0);  // relative to the working directory
  EXPECT_EQ(test::ReadWhole(dir_.File("copy.txt")), by_menu);

  // No FILE: SerLog.txt in the log folder, from the option over the variable.
  test::ScopedTempDir other;
  bus_.SetLogBytes(log);
  EXPECT_EQ(Run({"save"}, Program::kRealCard, dir_.path().c_str()).status, 0);
  bus_.SetLogBytes(log);
  EXPECT_EQ(Run({"save", "-L", other.path()}, Program::kRealCard, "/nonexistent").status, 0);
  EXPECT_EQ(test::ReadWhole(other.File(kLogFileName)), by_menu);
  EXPECT_EQ(test::SyncProbe::files, 4);
  EXPECT_EQ(Run({"status"}, Program::kRealCard, "/nonexistent").status, 2);
}

// A bus whose every access is refused, as the real one without permission.
class RefusingBus : public test::RecordingPortBus {
 public:
  bool Refused() const override { return true; }
  std::string RefusalText() const override { return "no access to the card's ports (why)"; }
};

TEST_F(CommandLine, RefusedPortsAreAnErrorAndNoLogIsWritten) {
  RefusingBus refusing;
  for (const char* command : {"status", "reset", "save"}) {
    const Outcome got = Run({"-L", dir_.path(), command}, Program::kRealCard, nullptr, &refusing);
    EXPECT_EQ(got.status, 1) << command;
    EXPECT_EQ(got.out, "");
    EXPECT_EQ(got.err, "q7tlog: no access to the card's ports (why)\n");
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.File(kLogFileName)));
}

// The pass and the command's accesses are one sequence under the card-wide
// lock; a card another process holds past --wait is given up untouched.
TEST_F(CommandLine, OneShotHoldsTheCardOnceOrGivesUp) {
  test::FakeLockStore store(bus_);
  lock_ = &store;
  EXPECT_EQ(Run({"copy"}).status, 0);
  EXPECT_EQ(store.holds_, 1);
  EXPECT_EQ(store.outside_, "");
  EXPECT_EQ(store.under_,
            "idx 38, rd; idx 39, rd; idx 3A, rd (note 05) idx 3A, wr 15; idx 3B, wr 01; "
            "idx 3A, wr 05 (note cleared) |");

  store.busy_until_ms_ = -1;
  const Outcome got = Run({"--wait", "2", "copy"});
  lock_ = nullptr;
  EXPECT_EQ(got.status, 1);
  EXPECT_EQ(store.outside_ + got.traffic, "");
  EXPECT_EQ(store.now_ms_, 2000);
  EXPECT_EQ(got.err,
            "q7tlog: the card is held by process 4321; waiting\n"
            "q7tlog: the card is still held by process 4321 after 2 s; gave up\n");
  EXPECT_EQ(Run({"--lock", "/x/card.lock", "status"}, Program::kRealCard, nullptr).status, 0);
  EXPECT_EQ(inv_.lock, "/x/card.lock");
  EXPECT_EQ(inv_.wait_ms, 10000);
}

TEST_F(CommandLine, StatusAsTheMenuShowsItAndAsJson) {
  EXPECT_EQ(Run({"status"}).out, "RdCnt 1/00123\nMode 5\n");
  EXPECT_EQ(Run({"status", "--json"}).out,
            "{\"counter_word\":32891,\"flag\":1,\"count\":123,\"mode\":5}\n");
}

}  // namespace
}  // namespace q7t
