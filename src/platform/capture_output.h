// What a capture needs of the OS: its output (a file appended to, never
// truncated, rotated by size and opened anew on request; or standard
// output), the signals that stop it, reopen its file or ask for its status,
// and the clocks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace q7t::os {

// The capture's name for standard output.
inline constexpr std::string_view kStdoutName = "-";

class CaptureFile {
 public:
  // Opens `path` for appending, created with mode 0644 when missing; it must
  // be a regular file (a FIFO, device or folder is refused, never waited
  // on). "-" is standard output, which is never rotated, synced or
  // reopened. With `rotate_size` > 0, a file that reaches that size becomes
  // path.1, the older ones path.2 .. path.`keep`, and a new path is started.
  static std::unique_ptr<CaptureFile> Open(const std::string& path, std::uint64_t rotate_size,
                                           int keep, std::string* err);
  ~CaptureFile();  // syncs and closes
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;

  // Writes as much of `bytes` as the file takes (rotating where the size is
  // reached) and returns how much that was: a short count says why in
  // `*err` (a full disk, a failed rename or new file). What a partial write
  // put in the file counts as written.
  std::size_t Write(std::string_view bytes, std::string* err);
  // Standard output can take nothing more (its reader went away, or it
  // failed): there is no waiting for it to come back.
  bool broken() const { return broken_; }
  // Flushes what was written to the disk.
  bool Sync(std::string* err);
  // Opens path anew, as after it was moved away (logrotate); the old file is
  // synced and closed first. Standard output stays. When the new one cannot
  // be opened the old one is kept and false says why.
  bool Reopen(std::string* err);

  // The file being written (its device and inode) and its size.
  struct Position {
    std::uint64_t dev = 0, ino = 0, size = 0;
  };
  Position position() const { return position_; }
  bool is_stdout() const { return path_ == kStdoutName; }

 private:
  CaptureFile(std::string path, int fd, std::uint64_t rotate_size, int keep);
  bool Rotate(std::string* err);
  bool Adopt(int fd, std::string* err);  // takes a newly opened fd as the file written

  std::string path_;
  int fd_;
  Position position_;
  std::uint64_t rotate_size_;
  int keep_;
  int rotated_ = 0;  // path.1 .. path.rotated_ exist: only those move up
  bool broken_ = false;
};

// SIGTERM and SIGINT ask the capture to stop, SIGHUP to reopen its file,
// SIGUSR1 for a status line. A closed pipe or a file size limit makes a
// write fail instead of ending the process (SIGPIPE, SIGXFSZ ignored). The
// handlers only set flags and wake WaitForSignal, whichever thread the
// signal lands on.
void InstallCaptureSignals();
// True once SIGTERM or SIGINT came: anything that waits (a poll, the card's
// lock) should give up and let the capture end.
bool StopRequested();
struct CaptureWake {
  bool stop = false;    // stays set once asked
  bool status = false;  // taken by this call
  bool reopen = false;  // taken by this call
};
// Waits up to `timeout_ms`, returning at once when a signal has come.
CaptureWake WaitForSignal(int timeout_ms);

std::int64_t MonotonicMs();
// The wall clock: milliseconds since 1970.
std::int64_t WallMs();

}  // namespace q7t::os
