// Fuzzes the log loader with any file content, handed over in reads of a size
// the input chooses. The lines must keep the loader's promises: at most the
// array's 10000, none holding a line feed or 0x1A, none ending in a space or
// 0x00, the same lines however the reads are cut; and a file of plain lines
// reads back as exactly those lines.
//
// Input: byte 0 picks the read size (kChunks), byte 1 how many times the rest
// is repeated to make the file (kRepeats), so that short inputs reach the
// 10000-line bound; the rest is the file's bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "viewer/line_array.h"
#include "viewer/load.h"

namespace {

using q7t::LineArray;

constexpr std::size_t kChunks[8] = {65536, 1, 2, 3, 510, 511, 512, 4093};
constexpr std::size_t kRepeats[8] = {1, 1, 2, 3, 511, 2000, 10001, 30000};
constexpr std::size_t kMaxFile = 1 << 17;

[[noreturn]] void Fail(const char* what, std::int32_t line = 0) {
  std::fprintf(stderr, "loader_fuzz: %s (line %d)\n", what, line);
  std::abort();
}

std::vector<std::string> Load(std::string_view file, std::size_t chunk) {
  q7t::MemoryByteSource source(file, chunk);
  LineArray lines;
  const std::int32_t count = q7t::LoadLines(source, lines);
  if (count < 0 || count > q7t::kLineArrayBound) Fail("line count outside 0..10000", count);
  if (!lines.At(count + 1).empty()) Fail("a line past the count", count + 1);
  std::vector<std::string> out;
  std::size_t bytes = 0;
  for (std::int32_t n = 1; n <= count; ++n) {
    const std::string& line = lines.At(n);
    if (line.find('\n') != std::string::npos) Fail("line holds a line feed", n);
    if (line.find('\x1a') != std::string::npos) Fail("line holds 0x1A", n);
    if (!line.empty() && (line.back() == ' ' || line.back() == '\0')) {
      Fail("line ends in a space or 0x00", n);
    }
    bytes += line.size();
    out.push_back(line);
  }
  if (bytes > file.size()) Fail("more bytes in the lines than in the file");
  return out;
}

// The lines of a file with no 0x00 and every CR in a CR LF pair: cut at the
// first 0x1A, split at LF (a last line without LF counts when not empty),
// trailing spaces dropped, the first 10000 kept.
bool PlainLines(std::string_view file, std::vector<std::string>& lines) {
  file = file.substr(0, file.find('\x1a'));
  for (std::size_t i = 0; i < file.size(); ++i) {
    if (file[i] == '\0') return false;
    if (file[i] == '\r' && (i + 1 == file.size() || file[i + 1] != '\n')) return false;
  }
  std::size_t pos = 0;
  while (pos < file.size() && lines.size() < static_cast<std::size_t>(q7t::kLineArrayBound)) {
    std::size_t lf = file.find('\n', pos);
    std::size_t end = lf == std::string_view::npos ? file.size() : lf;
    std::string line(file.substr(pos, end - pos));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line.erase(line.find_last_not_of(' ') + 1);
    lines.push_back(std::move(line));
    pos = lf == std::string_view::npos ? file.size() : lf + 1;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t chunk = kChunks[data[0] % 8];
  const std::size_t repeats = kRepeats[data[1] % 8];
  std::string_view body(reinterpret_cast<const char*>(data) + 2, size - 2);
  std::string file;
  for (std::size_t i = 0; i < repeats && file.size() + body.size() <= kMaxFile; ++i) file += body;

  const std::vector<std::string> lines = Load(file, chunk);
  if (chunk != 65536 && Load(file, 65536) != lines) Fail("the read size changed the lines");
  std::vector<std::string> plain;
  if (PlainLines(file, plain) && plain != lines) Fail("plain lines read back differently");
  return 0;
}
