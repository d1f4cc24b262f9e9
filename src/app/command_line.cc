// getopt_long over both programs' options, then the command word and its
// operands checked against the command table.
#include "app/command_line.h"

#include <getopt.h>

#include <charconv>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/commands.h"
#include "card/save_log.h"
#include "platform/card_lock_file.h"
#include "platform/files.h"

#ifndef Q7T_VERSION
#define Q7T_VERSION "unknown"
#endif

namespace q7t {

namespace {

enum Option { kJson = 256, kLock, kWait, kCaptureOption };

constexpr std::int64_t kMaxWaitSeconds = std::int64_t{1} << 31;

constexpr option kOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {"log-dir", required_argument, nullptr, 'L'},
    {"json", no_argument, nullptr, kJson},
    {"device", required_argument, nullptr, 'd'},
    {"lock", required_argument, nullptr, kLock},
    {"wait", required_argument, nullptr, kWait},
    // The capture command's own options.
    {"seconds", required_argument, nullptr, kCaptureOption},
    {"rotate", required_argument, nullptr, kCaptureOption},
    {"keep", required_argument, nullptr, kCaptureOption},
    {"baud", required_argument, nullptr, kCaptureOption},
    {"hold", required_argument, nullptr, kCaptureOption},
    {"metrics", required_argument, nullptr, kCaptureOption},
    {nullptr, 0, nullptr, 0},
};

Invocation Bad(Invocation inv, std::string message) {
  inv.what = Invocation::What::kBadUsage;
  inv.error = std::string(ProgramName(inv.program)) + ": " + std::move(message);
  return inv;
}

// The log folder as an absolute path into `*absolute` (the menu changes its
// working directory); false with a message when it is not an existing folder.
bool LogFolder(const std::string& dir, const std::string& what, std::string* absolute,
               std::string* error) {
  std::string path;
  if (!dir.empty() && os::IsDirectory(dir)) path = os::AbsolutePath(dir);
  if (path.empty()) {
    *error = what + " '" + dir + "' is not an existing folder";
    return false;
  }
  *absolute = path;
  return true;
}

// The option at argv[index] as the user wrote it, without any "=value".
std::string OptionText(char* const* argv, int index) {
  std::string text = argv[index];
  const std::size_t eq = text.find('=');
  return eq == std::string::npos ? text : text.substr(0, eq);
}

// Whole seconds, 0 included.
bool ParseWait(const std::string& text, std::int64_t* ms) {
  std::int64_t seconds = -1;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, seconds);
  if (ec != std::errc() || ptr != end || seconds < 0 || seconds > kMaxWaitSeconds) return false;
  *ms = seconds * 1000;
  return true;
}

// What the options leave for after them.
struct OptionScan {
  std::string log_dir;  // -L's value
  bool log_dir_given = false;
  bool wait_given = false;
};

// One option, `c` as getopt_long answered it (`index` into kOptions), into
// `*inv` and `*scan`; false with one line in `*error` when it is bad.
bool TakeOption(int c, int index, char* const* argv, bool sim, Invocation* inv, OptionScan* scan,
                std::string* error) {
  switch (c) {
    case 'h':
      inv->what = Invocation::What::kHelp;
      return true;
    case 'V':
      inv->what = Invocation::What::kVersion;
      return true;
    case 'L':
      scan->log_dir = optarg;
      scan->log_dir_given = true;
      return true;
    case kJson:
      inv->json = true;
      return true;
    case kLock:
      inv->lock = optarg;
      if (inv->lock.empty() || inv->lock.back() == '/') {
        return Refuse(error, "lock file '" + inv->lock + "' is not a file name");
      }
      return true;
    case kWait:
      if (!ParseWait(optarg, &inv->wait_ms)) {
        return Refuse(error, "wait '" + std::string(optarg) + "' is not a whole number of seconds");
      }
      scan->wait_given = true;
      return true;
    case kCaptureOption:
      inv->args.capture_options.emplace_back(std::string("--") + kOptions[index].name, optarg);
      return true;
    case 'd':
      if (!sim) return Refuse(error, "unknown option '--device'");
      inv->device = optarg;
      if (inv->device.empty()) return Refuse(error, "device '' is not a device path");
      return true;
    case ':':
      return Refuse(error, "option '" + OptionText(argv, optind - 1) + "' needs a value");
    default:
      if (optopt != 0 && optopt < 256) {
        return Refuse(error, std::string("unknown option '-") + static_cast<char>(optopt) + "'");
      }
      return Refuse(error, "unknown option '" + OptionText(argv, optind - 1) + "'");
  }
}

