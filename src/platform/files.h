// Files and folders as the system needs them: the program's own folder, the
// working directory, a log replaced whole, regular files found by name.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace q7t::os {

// The folder that holds the program's own file: /proc/self/exe cut at its
// last '/'; "/" when nothing remains.
std::string ProgramDir();
bool ChangeDir(const std::string& dir);
// True when `path` is a folder (a link to one counts).
bool IsDirectory(const std::string& path);
// What `path` names, following links.
enum class PathKind { kMissing, kRegular, kDirectory, kOther };
PathKind KindOf(const std::string& path);
// `path` made absolute, links resolved; empty when it does not exist.
std::string AbsolutePath(const std::string& path);

// All of `bytes` to standard output; false and the reason in words in `*err`.
bool WriteStdout(std::string_view bytes, std::string* err);

// Replaces dir/name whole with `bytes`: writes a temporary file beside it,
// flushes it to disk (unless `sync` is false), renames it into place. No link
// is followed; a link at dir/name is replaced, not written through. On
// failure returns false, says why in `*err` (in words) and leaves any
// previous dir/name as it was.
bool ReplaceFile(const std::string& dir, const std::string& name, std::string_view bytes, bool sync,
                 std::string* err);

// The call that flushes a file to disk (fsync by default, which null puts
// back): tests put their own in to see the flushes or make them fail.
// Returns the call in force before.
using SyncCall = int (*)(int fd);
SyncCall SetSyncCall(SyncCall call);
// Flushes `fd` to disk through the call in force: 0, or -1 with errno.
int SyncFile(int fd);

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
