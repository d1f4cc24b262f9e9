// Beside each capture file, a small state file that one capture at a time
// holds (an exclusive flock), so FILE and its rotated names have one
// writer. It keeps the record of where that capture stands, rewritten after
// every poll, so the next capture into FILE knows where the last one
// stopped.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace q7t::os {

struct CaptureRecord {
  int word = 0;                              // the card's counter word at the last poll
  std::int64_t wall_ms = 0;                  // when that poll was (ms since 1970)
  std::uint64_t line_rate = 0;               // the line's rate as planned then, bytes a second
  std::uint64_t held = 0;                    // bytes polled by then and not yet in the file
  std::uint64_t dev = 0, ino = 0, size = 0;  // the file being written, its size then
};

// One line of fixed length, so a rewrite in place never leaves an old tail.
std::string FormatCaptureRecord(const CaptureRecord& record);
// nullopt for anything but a whole record (a torn or foreign file).
std::optional<CaptureRecord> ParseCaptureRecord(std::string_view text);

// The state file of a capture into `path`: .NAME.q7tlog-capture in path's
// folder, NAME being path's name without the rotations' .N suffixes.
std::string CaptureStatePath(const std::string& path);

class CaptureStateFile {
 public:
  // Opens or creates (mode 0644, never through a link, a regular file only)
  // and locks the state file of `path`. nullptr and the reason otherwise;
  // `*busy` when another capture holds it.
  static std::unique_ptr<CaptureStateFile> Open(const std::string& path, bool* busy,
                                                std::string* err);
  ~CaptureStateFile();
  CaptureStateFile(const CaptureStateFile&) = delete;
  CaptureStateFile& operator=(const CaptureStateFile&) = delete;

  std::optional<CaptureRecord> Read();
  void Write(const CaptureRecord& record);
  // Flushes the record to disk: after the file's own data, so the record
  // never counts bytes the disk does not have.
  void Sync();

 private:
  explicit CaptureStateFile(int fd) : fd_(fd) {}
  int fd_;
};

// How many bytes went into `path` and its rotations (path.1 ... path.`keep`)
// since the file `record` names had `record.size` bytes; nullopt when that
// file is none of them any more (moved away, removed) or has shrunk.
std::optional<std::uint64_t> GrowthSince(const std::string& path, const CaptureRecord& record,
                                         int keep);

}  // namespace q7t::os
