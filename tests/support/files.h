// Whole files, programs run to their end, and the flushes that put files on
// disk: what tests of several folders need alike.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace q7t::test {

// The bytes of `path`; "" when it cannot be read.
std::string ReadWhole(const std::string& path);
// `bytes` as the whole of `path`; false when they could not be written.
bool WriteWhole(const std::string& path, std::string_view bytes);

// How a program ran: its exit code (128 + the signal that ended it), and
// what it wrote to standard output and standard error.
struct ProgramRun {
  int status = -1;
  std::string out, err;
};
// Runs argv (argv[0] a path) with standard input from /dev/null; a program
// still running after `timeout_ms` is killed and the test fails.
ProgramRun RunProgram(const std::vector<std::string>& argv, int timeout_ms = 5000);

// The state letter of /proc/PID/stat ('S' sleeping, 'T' stopped, 'Z' a
// zombie ...); 0 when the process is gone.
char ProcState(pid_t pid);

// Stands in for the flush to disk (os::SetSyncCall) while it lives: counts
// the flushes of files and of folders, fails them with `fail_with` when
// that is set, and runs `at_file_flush` at each file flush.
class SyncProbe {
 public:
  SyncProbe();
  ~SyncProbe();
  SyncProbe(const SyncProbe&) = delete;
  SyncProbe& operator=(const SyncProbe&) = delete;

  static inline int files = 0, folders = 0, fail_with = 0;
  static inline std::function<void()> at_file_flush;
};

}  // namespace q7t::test
