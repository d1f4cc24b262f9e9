// The one-shot card commands: each is the first menu pass's reads and then
// the accesses of its menu key, through the card operations the menu uses,
// and reports what happened by its exit status. Adding a command is adding
// one entry to the table in commands.cc.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "app/command_line.h"
#include "card/card.h"
#include "card/card_lock.h"

namespace q7t {

// Exit statuses of the command line.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // port access refused, file not written
inline constexpr int kExitUsage = 2;   // bad command line; nothing was touched
inline constexpr int kExitLost = 3;    // a capture ended having lost bytes on the way

// A baud rate as typed: a plain decimal number whose divisor fits the
// card's register. True with `*rate` and `*divisor` set, or false with one
// line naming what is wrong in `*err`.
bool CheckBaudText(std::string_view text, double* rate, std::int32_t* divisor, std::string* err);

// The command line's checks fail alike: one line in `*err`, false.
bool Refuse(std::string* err, std::string message);
// "'value'" for messages.
std::string Quoted(std::string_view value);
// A file a command writes (`what` names it in the message): a name, not a
// folder, in a folder that exists.
bool CheckFileName(const std::string& what, const std::string& path, std::string* err);

struct CommandRun {
  const Invocation& inv;
  CardPass pass;  // what the pass before the command read
};

struct Command {
  std::string_view name;
  std::string_view operands;  // as the usage writes them
  int min_operands;
  int max_operands;
  std::string_view summary;
  // Checks args.words and fills the rest of `args`; false with a one-line
  // message naming the bad value in `*err`.
  bool (*check)(CommandArgs& args, std::string* err);
  // Runs on the card; the exit status.
  int (*run)(const CommandRun& run);
  // A command that runs on: it takes the card-wide lock for each of its own
  // sequences, with no pass before it, instead of holding the card whole.
  bool runs_on = false;
};

std::span<const Command> Commands();
const Command* FindCommand(std::string_view name);

// Runs a parsed one-shot command on the card handed over (RunTool); the
// exit status.
int RunCommand(const Invocation& inv);

// How a command waits for a card another process holds: up to `give_up_ms`
// (-1: as long as it takes), or until `stop` says so, telling on stderr
// after a second which process holds it ("program: ...").
CardWait CommandWait(const char* program, std::int64_t give_up_ms, std::function<bool()> stop = {});
// "process PID", or "another process" when the holder cannot be told (0).
std::string HolderText(long pid);

}  // namespace q7t
