// The console layer's routines over one shared console: the cell model is
// the truth, the renderer brings the terminal in line with it when the
// program waits with no key pending (at the pace the terminal shows it), and
// keys flow from the terminal through the decoder into the queue.
#include "console/console.h"

#include <cstdlib>
#include <memory>
#include <string>

#include "console/frame_pacer.h"
#include "console/key_decoder.h"
#include "console/key_queue.h"
#include "console/render.h"
#include "console/screen.h"

namespace q7t {

namespace {

constexpr int kWaitKeyPollMs = 10;

// A terminal that is not there: output goes nowhere, input has ended.
class NullTerminal : public Terminal {
 public:
  void Write(std::string_view) override {}
  bool ReadAvailable(std::string&) override { return false; }
  void WaitInput(int) override {}
  void Sleep(int) override {}
  std::int64_t NowMs() override { return 0; }
  void Bell() override {}
};

struct ConsoleState {
  Terminal* terminal = nullptr;
  ExitHandler on_end = nullptr;
  Screen screen;
  Renderer renderer;
  FrameSender sender;
  KeyQueue queue;
  KeyDecoder decoder{queue};
  int fg = 7, bg = 0;  // the current pair; applied only from the first SetColor/GetColor
  bool input_ended = false;
  std::int64_t last_byte_ms = 0;
  std::int64_t idle_ms = 0;  // when no key was last found pending
};

NullTerminal null_terminal;
std::unique_ptr<ConsoleState> state;

ConsoleState& S() {
  if (!state) {
    state = std::make_unique<ConsoleState>();
    state->terminal = &null_terminal;
  }
  return *state;
}

// The end itself, through the installed handler; a console without one is
// a program that forgot to install it.
[[noreturn]] void End(const ConsoleState& s, int status, const std::string& failure) {
  if (s.on_end) s.on_end(status, failure);
  std::abort();
}

// A failed write leaves the user without a picture: the program must not
// carry on (or end as if all were well) without it. Asked after each call
// that may write, so that nothing else happens in between.
void EndIfUnwritable(ConsoleState& s) {
  std::string why;
  if (!s.terminal->Writable(&why)) End(s, 1, why);
}

// Input ended (end of file, hang-up): the close key code goes into the queue
// once, as a console-close notification does.
void NoteInputEnded(ConsoleState& s) {
  if (s.input_ended) return;
  s.input_ended = true;
  s.queue.Push(KeyCode(kCloseKey));
}

void TakeTerminalEvents(ConsoleState& s) {
  Terminal::Events ev = s.terminal->TakeEvents();
  EndIfUnwritable(s);
  if (ev.repaint) {
    TermCaps caps = s.renderer.caps();
    if (ev.rows > 0 && ev.cols > 0) {
      caps.rows = ev.rows;
      caps.cols = ev.cols;
    }
    s.renderer.SetCaps(caps);
    s.renderer.Invalidate();
  }
  if (ev.hangup) NoteInputEnded(s);
}

// Reads whatever the terminal has and decodes it into the key queue.
void ReadKeyboard(ConsoleState& s) {
  TakeTerminalEvents(s);
  std::string bytes;
  bool alive = s.terminal->ReadAvailable(bytes);
  std::int64_t now = s.terminal->NowMs();
  if (!bytes.empty()) {
    s.decoder.SetNumLock(s.terminal->NumLockOn());
    for (char b : bytes) s.decoder.Feed(static_cast<std::uint8_t>(b));
    s.last_byte_ms = now;
  } else if (s.decoder.Pending()) {
    s.decoder.Idle(static_cast<int>(now - s.last_byte_ms));
  }
  int flags = 0;
  if (s.decoder.TakeKittyReply(&flags)) {
    s.terminal->KeyboardProtocolOffered();
    EndIfUnwritable(s);
  }
  while (s.decoder.TakeDeviceAttributes()) s.sender.Answered(now);
  if (SignalKey key = s.decoder.TakeSignalKey(); key != SignalKey::kNone) {
    s.terminal->SignalKeyPressed(key);
  }
  if (!alive) NoteInputEnded(s);
}

// Brings the terminal in line with the model; unless `forced`, only as fast
// as the terminal shows the frames (FrameSender).
void Flush(ConsoleState& s, bool forced) {
  TakeTerminalEvents(s);
  s.sender.Flush(s.renderer, s.screen.grid(), *s.terminal, forced);
  EndIfUnwritable(s);
}

// Blocks until input may have arrived. With the terminal gone and no key left
// the program ends: nothing more can ever come.
void WaitForInput(ConsoleState& s) {
  if (s.input_ended) {
    if (s.queue.Empty()) EndProgram(0);
    return;
  }
  Flush(s, /*forced=*/false);
  std::int64_t now = s.terminal->NowMs();
  int timeout = s.sender.WaitLimitMs(now);
  if (s.decoder.Pending()) {
    std::int64_t waited = now - s.last_byte_ms;
    int esc = static_cast<int>(std::max<std::int64_t>(1, KeyDecoder::kEscWaitMs + 1 - waited));
    timeout = timeout < 0 ? esc : std::min(timeout, esc);
  }
  s.terminal->WaitInput(timeout);
  s.idle_ms = s.terminal->NowMs();
}

void ApplyColor(ConsoleState& s) {
  s.screen.SetAttr(static_cast<Attr>(s.fg + 16 * s.bg));
}

void Print(ConsoleState& s, std::string_view text) {
  s.screen.PrintText(text, [&s] {
    FlushConsole();
    s.terminal->Bell();
    EndIfUnwritable(s);
  });
}

}  // namespace

void InstallConsole(Terminal* terminal, const TermCaps& caps, ExitHandler on_end) {
  state = std::make_unique<ConsoleState>();
  state->terminal = terminal ? terminal : &null_terminal;
  state->on_end = on_end;
  TermCaps shown = caps;
  shown.steady_backgrounds = caps.steady_backgrounds || state->terminal->BrightBackgroundsBlink();
  state->renderer.SetCaps(shown);
  state->renderer.Invalidate();
  state->decoder.SetLinuxConsole(caps.linux_keys);
}

Screen& ConsoleScreen() {
  return S().screen;
}
Renderer& ConsoleRenderer() {
  return S().renderer;
}

void FlushConsole() {
  Flush(S(), /*forced=*/true);
}

void EndProgram(int status) {
  ConsoleState& s = S();
  FlushConsole();
  // An answer still on its way would reach whatever reads the terminal next
  // (the shell) as typed text: it is read here, until it counts as lost.
  std::int64_t now = s.terminal->NowMs();
  const std::int64_t until = now + s.sender.WaitLimitMs(now);
  while (s.sender.pacer().asking() && s.sender.pacer().answering() && !s.input_ended &&
         now < until) {
    s.terminal->WaitInput(static_cast<int>(until - now));
    ReadKeyboard(s);
    now = s.terminal->NowMs();
  }
  End(s, status, "");
}

void SetScreenSize(int cols, int rows) {
  S().screen.SetSize(cols, rows);
}
void ClearScreen() {
  S().screen.Clear();
}
void MoveCursor(int row, int col, int cursor_mode) {
  S().screen.MoveCursor(row, col, cursor_mode);
}

std::pair<int, int> SetColor(int fg, int bg) {
  ConsoleState& s = S();
  std::pair<int, int> previous{s.fg, s.bg};
  s.fg = fg & 15;
  s.bg = bg & 15;
  ApplyColor(s);
  return previous;
}

std::pair<int, int> GetColor() {
  ConsoleState& s = S();
  ApplyColor(s);
  return {s.fg, s.bg};
}

int CursorRow() {
  return S().screen.CursorRow();
}
int CursorCol() {
  return S().screen.CursorCol();
}

void PrintText(std::string_view text) {
  Print(S(), text);
}

void PrintLine(std::string_view text) {
  PrintText(text);
  NewLine();
}

void NewLine() {
  PrintText("\r\n");
}

KeyCode PollKey() {
  ConsoleState& s = S();
  ReadKeyboard(s);
  return s.queue.Pop();
}

KeyCode WaitKey() {
  ConsoleState& s = S();
  for (;;) {
    // Keys already waiting are handled before anything is drawn: the
    // picture goes out when no key is pending, or when it has stood still
    // too long while they are (a paste of many keys).
    ReadKeyboard(s);
    const std::int64_t now = s.terminal->NowMs();
    if (s.queue.Empty()) s.idle_ms = now;
    if (s.queue.Empty() || s.sender.Overdue(now, s.idle_ms)) Flush(s, /*forced=*/false);
    s.terminal->Sleep(kWaitKeyPollMs);
    KeyCode code = PollKey();
    if (!code.empty()) return code;
    WaitForInput(s);
  }
}

void SleepMs(int ms) {
  FlushConsole();
  S().terminal->Sleep(ms);
}

KeyCode NextKey() {
  ConsoleState& s = S();
  for (;;) {
    KeyCode key = s.queue.Pop();
    if (key.empty()) {
      ReadKeyboard(s);
      key = s.queue.Pop();
    }
    if (!key.empty()) return key;
    WaitForInput(s);
  }
}

}  // namespace q7t
