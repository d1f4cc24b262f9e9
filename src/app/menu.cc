#include "app/menu.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>

#include "app/text_value.h"
#include "card/card.h"
#include "card/save_log.h"
#include "console/console.h"
#include "console/text_ops.h"
#include "platform/files.h"
#include "viewer/load.h"
#include "viewer/msg_box.h"

namespace q7t {

namespace {

constexpr std::string_view kTitle = "Q7T Rx Logging Menu";
constexpr std::string_view kRule = "--------------------";
constexpr std::string_view kBaudLabel = " <B> Select Baud Rate.....: ";
constexpr std::string_view kModeLabel = " <M> Mode Register........: ";
constexpr std::string_view kCountLabel = " <R> WrCnt -> RdCnt.......: ";
constexpr std::string_view kResetLine = " <Z> Reset Write Counter";
constexpr std::string_view kSaveLine = " <S> Save Log";
constexpr std::string_view kViewLine = " <V> View Log";
constexpr std::string_view kBaudPrompt = "Select Baud Rate";
constexpr std::string_view kModePrompt =
    "Mode Register (hexa 0=Kv 1=TR22A 2=W48 3=TR22B 4=LPN 5=EX906)";
constexpr int kKeyRow = 22;
constexpr int kMessageRow = 24;
constexpr int kMessageBg = 12, kMessageFg = 15;

void DrawMenu(const MenuState& state, const std::string& counter_text, int mode_value) {
  ClearScreen();
  PrintLine(kTitle);
  PrintLine(kRule);
  NewLine();
  PrintText(kBaudLabel);
  PrintLine(state.baud_text);
  PrintText(kModeLabel);
  PrintLine(HexText(mode_value));
  PrintText(kCountLabel);
  PrintLine(counter_text);
  NewLine();
  PrintLine(kResetLine);
  PrintLine(kSaveLine);
  PrintLine(kViewLine);
  NewLine();
}

void SetBaudRate(MenuState& state) {
  state.baud_text = InputLine(kBaudPrompt);
  CardSetDivisor(BaudDivisor(TextValue(state.baud_text)));
}

// The mode entry read as hexadecimal, as a 32-bit signed value; outside that
// range 0x80000000.
std::int32_t ModeEntryValue(const std::string& entry) {
  double v = TextValue("&H" + entry);
  if (!(v >= std::numeric_limits<std::int32_t>::min() &&
        v <= std::numeric_limits<std::int32_t>::max())) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(v);
}

void SetMode(MenuState& state) {
  state.mode_entry = InputLine(kModePrompt);
  if (state.mode_entry.empty()) return;
  CardSetMode(ModeEntryValue(state.mode_entry));
}

// A save that could not write its file says so on the message line and
// waits for a key; a save that worked shows nothing.
void Save(int mode_value) {
  std::string message;
  if (SaveLog(mode_value, &message)) return;
  MsgBox(0, kMessageRow, kMessageBg, kMessageFg, message);
  WaitKey();
  MsgBox(1, kMessageRow, kMessageBg, kMessageFg, "");
}

// The menu's commands: the key (upper case) and what it does, given the mode
// register read for this pass; no action leaves the menu.
struct MenuCommand {
  std::string_view key;
  void (*run)(MenuState& state, int mode_value);
};

constexpr MenuCommand kCommands[] = {
    {"B", [](MenuState& state, int) { SetBaudRate(state); }},
    {"M", [](MenuState& state, int) { SetMode(state); }},
    {"R", [](MenuState&, int mode_value) { CardCopyCounter(mode_value); }},
    {"Z", [](MenuState&, int) { CardResetCounter(); }},
    {"S", [](MenuState&, int mode_value) { Save(mode_value); }},
    {"V", [](MenuState&, int) { ViewTxtFile(kLogFileName); }},
    {"Q", nullptr},
    {KeyEsc, nullptr},
};

}  // namespace

void StartUp() {
  CardBase = 0x350;
  SetScreenSize(80, 25);
  os::ChangeDir(LogDir());  // a failure is ignored
}

bool MenuPass(MenuState& state) {
  const CardPass pass = CardReadPass();
  const int mode_value = pass.mode_value;
  DrawMenu(state, CounterText(pass.counter_word), mode_value);
  MoveCursor(kKeyRow, 1, -1);
  const std::string command = UpperCase(WaitKey());
  for (const MenuCommand& c : kCommands) {
    if (command != c.key) continue;
    if (c.run == nullptr) {
      ClearScreen();
      return false;
    }
    c.run(state, mode_value);
    break;
  }
  return true;
}

void RunMenu() {
  StartUp();
  MenuState state;
  while (MenuPass(state)) {
  }
  EndProgram(0);
}

}  // namespace q7t