// The options before the words (getopt_long): false with `*error` at the
// first bad one; --help and --version end the scan at once.
bool ReadOptions(int argc, char* const* argv, bool sim, Invocation* inv, OptionScan* scan,
                 std::string* error) {
  optind = 0;  // a fresh scan (glibc), also when called more than once
  opterr = 0;
  for (;;) {
    int index = 0;
    const int c = getopt_long(argc, argv, sim ? ":hVL:d:" : ":hVL:", kOptions, &index);
    if (c == -1) return true;
    if (!TakeOption(c, index, argv, sim, inv, scan, error)) return false;
    if (inv->what != Invocation::What::kMenu) return true;
  }
}

// -L's folder, else the environment's, as an absolute path.
bool TakeLogFolder(const OptionScan& scan, const char* env_log_dir, Invocation* inv,
                   std::string* error) {
  if (scan.log_dir_given) return LogFolder(scan.log_dir, "log folder", &inv->log_dir, error);
  if (env_log_dir && *env_log_dir) {
    return LogFolder(env_log_dir, kLogDirVariable, &inv->log_dir, error);
  }
  return true;
}

// The first of the capture's options given, as written; empty: none.
std::string FirstCaptureOption(const Invocation& inv) {
  return inv.args.capture_options.empty() ? "" : inv.args.capture_options.front().first;
}

// No command word (the menu): q7tlog-sim's one word is its device, and the
// options that belong to the commands are refused.
bool TakeMenuWords(const std::vector<std::string>& words, bool wait_given, Invocation* inv,
                   std::string* error) {
  if (!words.empty()) {
    if (!inv->device.empty()) return Refuse(error, "device '" + words[0] + "' given twice");
    inv->device = words[0];
  }
  if (inv->json) return Refuse(error, "option '--json' belongs to the status command");
  if (wait_given) return Refuse(error, "option '--wait' belongs to the commands (the menu waits)");
  const std::string capture_option = FirstCaptureOption(*inv);
  if (!capture_option.empty()) {
    return Refuse(error, "option '" + capture_option + "' belongs to the capture command");
  }
  return true;
}

// The command word and its operands, checked against the command table.
bool TakeCommand(const std::vector<std::string>& words, bool sim, Invocation* inv,
                 std::string* error) {
  inv->command = FindCommand(words[0]);
  if (!inv->command) {
    return Refuse(error, "unknown command '" + words[0] + "'" +
                             (sim ? " (a device before a command goes with --device)" : ""));
  }
  inv->what = Invocation::What::kCommand;
  inv->args.words.assign(words.begin() + 1, words.end());
  const Command& cmd = *inv->command;
  const int count = static_cast<int>(inv->args.words.size());
  if (count < cmd.min_operands) {
    return Refuse(error, std::string(cmd.name) + " needs " + std::string(cmd.operands));
  }
  if (count > cmd.max_operands) {
    return Refuse(error, std::string(cmd.name) + ": unexpected '" +
                             inv->args.words[static_cast<std::size_t>(cmd.max_operands)] + "'");
  }
  if (inv->json && cmd.name != "status") {
    return Refuse(error, "option '--json' belongs to the status command");
  }
  const std::string capture_option = FirstCaptureOption(*inv);
  if (!capture_option.empty() && cmd.name != "capture") {
    return Refuse(error, "option '" + capture_option + "' belongs to the capture command");
  }
  if (!cmd.check(inv->args, error)) return false;
  if (sim && cmd.runs_on && inv->device.empty()) {
    return Refuse(error, std::string(cmd.name) +
                             " needs a DEVICE: without one the virtual card receives nothing");
  }
  return true;
}

}  // namespace

const char* ProgramName(Program program) {
  return program == Program::kVirtualCard ? "q7tlog-sim" : "q7tlog";
}

Invocation ParseCommandLine(int argc, char* const* argv, Program program, const char* env_log_dir,
                            const char* env_lock) {
  Invocation inv;
  inv.program = program;
  const bool sim = program == Program::kVirtualCard;
  if (env_lock && *env_lock) inv.lock = env_lock;
  OptionScan scan;
  std::string error;
  if (!ReadOptions(argc, argv, sim, &inv, &scan, &error)) return Bad(inv, error);
  if (inv.what != Invocation::What::kMenu) return inv;  // help or version
  if (!TakeLogFolder(scan, env_log_dir, &inv, &error)) return Bad(inv, error);

  std::vector<std::string> words(argv + optind, argv + argc);
  // q7tlog-sim DEVICE COMMAND: a first word that is no command, before one that is.
  if (sim && words.size() >= 2 && !FindCommand(words[0]) && FindCommand(words[1])) {
    if (!inv.device.empty()) return Bad(inv, "device '" + words[0] + "' given twice");
    inv.device = words[0];
    words.erase(words.begin());
  }
  const bool menu = words.empty() || (sim && words.size() == 1 && !FindCommand(words[0]));
  const bool ok = menu ? TakeMenuWords(words, scan.wait_given, &inv, &error)
                       : TakeCommand(words, sim, &inv, &error);
  return ok ? inv : Bad(inv, error);
}

