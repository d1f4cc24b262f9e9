// The notify socket: a datagram to the address in $NOTIFY_SOCKET (a path, or
// '@' for an abstract name).
#include "platform/service.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>

namespace q7t::os {

namespace {

template <typename T>
bool Number(std::string_view text, T* value) {
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && ptr == text.data() + text.size();
}

bool WatchdogForUs() {
  const char* usec = std::getenv("WATCHDOG_USEC");
  unsigned long long us = 0;
  if (!usec || !Number(usec, &us) || us == 0) return false;
  const char* pid = std::getenv("WATCHDOG_PID");
  long p = 0;
  return !pid || (Number(pid, &p) && p == ::getpid());
}

}  // namespace

std::unique_ptr<ServiceNotifier> ServiceNotifier::FromEnvironment() {
  const char* path = std::getenv("NOTIFY_SOCKET");
  sockaddr_un addr{};
  const std::size_t length = path ? std::strlen(path) : 0;
  if (length < 2 || (path[0] != '/' && path[0] != '@') || length >= sizeof addr.sun_path) {
    return nullptr;
  }
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path, length);
  if (path[0] == '@') addr.sun_path[0] = '\0';
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), size) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<ServiceNotifier>(new ServiceNotifier(fd, WatchdogForUs()));
}

ServiceNotifier::~ServiceNotifier() {
  ::close(fd_);
}

void ServiceNotifier::Send(std::string_view state) {
  (void)!::send(fd_, state.data(), state.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

bool StderrIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (!stream) return false;
  const std::string_view text(stream);
  const std::size_t colon = text.find(':');
  unsigned long long dev = 0, ino = 0;
  struct stat st {};
  return colon != std::string_view::npos && Number(text.substr(0, colon), &dev) &&
         Number(text.substr(colon + 1), &ino) && ::fstat(STDERR_FILENO, &st) == 0 &&
         static_cast<unsigned long long>(st.st_dev) == dev &&
         static_cast<unsigned long long>(st.st_ino) == ino;
}

}  // namespace q7t::os
