// The command line of both programs: options, the one-shot card commands and
// their operands, checked whole before anything touches the terminal or the
// card. The commands themselves are one table (commands.h).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "app/capture_command.h"

namespace q7t {

enum class Program { kRealCard, kVirtualCard };

// The variables that name the log folder and the card's lock file when no
// option does.
inline constexpr const char* kLogDirVariable = "Q7TLOG_LOG_DIR";
inline constexpr const char* kLockVariable = "Q7TLOG_LOCK";
// How long a one-shot command (and a capture's first poll) waits for a card
// that another process holds, unless --wait says otherwise.
inline constexpr int kDefaultWaitSeconds = 10;

struct Command;

// A one-shot command's operands, as given and as checked.
struct CommandArgs {
  std::vector<std::string> words;
  std::int32_t divisor = 0;  // baud
  int mode = 0;              // mode
  std::string file;          // save: a path, "-" for standard output, empty for the log folder
  // The capture's options as given (name with its dashes, value), and as checked.
  std::vector<std::pair<std::string, std::string>> capture_options;
  CaptureOptions capture;
};

struct Invocation {
  enum class What { kMenu, kHelp, kVersion, kCommand, kBadUsage };
  What what = What::kMenu;
  Program program = Program::kRealCard;
  const Command* command = nullptr;
  CommandArgs args;
  bool json = false;
  std::string log_dir;  // absolute; empty: the built-in folder
  std::string lock;     // the card's lock file; empty: the usual one
  std::int64_t wait_ms = kDefaultWaitSeconds * 1000;
  std::string device;  // q7tlog-sim: the serial device; empty: none
  std::string error;   // kBadUsage: one line naming the bad value
};

const char* ProgramName(Program program);

// Parses argv (getopt_long); `env_log_dir` and `env_lock` are the values of
// the log folder and lock variables, or nullptr. Touches nothing but the
// file system's metadata (the folders named are checked to exist).
Invocation ParseCommandLine(int argc, char* const* argv, Program program, const char* env_log_dir,
                            const char* env_lock = nullptr);

// The full help (for stdout) and the short usage (for stderr after an error).
std::string HelpText(Program program);
std::string ShortUsage(Program program);

// Help, version and bad usage answered on stdout or stderr: their exit
// status; -1 for the menu and the commands, which need the card.
int AnswerWithoutCard(const Invocation& inv);

}  // namespace q7t
