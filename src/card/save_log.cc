// The log save: card steps, header, read-out and mode restore, then the file.
#include "card/save_log.h"

#include <string>

#include "card/card.h"
#include "card/card_lock.h"
#include "card/host.h"
#include "console/text_ops.h"

namespace q7t {

namespace {

#ifndef Q7T_LOG_DIR
#define Q7T_LOG_DIR ""
#endif

std::string log_dir;  // empty: the built-in folder, or the program's own

constexpr std::size_t kMessageWidth = 76;  // what the message line can show
constexpr const char* kSaveFailed = "Save failed: ";

// The message names the file by its full path when that fits the message
// line, else by its name alone. `error` may already start with the path.
std::string FailureMessage(const std::string& dir, const std::string& error) {
  const std::string path = (dir.empty() ? std::string(".") : dir) + "/" + kLogFileName;
  std::string reason = error;
  if (reason.rfind(path + ": ", 0) == 0) reason.erase(0, path.size() + 2);
  if (reason.empty()) reason = "cannot be written";
  std::string message = kSaveFailed + path + ": " + reason;
  if (message.size() > kMessageWidth) {
    message = std::string(kSaveFailed) + kLogFileName + ": " + reason;
  }
  return message;
}

// The read-out: each data read kept as its low byte, whatever it is.
void ReadLogBuffer(std::string& bytes) {
  for (int k = 0; k < kLogBufferSize; ++k) {
    bytes.push_back(static_cast<char>(CardReadData() & 0xFF));
  }
}

}  // namespace

std::string LogHeader(const std::string& counter_text, int month, int day, int year, int hour,
                      int minute, int second) {
  std::string header = "Serial Line Log ";
  header += FmtFixedDec(month, 2) + "-" + FmtFixedDec(day, 2) + "-" + FmtFixedDec(year, 4);
  header +=
      " " + FmtFixedDec(hour, 2) + ":" + FmtFixedDec(minute, 2) + ":" + FmtFixedDec(second, 2);
  header += " RdCnt=" + counter_text;
  return header;
}

void SetLogDir(const std::string& dir) {
  log_dir = dir;
}

std::string LogDir() {
  if (!log_dir.empty()) return log_dir;
  return *BuiltInLogDir() ? BuiltInLogDir() : os::ProgramDir();
}

const char* BuiltInLogDir() {
  return Q7T_LOG_DIR;
}

std::string ReadLogImage(int mode_value) {
  // One sequence under the card-wide lock, from the hold bit set to the mode
  // restored. Hold the log, copy the write counter, read it back.
  CardLock lock;
  CardSetHold(mode_value);
  CardWriteReg(kRegCommand, kCmdCopyCounter);
  const std::string counter_text = CounterText(CardReadCounter());
  // Select 0x3B once: every data read then delivers the next byte of the log buffer.
  CardSelectReg(kRegCommand);

  const os::LocalTime now = os::NowLocal();
  std::string bytes =
      LogHeader(counter_text, now.month, now.day, now.year, now.hour, now.minute, now.second);
  bytes += "\r\n";
  bytes.reserve(bytes.size() + kLogBufferSize);
  ReadLogBuffer(bytes);
  CardReleaseHold(mode_value);
  return bytes;
}

bool SaveLogTo(int mode_value, const SaveTarget& target, std::string* message) {
  const std::string bytes = ReadLogImage(mode_value);
  if (target.change_dir) os::ChangeDir(target.dir);

  // The file is built whole in memory and only then replaces the old one, so
  // a failed write never leaves a broken or missing log behind.
  std::string reason;
  if (!os::ReplaceFile(target.dir, kLogFileName, bytes, target.sync, &reason)) {
    *message = FailureMessage(target.dir, reason);
    return false;
  }
  return true;
}

bool SaveLog(int mode_value, std::string* message) {
  return SaveLogTo(mode_value, SaveTarget{LogDir()}, message);
}

}  // namespace q7t
