// The virtual card listening on a real serial device or a pseudo-terminal:
// raw 8N1, no flow control, at the standard rate nearest to the card's line
// rate, read on a background thread. A device that goes away stops the
// receiving; the card keeps what it stored.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace q7t {

class VirtualCard;

// The standard serial rate nearest to 125000000 / divisor bit/s (divisor > 0).
int NearestStandardRate(int divisor);

class SerialDeviceSource {
 public:
  // Opens `path` and starts receiving into `card`; nullptr and the reason in
  // words in `*error` when the device cannot be opened.
  static std::unique_ptr<SerialDeviceSource> Open(const std::string& path, VirtualCard& card,
                                                  std::string* error);
  SerialDeviceSource(const SerialDeviceSource&) = delete;
  SerialDeviceSource& operator=(const SerialDeviceSource&) = delete;
  ~SerialDeviceSource();

  // False once the device has gone away (end of file, error, hang-up).
  bool receiving() const { return receiving_.load(); }

 private:
  SerialDeviceSource(VirtualCard& card, int fd, int wake_read, int wake_write);
  void Run();
  void Configure(int divisor);

  VirtualCard& card_;
  const int fd_;
  const int wake_read_;  // a byte here: the divisor changed, or stop
  const int wake_write_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> receiving_{true};
  std::thread thread_;
};

}  // namespace q7t
