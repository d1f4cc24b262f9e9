// The log save against what may already sit at "SerLog.txt" or guard it,
// and against a write or a flush that fails: a folder, links that lead
// nowhere or to a folder, a FIFO, a log the file system will not let anyone
// replace, a file size limit, a disk that cannot flush. Each save either
// writes a regular file in the log's place or says why and leaves what was
// there alone, and the card steps always run in full. (A missing folder is
// in save_log_test.cc.)
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "card/card.h"
#include "card/save_log.h"
#include "platform/clock.h"
#include "support/files.h"
#include "support/pty_harness.h"
#include "support/recording_port_bus.h"

namespace q7t {
namespace {

constexpr const char* kHeader = "Serial Line Log 03-14-2027 23:59:58 RdCnt=1/32767";
constexpr const char* kOldLog = "old log\r\nsecond line\r\n";

os::LocalTime FixedClock() {
  return {2027, 3, 14, 23, 59, 58};
}

std::set<std::string> Entries(const std::string& dir) {
  std::set<std::string> names;
  std::error_code ignored;
  for (const auto& e : std::filesystem::directory_iterator(dir, ignored)) {
    names.insert(e.path().filename());
  }
  return names;
}

std::vector<int> LogBytes() {
  std::vector<int> log;
  for (int k = 0; k < kLogBufferSize; ++k) log.push_back((k * 31 + 7) & 0xFF);
  return log;
}

std::string ExpectedFile() {
  std::string file = std::string(kHeader) + "\r\n";
  for (int b : LogBytes()) file.push_back(static_cast<char>(b));
  return file;
}

// Sets or clears the immutable attribute of a file, which binds root too:
// no rename over it, no unlink.
bool SetImmutable(const std::string& path, bool on) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return ok;
}

// One row's folders: `save` receives the log; `elsewhere` is outside it,
// for what links lead to. What a row put in place besides files is undone
// before the folders go.
struct Scene {
  test::ScopedTempDir save, elsewhere;
  std::string log() const { return save.File(kLogFileName); }
  std::vector<std::function<void()>> undo;
  ~Scene() {
    for (auto it = undo.rbegin(); it != undo.rend(); ++it) (*it)();
  }
};

void OldLogKept(const Scene& s) {
  EXPECT_EQ(test::ReadWhole(s.log()), kOldLog);
}

struct Fault {
  const char* name;
  // Puts the fault in place; false when this system cannot make it.
  std::function<bool(Scene&)> make;
  int error;  // 0: the save works; else the errno its message names
  // What must hold afterwards besides the common checks.
  std::function<void(const Scene&)> check;
};

TEST(SaveFaults, LogPlaceTakenOrGuarded) {
  const Fault kFaults[] = {
      {"a folder named like the log",
       [](Scene& s) {
         return ::mkdir(s.log().c_str(), 0755) == 0 &&
                test::WriteWhole(s.log() + "/inner", "inside");
       },
       EISDIR,
       [](const Scene& s) {
         EXPECT_TRUE(std::filesystem::is_directory(s.log()));
         EXPECT_EQ(Entries(s.log()), std::set<std::string>{"inner"});
         EXPECT_EQ(test::ReadWhole(s.log() + "/inner"), "inside");
       }},
      {"a dangling link",
       [](Scene& s) { return ::symlink(s.elsewhere.File("absent").c_str(), s.log().c_str()) == 0; },
       0,
       [](const Scene& s) {
         // Written through, the link would have made this file.
         EXPECT_TRUE(Entries(s.elsewhere.path()).empty());
       }},
      {"a link to a file elsewhere",
       [](Scene& s) {
         return test::WriteWhole(s.elsewhere.File("precious"), "keep me") &&
                ::symlink(s.elsewhere.File("precious").c_str(), s.log().c_str()) == 0;
       },
       0,
       [](const Scene& s) { EXPECT_EQ(test::ReadWhole(s.elsewhere.File("precious")), "keep me"); }},
      {"a link to a folder",
       [](Scene& s) { return ::symlink(s.elsewhere.path().c_str(), s.log().c_str()) == 0; }, 0,
       [](const Scene& s) { EXPECT_TRUE(Entries(s.elsewhere.path()).empty()); }},
      {"a FIFO", [](Scene& s) { return ::mkfifo(s.log().c_str(), 0644) == 0; }, 0,
       [](const Scene&) {}},
      {"an immutable log",
       [](Scene& s) {
         if (!test::WriteWhole(s.log(), kOldLog) || !SetImmutable(s.log(), true)) return false;
         s.undo.push_back([path = s.log()] { SetImmutable(path, false); });
         return true;
       },
       EPERM, OldLogKept},
      {"a write cut short by a file size limit (which binds root too)",
       [](Scene& s) {
         rlimit limit;
         ::getrlimit(RLIMIT_FSIZE, &limit);
         const rlimit small{4096, limit.rlim_max};
         const auto handler = std::signal(SIGXFSZ, SIG_IGN);
         s.undo.push_back([limit, handler] {
           ::setrlimit(RLIMIT_FSIZE, &limit);
           std::signal(SIGXFSZ, handler);
         });
         return test::WriteWhole(s.log(), kOldLog) && ::setrlimit(RLIMIT_FSIZE, &small) == 0;
       },
       EFBIG, OldLogKept},
      {"a flush that fails",
       [](Scene& s) {
         auto probe = std::make_shared<test::SyncProbe>();
         test::SyncProbe::fail_with = EIO;
         s.undo.push_back([probe]() mutable { probe.reset(); });
         return test::WriteWhole(s.log(), kOldLog);
       },
       EIO, OldLogKept},
  };

  os::SetClockForTest(FixedClock);
  int mode = 0x00;
  for (const Fault& f : kFaults) {
    SCOPED_TRACE(f.name);
    Scene scene;
    if (!f.make(scene)) {
      // The immutable attribute needs a file system and a privilege that
      // not every test machine has.
      std::cout << "[ SKIPPED ] " << f.name << ": cannot be made here (" << std::strerror(errno)
                << ")\n";
      continue;
    }
    test::RecordingPortBus bus;
    bus.SetRegister(kRegCounterLow, 0xFF);
    bus.SetRegister(kRegCounterHigh, 0xFF);
    bus.SetLogBytes(LogBytes());
    SetPortBus(&bus);
    mode = (mode + 0x13) & 0xFF;  // a new mode each row, with and without the hold bit
    std::string message;
    const bool saved = SaveLogTo(mode, {scene.save.path(), false, true}, &message);
    SetPortBus(nullptr);

    EXPECT_EQ(bus.Take(), test::SaveSequence(mode));
    // No temporary file is left beside the log, whatever happened.
    EXPECT_EQ(Entries(scene.save.path()), std::set<std::string>{kLogFileName});
    if (f.error == 0) {
      EXPECT_TRUE(saved) << message;
      struct stat st;
      ASSERT_EQ(::lstat(scene.log().c_str(), &st), 0);
      EXPECT_TRUE(S_ISREG(st.st_mode)) << "the new log takes the place itself";
      EXPECT_EQ(test::ReadWhole(scene.log()), ExpectedFile());
    } else {
      EXPECT_FALSE(saved);
      const std::string reason = std::strerror(f.error);
      const std::string full = "Save failed: " + scene.log() + ": " + reason;
      const std::string brief = std::string("Save failed: ") + kLogFileName + ": " + reason;
      EXPECT_EQ(message, full.size() <= 76 ? full : brief);
    }
    f.check(scene);
  }
  os::SetClockForTest(nullptr);
}

}  // namespace
}  // namespace q7t
