// The capture command's options and their checks.
#include "app/capture_command.h"

#include <charconv>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

#include "app/commands.h"
#include "platform/files.h"

namespace q7t {

namespace {

constexpr std::int64_t kMaxSeconds = std::int64_t{1} << 40;  // in milliseconds, far from overflow

template <typename T>
bool ParseNumber(std::string_view text, T* value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && ptr == end;
}

// A size in bytes with an optional K, M or G (1024-based).
bool ParseSize(std::string_view text, std::uint64_t* size) {
  std::uint64_t unit = 1;
  if (!text.empty()) {
    const char suffix = static_cast<char>(text.back() & ~0x20);
    const std::string_view units = "KMG";
    if (const auto at = units.find(suffix); at != std::string_view::npos) {
      unit = std::uint64_t{1} << (10 * (at + 1));
      text.remove_suffix(1);
    }
  }
  std::uint64_t n = 0;
  if (!ParseNumber(text, &n) || n > std::numeric_limits<std::uint64_t>::max() / unit) {
    return false;
  }
  *size = n * unit;
  return true;
}

}  // namespace

bool ParseCaptureOption(std::string_view name, std::string_view value, CaptureOptions* o,
                        std::string* err) {
  const std::string bad = Quoted(value) + " is not a valid value for " + std::string(name);
  if (name == "--seconds") {
    if (ParseNumber(value, &o->seconds) && o->seconds >= 0 && o->seconds <= kMaxSeconds)
      return true;
    return Refuse(err, bad);
  }
  if (name == "--rotate") {
    if (!ParseSize(value, &o->rotate)) return Refuse(err, bad);
    if (o->rotate >= kMinRotate) return true;
    return Refuse(err, "--rotate " + Quoted(value) + " is below 4K");
  }
  if (name == "--keep") {
    o->keep_given = true;
    if (ParseNumber(value, &o->keep) && o->keep >= 1 && o->keep <= kMaxKeep) return true;
    return Refuse(err, "--keep " + Quoted(value) + " is not a number from 1 to 1000");
  }
  if (name == "--hold") {
    if (!ParseSize(value, &o->hold)) return Refuse(err, bad);
    if (o->hold <= kMaxHold) return true;
    return Refuse(err, "--hold " + Quoted(value) + " is above 1G");
  }
  if (name == "--baud") {
    std::int32_t divisor = 0;
    return CheckBaudText(value, &o->baud, &divisor, err);
  }
  if (name == "--metrics") {
    o->metrics = std::string(value);
    return CheckFileName("metrics file", o->metrics, err);
  }
  return Refuse(err, bad);
}

bool CheckCaptureOptions(const CaptureOptions& o, std::string* err) {
  if (o.keep_given && o.rotate == 0) return Refuse(err, "--keep goes with --rotate");
  if (o.file == "-") {
    if (o.rotate > 0) return Refuse(err, "--rotate needs a FILE: standard output is never rotated");
    return true;
  }
  if (!CheckFileName("file", o.file, err)) return false;
  if (os::KindOf(o.file) == os::PathKind::kOther) {
    return Refuse(err, "file " + Quoted(o.file) + " is not a regular file");
  }
  return true;
}

}  // namespace q7t