std::string ShortUsage(Program program) {
  const std::string name = ProgramName(program);
  const char* what =
      program == Program::kVirtualCard ? " [DEVICE] [COMMAND [ARG]]" : " [COMMAND [ARG]]";
  return "Usage: " + name + " [OPTION]..." + what + "\nTry '" + name +
         " --help' for more information.\n";
}

std::string HelpText(Program program) {
  const bool sim = program == Program::kVirtualCard;
  const std::string name = ProgramName(program);
  std::string text = "Usage: " + name + " [OPTION]...";
  text += sim ? " [DEVICE]\n  or:  " + name + " [OPTION]... [DEVICE] COMMAND [ARG]\n"
              : " [COMMAND [ARG]]\n";
  text +=
      sim ? "The Q7T receiver card's maintenance tool on a virtual card at ports 0x350-0x351.\n"
          : "Maintenance tool for the Q7T serial-line receiver card at I/O ports 0x350-0x351.\n";
  text += "Without a command: the full-screen menu.";
  if (sim) text += " DEVICE: a serial device the virtual card listens on.";
  text += "\n\nCommands (one card action without the screen, then exit):\n";
  for (const Command& c : Commands()) {
    std::string head =
        "  " + std::string(c.name) + (c.operands.empty() ? "" : " ") + std::string(c.operands);
    head.resize(20, ' ');
    text += head + std::string(c.summary) + "\n";
  }
  text += "\nOptions:\n";
  if (sim) text += "  -d, --device=DEVICE  the serial device the virtual card listens on\n";
  text +=
      "  -L, --log-dir=DIR    the folder of SerLog.txt for S, V and save\n"
      "                       (default: $" +
      std::string(kLogDirVariable) + ", else " +
      (*BuiltInLogDir() ? std::string(BuiltInLogDir()) : "the program's own folder") + ")\n";
  if (sim) {
    text +=
        "      --lock=FILE, --wait=SECONDS\n"
        "                       ignored: the virtual card is this program's own\n";
  } else {
    text += "      --lock=FILE      the card's lock file (default: $" + std::string(kLockVariable) +
            ",\n                       else " + os::kCardLockPath +
            ")\n"
            "      --wait=SECONDS   how long a command waits for a card another process\n"
            "                       holds before it gives up (default " +
            std::to_string(kDefaultWaitSeconds) + ")\n";
  }
  text +=
      "      --json           status as one JSON object\n"
      "      --seconds=N      capture: stop after N seconds (default: until stopped)\n"
      "      --rotate=SIZE    capture: start FILE.1, FILE.2, ... when FILE reaches SIZE\n"
      "                       (bytes, or with K, M or G; at least 4K)\n"
      "      --keep=N         capture: rotated files kept, 1 to 1000 (default 5)\n"
      "      --baud=RATE      capture: the line's rate, for the poll interval (default 115200)\n"
      "      --hold=SIZE      capture: bytes held in memory while FILE takes none\n"
      "                       (default 64M)\n"
      "      --metrics=FILE   capture: the totals as Prometheus text, once a second\n"
      "  -h, --help           print this help and exit\n"
      "  -V, --version        print the version and exit\n"
      "\nExit status: 0 done; 1 port access refused, a file not written or the card\n"
      "held by another process past --wait; 2 bad command line (nothing touched);\n"
      "3 a capture that lost bytes.\n";
  return text;
}

int AnswerWithoutCard(const Invocation& inv) {
  switch (inv.what) {
    case Invocation::What::kHelp:
      std::fputs(HelpText(inv.program).c_str(), stdout);
      return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
    case Invocation::What::kVersion:
      std::printf("%s %s\n", ProgramName(inv.program), Q7T_VERSION);
      return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
    case Invocation::What::kBadUsage:
      std::fprintf(stderr, "%s\n%s", inv.error.c_str(), ShortUsage(inv.program).c_str());
      return kExitUsage;
    case Invocation::What::kMenu:
    case Invocation::What::kCommand:
      break;
  }
  return -1;
}

}  // namespace q7t
