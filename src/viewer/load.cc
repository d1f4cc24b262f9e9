#include "viewer/load.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "console/text_ops.h"
#include "viewer/host.h"
#include "viewer/view_txt_array.h"

namespace q7t {

namespace {

constexpr std::size_t kPieceBytes = 511;  // a line is gathered in pieces of at most this
constexpr std::size_t kRawChunk = 65536;

// The file's content as text: each CR LF pair as a single LF, cut at the
// first 0x1A. A read error ends the content like the end of the file.
class TextReader {
 public:
  explicit TextReader(ByteSource& source) : source_(source) {}

  // The end-of-file test: true when no byte of the content is left.
  bool AtEnd() {
    Fill();
    return pos_ == text_.size();
  }

  // The next piece: up to kPieceBytes bytes, ending right after an LF, after
  // its last byte, or at the end of the content. Returns its length.
  std::size_t ReadPiece(char* piece) {
    std::size_t len = 0;
    while (len < kPieceBytes && !AtEnd()) {
      std::size_t avail = std::min(kPieceBytes - len, text_.size() - pos_);
      const char* from = text_.data() + pos_;
      const void* lf = std::memchr(from, '\n', avail);
      std::size_t take = lf ? static_cast<const char*>(lf) - from + 1 : avail;
      std::memcpy(piece + len, from, take);
      len += take;
      pos_ += take;
      if (lf) break;
    }
    return len;
  }

 private:
  // Translates raw reads until some content is waiting or the content ends.
  void Fill() {
    while (pos_ == text_.size() && !ended_) {
      text_.clear();
      pos_ = 0;
      long n = source_.Read(raw_.data(), raw_.size());
      std::size_t got = n > 0 ? static_cast<std::size_t>(std::min<long>(n, raw_.size())) : 0;
      if (n <= 0) ended_ = true;
      if (const void* eof = std::memchr(raw_.data(), 0x1A, got)) {
        got = static_cast<const char*>(eof) - raw_.data();
        ended_ = true;  // the first 0x1A ends the content: nothing after it is read
      }
      Translate(raw_.data(), got);
      if (ended_ && cr_pending_) {
        text_.push_back('\r');  // a CR at the very end has no LF to pair with
        cr_pending_ = false;
      }
    }
  }

  // Appends raw bytes to the content with CR LF turned into LF. A CR at the
  // end of a read waits for the next byte to know whether an LF follows.
  void Translate(const char* raw, std::size_t n) {
    std::size_t i = 0;
    if (n > 0 && cr_pending_) {
      if (raw[0] != '\n') text_.push_back('\r');
      cr_pending_ = false;
    }
    while (i < n) {
      const void* cr = std::memchr(raw + i, '\r', n - i);
      std::size_t stop = cr ? static_cast<const char*>(cr) - raw : n;
      text_.append(raw + i, stop - i);
      if (!cr) break;
      if (stop + 1 == n) {
        cr_pending_ = true;
      } else if (raw[stop + 1] != '\n') {
        text_.push_back('\r');
      }
      i = stop + 1;
    }
  }

  ByteSource& source_;
  std::vector<char> raw_ = std::vector<char>(kRawChunk);
  std::string text_;  // translated content not yet taken from position pos_
  std::size_t pos_ = 0;
  bool ended_ = false;
  bool cr_pending_ = false;
};

// One line: pieces until one ends in LF or CR (after its zero bytes are
// dropped), or until the content ends.
std::string ReadLine(TextReader& reader) {
  std::string line;
  char piece[kPieceBytes];
  while (!reader.AtEnd()) {
    std::size_t len = reader.ReadPiece(piece);
    while (len > 0 && piece[len - 1] == '\0') --len;
    if (len > 0 && piece[len - 1] == '\n') {
      --len;
      if (len > 0 && piece[len - 1] == '\r') --len;
      line.append(piece, len);
      break;
    }
    if (len > 0 && piece[len - 1] == '\r') {
      line.append(piece, len - 1);
      break;
    }
    line.append(piece, len);
  }
  return line;
}

// Drops every trailing space and 0x00; a line emptied so gives back its memory.
void TrimLine(std::string& line) {
  std::size_t keep = line.find_last_not_of(std::string_view(" \0", 2));
  line.resize(keep == std::string::npos ? 0 : keep + 1);
  if (line.capacity() > 2 * line.size() + 64) line.shrink_to_fit();
}

struct FoundFile {
  std::string path;  // what to open: the directory part of the name and the entry found
  std::string name;  // the entry's own name
};

// The last k characters of the given name must be the name found, letter case
// aside (the whole given name when it is shorter).
bool TailMatches(const std::string& name, const FoundFile& found) {
  std::size_t k = found.name.size();
  std::string tail = name.size() > k ? name.substr(name.size() - k) : name;
  return UpperCase(tail) == UpperCase(found.name);
}

std::optional<FoundFile> Find(const std::string& name) {
  std::size_t slash = name.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
  std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
  if (last.empty()) return std::nullopt;
  std::optional<std::string> found = os::FindRegularFileNoCase(dir, last);
  if (!found || found->empty()) return std::nullopt;
  std::string prefix = slash == std::string::npos ? "" : name.substr(0, slash + 1);
  return FoundFile{prefix + *found, *found};
}

// Reads through a file opened for reading.
class FileByteSource : public ByteSource {
 public:
  explicit FileByteSource(os::ReadFile& file) : file_(file) {}
  long Read(char* buf, std::size_t n) override { return file_.Read(buf, n); }

 private:
  os::ReadFile& file_;
};

}  // namespace

long MemoryByteSource::Read(char* buf, std::size_t n) {
  std::size_t take = std::min({n, chunk_, bytes_.size()});
  std::memcpy(buf, bytes_.data(), take);
  bytes_.remove_prefix(take);
  return static_cast<long>(take);
}

std::int32_t LoadLines(ByteSource& source, LineArray& lines) {
  TextReader reader(source);
  std::int32_t i = 1;
  while (i <= lines.UpperBound() && !reader.AtEnd()) {
    std::string line = ReadLine(reader);
    TrimLine(line);
    lines.Set(i, std::move(line));
    ++i;
  }
  return i - 1;
}

std::optional<std::string> FindTxtFile(const std::string& name) {
  std::optional<FoundFile> found = Find(name);
  if (!found) return std::nullopt;
  return found->path;
}

bool FileExists(const std::string& name) {
  std::optional<FoundFile> found = Find(name);
  return found && TailMatches(name, *found);
}

void ViewTxtFile(const std::string& name) {
  LineArray lines(kLineArrayBound);
  std::optional<FoundFile> found = Find(name);
  if (!found || !TailMatches(name, *found)) return;
  std::int32_t count = 0;
  // The entry found is the one opened; one that vanished or stopped being a
  // regular file since the search reads as empty.
  if (std::optional<os::ReadFile> file = os::ReadFile::Open(found->path)) {
    FileByteSource source(*file);
    count = LoadLines(source, lines);
  }
  ViewTxtArray("File: " + name, lines, count);
}

}  // namespace q7t
