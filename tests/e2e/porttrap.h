// porttrap, built into the build tree from the copy beside the checkout,
// answers the real-card build's ports in the end-to-end tests.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace q7t::test {

inline const std::string kPorttrap = Q7T_PORTTRAP;

// Why porttrap cannot serve here; empty when it traces.
inline std::string PorttrapUnavailable() {
  if (kPorttrap.empty()) return "porttrap is not beside the checkout";
  const int status = std::system((kPorttrap + " -- /bin/true >/dev/null 2>&1").c_str());
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
  return "porttrap cannot trace here (ptrace not allowed)";
}

// The real-card build takes the machine's card lock and may find a hold note
// another test's program left: tests that run it hold this while they do,
// one at a time, whatever runs the test programs in parallel.
class OneRealCardAtATime {
 public:
  OneRealCardAtATime()
      : fd_(open("/run/lock/q7tlog-tests.lock", O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644)) {
    if (fd_ >= 0) flock(fd_, LOCK_EX);  // without it, the tests run as they come
  }
  ~OneRealCardAtATime() {
    if (fd_ >= 0) close(fd_);
  }
  OneRealCardAtATime(const OneRealCardAtATime&) = delete;
  OneRealCardAtATime& operator=(const OneRealCardAtATime&) = delete;

 private:
  int fd_;
};

}  // namespace q7t::test
