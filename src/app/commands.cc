// The one-shot commands' table: operand checks and runs on the card.
#include "app/commands.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "app/capture_command.h"
#include "card/card_lock.h"
#include "card/save_log.h"
#include "console/text_ops.h"
#include "platform/files.h"

namespace q7t {

namespace {

constexpr int kMaxDivisor = 0xFFFF;  // the card's divisor register is 16 bits

}  // namespace

bool Refuse(std::string* err, std::string message) {
  *err = std::move(message);
  return false;
}

std::string Quoted(std::string_view value) {
  return "'" + std::string(value) + "'";
}

bool CheckFileName(const std::string& what, const std::string& path, std::string* err) {
  if (path.empty() || path.back() == '/' || os::IsDirectory(path)) {
    return Refuse(err, what + " " + Quoted(path) + " is not a file name");
  }
  const std::size_t slash = path.rfind('/');
  if (!os::IsDirectory(slash == std::string::npos ? "." : path.substr(0, slash + 1))) {
    return Refuse(err, what + " " + Quoted(path) + " is in no existing folder");
  }
  return true;
}

bool CheckBaudText(std::string_view text_view, double* rate, std::int32_t* divisor,
                   std::string* err) {
  const std::string text(text_view);
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *rate, std::chars_format::fixed);
  if (text.empty() || ec != std::errc() || ptr != end || !(*rate > 0) || text[0] == '-') {
    return Refuse(err, "baud rate " + Quoted(text) + " is not a positive number");
  }
  *divisor = BaudDivisor(*rate);
  if (*divisor < 1) {
    return Refuse(err,
                  "baud rate " + Quoted(text) + " is too high (the highest is 250000000 bit/s)");
  }
  if (*divisor > kMaxDivisor) {
    return Refuse(err, "baud rate " + Quoted(text) + " is too low: its divisor " +
                           std::to_string(*divisor) +
                           " does not fit the card's 16-bit register (the lowest rate is about "
                           "1907.4 bit/s)");
  }
  return true;
}

namespace {

bool CheckBaud(CommandArgs& args, std::string* err) {
  double rate = 0;
  return CheckBaudText(args.words[0], &rate, &args.divisor, err);
}

// One or two hexadecimal digits.
bool CheckMode(CommandArgs& args, std::string* err) {
  const std::string& text = args.words[0];
  unsigned value = 0;  // unsigned: no sign is taken
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value, 16);
  if (text.empty() || text.size() > 2 || ec != std::errc() || ptr != end) {
    return Refuse(err, "mode " + Quoted(text) + " is not one or two hexadecimal digits");
  }
  args.mode = static_cast<int>(value);
  return true;
}

bool CheckNothing(CommandArgs&, std::string*) {
  return true;
}

// FILE must name a file in an existing folder; "-" is standard output.
bool CheckSave(CommandArgs& args, std::string* err) {
  if (args.words.empty() || args.words[0] == "-") {
    args.file = args.words.empty() ? "" : "-";
    return true;
  }
  if (!CheckFileName("save file", args.words[0], err)) return false;
  args.file = args.words[0];
  return true;
}

