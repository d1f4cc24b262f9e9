// The console layer's routines over one shared console: the cell model is
// the truth, the renderer brings the terminal in line with it when the
// program waits with no key pending (at the pace the terminal shows it), and
// keys flow from the terminal through the decoder into the queue.
#include "console/console.h"

#include <cstdlib>
#include <memory>

#include "console/frame_pacer.h"
#include "console/key_decoder.h"
#include "console/key_queue.h"
#include "console/render.h"
#include "console/screen.h"

namespace q7t {

namespace {

constexpr int kWaitKeyPollMs = 10;
constexpr std::size_t kMaxInputValue = 4096;

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
  Screen screen;
  Renderer renderer;
  FrameSender sender;
  KeyDecoder decoder;
  KeyQueue queue;
  int fg = 7, bg = 0;  // the current pair; applied only from the first SetColor/GetColor
  bool input_ended = false;
  std::int64_t last_byte_ms = 0;
};

NullTerminal null_terminal;
std::unique_ptr<ConsoleState> state;
ExitHandler exit_handler = nullptr;

ConsoleState& S() {
  if (!state) {
    state = std::make_unique<ConsoleState>();
    state->terminal = &null_terminal;
  }
  return *state;
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

// Reads whatever the terminal has, decodes it and queues the keys.
void ReadKeyboard(ConsoleState& s) {
  TakeTerminalEvents(s);
  std::string bytes;
  bool alive = s.terminal->ReadAvailable(bytes);
  std::int64_t now = s.terminal->NowMs();
  if (!bytes.empty()) {
    for (char b : bytes) s.decoder.Feed(static_cast<std::uint8_t>(b));
    s.last_byte_ms = now;
  } else if (s.decoder.Pending()) {
    s.decoder.Idle(static_cast<int>(now - s.last_byte_ms));
  }
  for (KeyCode k = s.decoder.Take(); !k.empty(); k = s.decoder.Take()) s.queue.Push(std::move(k));
  int flags = 0;
  if (s.decoder.TakeKittyReply(&flags)) s.terminal->KeyboardProtocolOffered();
  while (s.decoder.TakeDeviceAttributes()) s.sender.Answered(now);
  if (!alive) NoteInputEnded(s);
}

// Brings the terminal in line with the model; unless `forced`, only as fast
// as the terminal shows the frames (FrameSender).
void Flush(ConsoleState& s, bool forced) {
  TakeTerminalEvents(s);
  s.sender.Flush(s.renderer, s.screen.grid(), *s.terminal, forced);
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
}

void ApplyColor(ConsoleState& s) {
  s.screen.SetAttr(static_cast<Attr>(s.fg + 16 * s.bg));
}

void Print(ConsoleState& s, std::string_view text) {
  s.screen.PrintText(text, [&s] {
    FlushConsole();
    s.terminal->Bell();
  });
}

}  // namespace

void InstallConsole(Terminal* terminal, const TermCaps& caps) {
  state = std::make_unique<ConsoleState>();
  state->terminal = terminal ? terminal : &null_terminal;
  state->renderer.SetCaps(caps);
  state->renderer.Invalidate();
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

void SetExitHandler(ExitHandler handler) {
  exit_handler = handler;
}

void EndProgram(int status) {
  ConsoleState& s = S();
  FlushConsole();
  // An answer still on its way would reach whatever reads the terminal next
  // (the shell) as typed text: it is read here, for a second at most.
  std::int64_t now = s.terminal->NowMs();
  const std::int64_t until = now + s.sender.WaitLimitMs(now);
  while (s.sender.pacer().asking() && s.sender.pacer().answering() && !s.input_ended &&
         now < until) {
    s.terminal->WaitInput(static_cast<int>(until - now));
    ReadKeyboard(s);
    now = s.terminal->NowMs();
  }
  if (exit_handler) exit_handler(status);
  std::exit(status);
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
    // picture goes out only when no key is pending.
    ReadKeyboard(s);
    if (s.queue.Empty()) Flush(s, /*forced=*/false);
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

std::string TakeInputValue(std::string_view line) {
  std::size_t i = line.find_first_not_of(" \t");
  if (i == std::string_view::npos) return {};
  std::string_view rest = line.substr(i);
  std::string_view value;
  if (rest.front() == '"') {
    rest.remove_prefix(1);
    value = rest.substr(0, rest.find('"'));
  } else {
    value = rest.substr(0, rest.find(','));
  }
  return std::string(value.substr(0, kMaxInputValue));
}

// Line entry: the typed line lives in `line_`; the screen shows it from the
// start position on, wrapping at the last column and moving the screen at the
// last row like any written text.
namespace {

class LineEditor {
 public:
  explicit LineEditor(ConsoleState& s) : s_(s) {
    start_row_ = s.screen.CursorRow();
    start_col_ = s.screen.CursorCol();
  }

  // Runs until Enter; returns the typed line.
  std::string Run() {
    for (;;) {
      KeyCode key = s_.queue.Pop();
      if (key.empty()) {
        ReadKeyboard(s_);
        key = s_.queue.Pop();
      }
      if (key.empty()) {
        WaitForInput(s_);
        continue;
      }
      if (key == "\r" || key == "\n") break;
      Handle(key);
    }
    Place(line_.size());
    return line_;
  }

 private:
  void Handle(const KeyCode& key) {
    auto first = static_cast<std::uint8_t>(key[0]);
    if (key.size() == 1 && first >= 32) {
      Insert(std::string(1, key[0]));
    } else if (key == "\x08") {
      if (pos_ > 0) Erase(pos_ - 1);
    } else if (key == KeyDel) {
      if (pos_ == line_.size()) {
        Print(s_, "\x07");
      } else {
        Erase(pos_);
      }
    } else if (key == KeyTab) {
      Insert(std::string(8 - pos_ % 8, ' '));
    } else if (key == KeyEsc) {
      line_.clear();
      Draw(0);
      pos_ = 0;
    } else if (key == KeyLeft) {
      if (pos_ > 0) --pos_;
    } else if (key == KeyRight) {
      if (pos_ < line_.size()) ++pos_;
    } else if (key == KeyHome) {
      pos_ = 0;
    } else if (key == KeyEnd) {
      pos_ = line_.size();
    } else if (key == KeyUp) {
      if (pos_ >= Cols()) pos_ -= Cols();
    } else if (key == KeyDown) {
      if (line_.size() - pos_ >= Cols()) pos_ += Cols();
    }
    Place(pos_);
  }

  void Insert(const std::string& text) {
    line_.insert(pos_, text);
    std::size_t from = pos_;
    pos_ += text.size();
    Draw(from);
  }

  void Erase(std::size_t at) {
    line_.erase(at, 1);
    pos_ = at;
    Draw(at);
  }

  std::size_t Cols() const { return static_cast<std::size_t>(s_.screen.Cols()); }

  // Redraws the line from index `from` on, blanking cells it no longer covers.
  void Draw(std::size_t from) {
    std::size_t end = std::max(drawn_, line_.size());
    for (std::size_t i = from; i < end; ++i) {
      if (!Place(i)) continue;  // scrolled off the top of the screen
      char ch = i < line_.size() ? line_[i] : ' ';
      s_.screen.PrintText(std::string_view(&ch, 1));
    }
    drawn_ = line_.size();
  }

  // The cursor to the cell of line index `index`; the screen moves up when
  // that cell lies below the last row. False when the cell has scrolled off
  // the top (a line longer than the screen).
  bool Place(std::size_t index) {
    auto cols = static_cast<long long>(Cols());
    long long linear = (start_row_ - 1) * cols + (start_col_ - 1) + static_cast<long long>(index);
    long long row = linear >= 0 ? linear / cols + 1 : 0;
    int col = static_cast<int>(linear >= 0 ? linear % cols : 0) + 1;
    while (row > s_.screen.Rows()) {
      s_.screen.ScrollUp();
      --start_row_;
      --row;
    }
    if (row < 1) return false;
    s_.screen.MoveCursor(static_cast<int>(row), col, -1);
    return true;
  }

  ConsoleState& s_;
  std::string line_;
  std::size_t pos_ = 0;
  std::size_t drawn_ = 0;
  long long start_row_ = 1;
  long long start_col_ = 1;
};

}  // namespace

std::string InputLine(std::string_view prompt) {
  ConsoleState& s = S();
  s.screen.CarryOutPendingWrap();
  std::string text(prompt);
  text += "? ";
  Print(s, text);
  s.screen.CarryOutPendingWrap();
  bool was_visible = s.screen.CursorVisible();
  s.screen.SetCursorVisible(true);
  std::string line = LineEditor(s).Run();
  s.screen.SetCursorVisible(was_visible);
  NewLine();
  return TakeInputValue(line);
}

}  // namespace q7t
