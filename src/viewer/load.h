// Log file loading: the existence test, the text reader that turns a file's
// bytes into lines (CR LF as LF, 0x1A ends the content, 511-byte pieces), and
// ViewTxtFile, which reads a file into a line array and shows it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "viewer/line_array.h"

namespace q7t {

// Where the text reader gets raw bytes: up to `n` bytes into `buf`, giving the
// count read, 0 at the end, -1 on an error (both end the content).
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual long Read(char* buf, std::size_t n) = 0;
};

// Bytes held in memory, handed out at most `chunk` bytes per read.
class MemoryByteSource : public ByteSource {
 public:
  explicit MemoryByteSource(std::string_view bytes, std::size_t chunk = 65536)
      : bytes_(bytes), chunk_(chunk == 0 ? 1 : chunk) {}
  long Read(char* buf, std::size_t n) override;

 private:
  std::string_view bytes_;
  std::size_t chunk_;
};

// Reads `source` as text into elements 1.. of `lines`, each line without its
// line end and without trailing spaces and 0x00 bytes, and stops after the
// array's upper bound lines (the rest is not read). Returns the line count.
std::int32_t LoadLines(ByteSource& source, LineArray& lines);

// The regular file that `name` stands for: its directory part kept, its last
// component matched without regard to letter case (an exact match wins).
// Directories, devices, sockets and FIFOs are passed over.
std::optional<std::string> FindTxtFile(const std::string& name);

// True when FindTxtFile finds a file whose name, letter case aside, equals
// the end of `name`.
bool FileExists(const std::string& name);

// The V command: reads the file found for `name` into a line array and shows
// it in the viewer with the title "File: " + name. A missing or unreadable
// file shows nothing.
void ViewTxtFile(const std::string& name);

}  // namespace q7t