int RunStatus(const CommandRun& run) {
  const auto word = static_cast<std::uint32_t>(run.pass.counter_word);
  if (run.inv.json) {
    std::printf("{\"counter_word\":%u,\"flag\":%u,\"count\":%u,\"mode\":%d}\n", word & 0xFFFF,
                (word >> 15) & 1, word & 0x7FFF, run.pass.mode_value & 0xFF);
  } else {
    std::printf("RdCnt %s\nMode %s\n", CounterText(run.pass.counter_word).c_str(),
                HexText(run.pass.mode_value).c_str());
  }
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

int RunBaud(const CommandRun& run) {
  CardSetDivisor(run.inv.args.divisor);
  return kExitOk;
}

int RunMode(const CommandRun& run) {
  CardSetMode(run.inv.args.mode);
  return kExitOk;
}

int RunCopy(const CommandRun& run) {
  CardCopyCounter(run.pass.mode_value);
  return kExitOk;
}

int RunReset(const CommandRun&) {
  CardResetCounter();
  return kExitOk;
}

int Failed(const CommandRun& run, const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", ProgramName(run.inv.program), message.c_str());
  return kExitFailed;
}

int RefusedPorts(const CommandRun& run) {
  return Failed(run, CardRefusalText());
}

// The bytes of S: to standard output, or a file replaced whole (a failed
// write leaves the previous file as it was).
int RunSave(const CommandRun& run) {
  const std::string image = ReadLogImage(run.pass.mode_value);
  if (CardRefused()) return RefusedPorts(run);
  const std::string& file = run.inv.args.file;
  std::string reason;
  if (file == "-") {
    if (!os::WriteStdout(image, &reason)) return Failed(run, "save: standard output: " + reason);
    return kExitOk;
  }
  std::string dir = LogDir(), name = kLogFileName;
  if (!file.empty()) {
    const std::size_t slash = file.rfind('/');
    dir = slash == std::string::npos ? "." : file.substr(0, slash == 0 ? 1 : slash);
    name = slash == std::string::npos ? file : file.substr(slash + 1);
  }
  if (!os::ReplaceFile(dir, name, image, true, &reason)) return Failed(run, "save: " + reason);
  return kExitOk;
}

// Another process held the card past --wait: nothing was touched.
int GaveUp(const Invocation& inv) {
  std::fprintf(stderr, "%s: the card is still held by %s after %lld s; gave up\n",
               ProgramName(inv.program), HolderText(CardLockHolder()).c_str(),
               static_cast<long long>(inv.wait_ms / 1000));
  return kExitFailed;
}

// FILE and the capture's options.
bool CheckCapture(CommandArgs& args, std::string* err) {
  CaptureOptions& o = args.capture;
  o.file = args.words[0];
  std::string problem;
  for (const auto& [name, value] : args.capture_options) {
    if (!ParseCaptureOption(name, value, &o, &problem)) return Refuse(err, "capture: " + problem);
  }
  if (!CheckCaptureOptions(o, &problem)) return Refuse(err, "capture: " + problem);
  return true;
}

int RunCaptureCommand(const CommandRun& run) {
  CaptureOptions options = run.inv.args.capture;
  options.first_wait_ms = run.inv.wait_ms;
  return RunCapture(options);
}

constexpr Command kCommands[] = {
    {"status", "[--json]", 0, 0, "print the counter word and the mode register", CheckNothing,
     RunStatus},
    {"baud", "RATE", 1, 1, "set the baud rate (the divisor 125000000 / RATE)", CheckBaud, RunBaud},
    {"mode", "HEX", 1, 1, "set the mode register (one or two hexadecimal digits)", CheckMode,
     RunMode},
    {"copy", "", 0, 0, "copy the write counter to the read counter", CheckNothing, RunCopy},
    {"reset", "", 0, 0, "reset the write counter", CheckNothing, RunReset},
    {"save", "[FILE|-]", 0, 1, "save the log buffer (default: SerLog.txt in the log folder)",
     CheckSave, RunSave},
    {"capture", "FILE", 1, 1, "append what the card receives to FILE until stopped", CheckCapture,
     RunCaptureCommand, true},
};

}  // namespace

std::string HolderText(long pid) {
  return pid > 0 ? "process " + std::to_string(pid) : "another process";
}

CardWait CommandWait(const char* program, std::int64_t give_up_ms, std::function<bool()> stop) {
  CardWait wait;
  wait.give_up_ms = give_up_ms;
  wait.stop = std::move(stop);
  wait.held_by = [program](long pid) {
    std::fprintf(stderr, "%s: the card is held by %s; waiting\n", program, HolderText(pid).c_str());
    std::fflush(stderr);
  };
  return wait;
}

std::span<const Command> Commands() {
  return kCommands;
}

const Command* FindCommand(std::string_view name) {
  for (const Command& c : kCommands) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

int RunCommand(const Invocation& inv) {
  if (inv.command->runs_on) return inv.command->run(CommandRun{inv, CardPass{}});
  // The pass and the command's accesses as one sequence on the card.
  CardLock card(CommandWait(ProgramName(inv.program), inv.wait_ms));
  if (!card.held()) return GaveUp(inv);
  CommandRun run{inv, CardReadPass()};
  int status = CardRefused() ? RefusedPorts(run) : inv.command->run(run);
  if (status != kExitFailed && CardRefused()) status = RefusedPorts(run);
  return status;
}

}  // namespace q7t
