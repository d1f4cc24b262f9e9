// The virtual card listening on a real serial device or a pseudo-terminal:
// raw 8N1, no flow control, at the standard rate nearest to the card's line
// rate, read on a background thread. The line is held exclusively. A device
// that goes away (a USB adapter unplugged) is opened again as soon as it is
// back, at the card's rate; the card keeps what it stored meanwhile.
#pragma once

#include <atomic>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace q7t {

class VirtualCard;

// The standard serial rate nearest to 125000000 / divisor bit/s (divisor > 0).
int NearestStandardRate(int divisor);

class SerialDeviceSource {
 public:
  // Opens `path` and starts receiving into `card`; nullptr and the reason in
  // words in `*error` when the device cannot be opened, is not a terminal
  // device, or another program holds it ("busy").
  static std::unique_ptr<SerialDeviceSource> Open(const std::string& path, VirtualCard& card,
                                                  std::string* error);
  SerialDeviceSource(const SerialDeviceSource&) = delete;
  SerialDeviceSource& operator=(const SerialDeviceSource&) = delete;
  ~SerialDeviceSource();

  // False while the device is gone (end of file, error, hang-up).
  bool receiving() const { return receiving_.load(); }
  // One line per time the device went away and came back, with the local
  // time of day ("" when it never went away), for stderr at the end.
  std::string Report() const;
  // The same lines, without the program's name, for the times not taken
  // yet: a capture tells them as they happen.
  std::string TakeNews();

  // How often a device that went away is looked for.
  static constexpr int kRetryMs = 200;

 private:
  SerialDeviceSource(const std::string& path, VirtualCard& card, int fd, int wake_read,
                     int wake_write);
  void Run();
  bool Reopen();
  void Configure(int divisor);
  void Note(bool back);
  struct Event;
  std::string Lines(const std::vector<Event>& events, std::size_t dropped,
                    const std::string& prefix) const;

  const std::string path_;
  VirtualCard& card_;
  int fd_;               // -1 while the device is gone; the reader thread's own
  const int wake_read_;  // a byte here: the divisor changed, or stop
  const int wake_write_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> receiving_{true};
  mutable std::mutex events_mutex_;
  struct Event {
    bool back;
    std::time_t when;
  };
  std::vector<Event> events_;
  std::size_t events_dropped_ = 0;
  std::vector<Event> news_;  // not taken yet
  std::size_t news_dropped_ = 0;
  std::thread thread_;
};

}  // namespace q7t
