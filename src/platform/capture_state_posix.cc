// The capture's state file: created with care, locked, the record read and
// rewritten in place.
#include "platform/capture_state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "platform/files.h"

namespace q7t::os {

namespace {

constexpr std::string_view kRecordTag = "q7tlog-capture-state-1";
constexpr int kOpenFlags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
constexpr std::size_t kMaxRecord = 256;

// "key=digits" at the start of `text`; the rest after one blank.
template <typename T>
bool Field(std::string_view* text, std::string_view key, T* value) {
  if (text->substr(0, key.size()) != key || text->substr(key.size(), 1) != "=") return false;
  text->remove_prefix(key.size() + 1);
  const char* end = text->data() + text->size();
  const auto [ptr, ec] = std::from_chars(text->data(), end, *value);
  if (ec != std::errc() || ptr == end || (*ptr != ' ' && *ptr != '\n')) return false;
  text->remove_prefix(static_cast<std::size_t>(ptr - text->data()) + 1);
  return true;
}

std::optional<std::uint64_t> SizeIfSame(const std::string& path, const CaptureRecord& r) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || static_cast<std::uint64_t>(st.st_dev) != r.dev ||
      static_cast<std::uint64_t>(st.st_ino) != r.ino) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(st.st_size);
}

std::optional<std::uint64_t> SizeOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

}  // namespace

std::string FormatCaptureRecord(const CaptureRecord& r) {
  char line[kMaxRecord];
  const int n = std::snprintf(
      line, sizeof line,
      "%s word=%05d time=%015" PRId64 " rate=%010" PRIu64 " held=%020" PRIu64 " dev=%020" PRIu64
      " ino=%020" PRIu64 " size=%020" PRIu64 "\n",
      kRecordTag.data(), r.word & 0xFFFF, r.wall_ms, r.line_rate, r.held, r.dev, r.ino, r.size);
  return std::string(line, static_cast<std::size_t>(n));
}

std::optional<CaptureRecord> ParseCaptureRecord(std::string_view text) {
  if (text.substr(0, kRecordTag.size() + 1) != std::string(kRecordTag) + " ") return std::nullopt;
  text.remove_prefix(kRecordTag.size() + 1);
  CaptureRecord r;
  if (!Field(&text, "word", &r.word) || !Field(&text, "time", &r.wall_ms) ||
      !Field(&text, "rate", &r.line_rate) || !Field(&text, "held", &r.held) ||
      !Field(&text, "dev", &r.dev) || !Field(&text, "ino", &r.ino) ||
      !Field(&text, "size", &r.size) || r.word < 0 || r.word > 0xFFFF) {
    return std::nullopt;
  }
  return r;
}

std::string CaptureStatePath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  // FILE.3 is FILE's: the one lock covers a file and its rotations.
  for (std::size_t dot; (dot = name.rfind('.')) != std::string::npos && dot > 0 &&
                        dot + 1 < name.size() &&
                        name.find_first_not_of("0123456789", dot + 1) == std::string::npos;) {
    name.resize(dot);
  }
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  return folder + "." + name + ".q7tlog-capture";
}

std::unique_ptr<CaptureStateFile> CaptureStateFile::Open(const std::string& path, bool* busy,
                                                         std::string* err) {
  *busy = false;
  const std::string state = CaptureStatePath(path);
  // O_EXCL first: an existing file is opened without O_CREAT, which a sticky
  // folder refuses for another user's file.
  int fd = ::open(state.c_str(), kOpenFlags | O_CREAT | O_EXCL, 0644);
  if (fd < 0 && errno == EEXIST) fd = ::open(state.c_str(), kOpenFlags);
  struct stat st {};
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd);
    fd = -1;
    errno = EINVAL;
  }
  if (fd < 0) {
    if (err) *err = state + ": " + (errno == EINVAL ? "not a regular file" : std::strerror(errno));
    return nullptr;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    *busy = errno == EWOULDBLOCK;
    if (err) *err = state + ": " + (*busy ? "held by another capture" : std::strerror(errno));
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<CaptureStateFile>(new CaptureStateFile(fd));
}

CaptureStateFile::~CaptureStateFile() {
  ::close(fd_);
}

std::optional<CaptureRecord> CaptureStateFile::Read() {
  char buf[kMaxRecord];
  const ssize_t n = ::pread(fd_, buf, sizeof buf, 0);
  if (n <= 0) return std::nullopt;
  return ParseCaptureRecord(std::string_view(buf, static_cast<std::size_t>(n)));
}

void CaptureStateFile::Write(const CaptureRecord& record) {
  const std::string line = FormatCaptureRecord(record);
  (void)!::pwrite(fd_, line.data(), line.size(), 0);
}

void CaptureStateFile::Sync() {
  SyncFile(fd_);
}

std::optional<std::uint64_t> GrowthSince(const std::string& path, const CaptureRecord& record,
                                         int keep) {
  // Newest first: path itself, then path.1, path.2 ... each older.
  std::uint64_t newer = 0;
  for (int n = 0; n <= keep; ++n) {
    const std::string name = n == 0 ? path : path + "." + std::to_string(n);
    if (const auto size = SizeIfSame(name, record)) {
      if (*size < record.size) return std::nullopt;
      return newer + (*size - record.size);
    }
    const auto size = SizeOf(name);
    if (!size) return std::nullopt;
    newer += *size;
  }
  return std::nullopt;
}

}  // namespace q7t::os
