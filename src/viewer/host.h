// What the viewer needs of the machine it runs on: a regular file found by
// name, and read. Declared here, where it is used; platform/files_posix.cc
// implements it, and a program links that in.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace q7t::os {

// The entry of `dir` that is a regular file (a link to one counts) and whose
// name equals `name` without regard to letter case; an exact match wins.
std::optional<std::string> FindRegularFileNoCase(const std::string& dir, const std::string& name);

// A regular file open for reading; closes itself.
class ReadFile {
 public:
  // Opens `path` if it is a regular file (never blocks on a FIFO or device).
  static std::optional<ReadFile> Open(const std::string& path);
  ReadFile(ReadFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  ReadFile& operator=(ReadFile&& other) noexcept;
  ReadFile(const ReadFile&) = delete;
  ReadFile& operator=(const ReadFile&) = delete;
  ~ReadFile();
  // Up to `n` bytes into `buf`: the count read, 0 at the end, -1 on an error.
  long Read(char* buf, std::size_t n);

 private:
  explicit ReadFile(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace q7t::os
