// Living as a service: the service manager's notify socket ($NOTIFY_SOCKET:
// readiness, watchdog, status), spoken without a library, and whether
// standard error is the journal ($JOURNAL_STREAM), which reads a "<N>"
// prefix as the line's priority.
#pragma once

#include <memory>
#include <string_view>

namespace q7t::os {

class ServiceNotifier {
 public:
  // nullptr when the process was not started with a notify socket.
  static std::unique_ptr<ServiceNotifier> FromEnvironment();
  ~ServiceNotifier();
  ServiceNotifier(const ServiceNotifier&) = delete;
  ServiceNotifier& operator=(const ServiceNotifier&) = delete;

  // One datagram of newline-separated assignments ("READY=1\nSTATUS=...").
  void Send(std::string_view state);
  // The manager watches this process ($WATCHDOG_USEC, for this process).
  bool watchdog() const { return watchdog_; }

 private:
  ServiceNotifier(int fd, bool watchdog) : fd_(fd), watchdog_(watchdog) {}
  int fd_;
  bool watchdog_;
};

// Journal priorities, as syslog numbers them.
enum class Priority { kError = 3, kWarning = 4, kNotice = 5, kInfo = 6 };
// True when standard error is the journal's stream.
bool StderrIsJournal();

}  // namespace q7t::os
