// The real-card build's power over the I/O ports: under porttrap, which
// grants the card's ports and answers them like a card, the process gives
// that power up as soon as it holds the ports; and a refused access is
// explained on stderr when the program ends, never on the screen.
#include <linux/capability.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "e2e/menu_screen.h"
#include "e2e/porttrap.h"
#include "support/files.h"
#include "support/pty_harness.h"

namespace q7t::test {
namespace {

constexpr std::uint64_t kRawIo = std::uint64_t{1} << CAP_SYS_RAWIO;
constexpr const char* kNobodyWithRawIo =
    "setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=+sys_rawio "
    "--ambient-caps=+sys_rawio --";

// Why the programs run here cannot run as these tests need; empty when they
// can: porttrap traces, and setpriv hands uid 65534 the raw I/O capability.
std::string Unavailable() {
  if (std::string(Q7T_PORTTRAP).empty()) return "porttrap is not beside the checkout";
  if (geteuid() != 0) return "needs root to run the program as uid 65534";
  std::string command = std::string(Q7T_PORTTRAP) + " -- " + kNobodyWithRawIo +
                        " grep -q '^CapAmb:[[:space:]]*0*20000$' /proc/self/status 2>/dev/null";
  int status = std::system(command.c_str());
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return code == 0     ? ""
         : code == 125 ? "porttrap cannot trace here (ptrace not allowed)"
         : code == 127 ? "setpriv is not installed"
                       : "setpriv cannot give uid 65534 cap_sys_rawio here";
}

// The Cap* lines of /proc/PID/status by name.
std::map<std::string, std::uint64_t> Caps(pid_t pid) {
  std::map<std::string, std::uint64_t> caps;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Cap", 0) != 0) continue;
    std::size_t colon = line.find(':');
    caps[line.substr(0, colon)] = std::stoull(line.substr(colon + 1), nullptr, 16);
  }
  return caps;
}

TEST(PortPrivilege, GivenUpOnceThePortsAreHeld) {
  if (std::string why = Unavailable(); !why.empty()) GTEST_SKIP() << why;
  const auto own = Caps(getpid());
  for (bool root : {false, true}) {
    SCOPED_TRACE(root ? "root" : "uid 65534 with cap_sys_rawio");
    ScopedTempDir dir;
    ASSERT_TRUE(dir.OpenToAll());
    CopyProgram("q7tlog", dir);
    // The shell leaves its pid, which the program keeps through the execs.
    std::string run =
        std::string("echo $$ >pid.txt; exec ") + (root ? "" : kNobodyWithRawIo) + " ./q7tlog";
    std::vector<std::string> args = {"--mode", "2A",      "--count", "123", "--flag",
                                     "--",     "/bin/sh", "-c",      run};
    PtyProgram::Options options = ProgramOptions(Q7T_PORTTRAP, args);
    options.cwd = dir.path();
    PtyProgram program(options);
    ASSERT_TRUE(program.WaitFor(MenuWith("???", "2A", "0/00000"))) << program.ScreenDump();
    pid_t pid = -1;
    std::ifstream(dir.File("pid.txt")) >> pid;
    auto caps = Caps(pid);
    if (root) {
      // Root keeps every other power an exec gives it.
      const std::uint64_t rest = (own.at("CapBnd") | own.at("CapInh")) & ~kRawIo;
      EXPECT_EQ(caps["CapEff"], rest);
      EXPECT_EQ(caps["CapPrm"], rest);
      EXPECT_EQ(caps["CapBnd"], own.at("CapBnd") & ~kRawIo);
      EXPECT_EQ(caps["CapInh"] & kRawIo, 0u);
      EXPECT_EQ(caps["CapAmb"] & kRawIo, 0u);
    } else {
      for (const char* set : {"CapEff", "CapPrm", "CapInh", "CapAmb"}) {
        EXPECT_EQ(caps[set], 0u) << set;
      }
    }
    // The ports granted before stay granted.
    ASSERT_TRUE(program.Send("r"));
    EXPECT_TRUE(program.WaitFor(MenuWith("???", "2A", "1/00123"))) << program.ScreenDump();
    ASSERT_TRUE(program.Send("q"));
    int status = -1;
    ASSERT_TRUE(program.WaitForExit(5000, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(program.raw_output().find("q7tlog:"), std::string::npos) << "a last word on stderr";
  }
}

TEST(PortPrivilege, RefusalExplainedOnStderrAtTheEnd) {
  for (bool by_signal : {false, true}) {
    SCOPED_TRACE(by_signal ? "SIGTERM" : "Q");
    ScopedTempDir dir;
    ASSERT_TRUE(dir.OpenToAll());
    PtyProgram::Options options =
        ProgramOptions("/bin/sh", {"-c", "exec \"$0\" 2>stderr.txt", CopyProgram("q7tlog", dir)});
    options.cwd = dir.path();
    options.drop_privileges = true;
    PtyProgram program(options);
    const auto refused = MenuWith("???", "FFFFFFF8", "1/30712");
    ASSERT_TRUE(program.WaitFor(refused)) << program.ScreenDump();
    if (by_signal) {
      kill(program.pid(), SIGTERM);
    } else {
      // Commands still run (and are refused again) without ending the program.
      ASSERT_TRUE(program.Send("rzm"));
      ASSERT_TRUE(program.WaitForText(kMenuCursorRow, kModePrompt)) << program.ScreenDump();
      ASSERT_TRUE(program.Send("3\r"));
      ASSERT_TRUE(program.WaitFor(refused)) << program.ScreenDump();
      ASSERT_TRUE(program.Send("q"));
    }
    int status = -1;
    ASSERT_TRUE(program.WaitForExit(5000, &status));
    EXPECT_EQ(by_signal, WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;

    const std::string err = ReadWhole(dir.File("stderr.txt"));
    EXPECT_EQ(err.rfind("q7tlog: no access to the card's ports 0x350-0x351 (", 0), 0u) << err;
#if defined(__x86_64__) || defined(__i386__)
    EXPECT_NE(err.find("(ioperm: "), std::string::npos) << err;
#endif
    EXPECT_NE(err.find("/dev/port: "), std::string::npos) << err;
    EXPECT_NE(err.find("setcap cap_sys_rawio+ep q7tlog\n"), std::string::npos) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
    EXPECT_EQ(program.raw_output().find("0x350"), std::string::npos) << "shown on the screen";
  }
}

}  // namespace
}  // namespace q7t::test
