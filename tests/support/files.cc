#include "support/files.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/files.h"

namespace q7t::test {

namespace {

int Sync(int fd) {
  struct stat st;
  const bool file = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ++(file ? SyncProbe::files : SyncProbe::folders);
  if (file && SyncProbe::at_file_flush) SyncProbe::at_file_flush();
  errno = SyncProbe::fail_with;
  return SyncProbe::fail_with == 0 ? 0 : -1;
}

}  // namespace

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool WriteWhole(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return out.good();
}

ProgramRun RunProgram(const std::vector<std::string>& argv, int timeout_ms) {
  ProgramRun run;
  int pipes[2][2];
  if (::pipe2(pipes[0], O_CLOEXEC) != 0 || ::pipe2(pipes[1], O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return run;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, STDIN_FILENO);
    ::dup2(pipes[0][1], STDOUT_FILENO);
    ::dup2(pipes[1][1], STDERR_FILENO);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(pipes[0][1]);
  ::close(pipes[1][1]);
  pollfd fds[2] = {{pipes[0][0], POLLIN, 0}, {pipes[1][0], POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (int open = 2; open > 0;) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << argv[0] << " did not end";
      ::kill(pid, SIGKILL);
      break;
    }
    if (::poll(fds, 2, 100) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (const pollfd& p : fds) {
    if (p.fd >= 0) ::close(p.fd);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

char ProcState(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return 0;
  const std::size_t close = line.rfind(')');
  return close != std::string::npos && line.size() > close + 2 ? line[close + 2] : 0;
}

SyncProbe::SyncProbe() {
  files = folders = fail_with = 0;
  at_file_flush = nullptr;
  os::SetSyncCall(Sync);
}

SyncProbe::~SyncProbe() {
  os::SetSyncCall(nullptr);
  at_file_flush = nullptr;
}

}  // namespace q7t::test
