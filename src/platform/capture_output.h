// What a capture needs of the OS: its output file (appended to, never
// truncated, rotated by size), the signals that stop it or ask for its
// status, and a monotonic clock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace q7t::os {

class CaptureFile {
 public:
  // Opens `path` for appending (created with mode 0644 when missing). With
  // `rotate_size` > 0, a file that reaches that size becomes path.1, the
  // older ones path.2 .. path.`keep`, and a new path is started.
  static std::unique_ptr<CaptureFile> Open(const std::string& path, std::uint64_t rotate_size,
                                           int keep, std::string* err);
  ~CaptureFile();  // syncs and closes
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;

  // Writes all of `bytes` (rotating where the size is reached); false and
  // the reason when a write, a rename or a new file failed.
  bool Write(std::string_view bytes, std::string* err);
  // Flushes what was written to the disk.
  bool Sync(std::string* err);

 private:
  CaptureFile(std::string path, int fd, std::uint64_t size, bool regular, std::uint64_t rotate_size,
              int keep);
  bool Rotate(std::string* err);

  std::string path_;
  int fd_;
  std::uint64_t size_;
  bool regular_;
  std::uint64_t rotate_size_;
  int keep_;
};

// SIGTERM and SIGINT ask the capture to stop, SIGUSR1 for a status line.
// The handlers only set flags and wake WaitForSignal, whichever thread the
// signal lands on.
void InstallCaptureSignals();
struct CaptureWake {
  bool stop = false;    // stays set once asked
  bool status = false;  // taken by this call
};
// Waits up to `timeout_ms`, returning at once when a signal has come.
CaptureWake WaitForSignal(int timeout_ms);

std::int64_t MonotonicMs();

}  // namespace q7t::os
