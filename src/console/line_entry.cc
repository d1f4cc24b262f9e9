// Line entry: the typed line lives in the editor; the screen shows it from
// the start position on, wrapping at the last column and moving the screen at
// the last row like any written text.
#include "console/line_entry.h"

#include <algorithm>
#include <cstdint>

#include "console/console.h"
#include "console/screen.h"

namespace q7t {
namespace {

constexpr std::size_t kMaxInputValue = 4096;

class LineEditor {
 public:
  explicit LineEditor(Screen& screen) : screen_(screen) {
    start_row_ = screen.CursorRow();
    start_col_ = screen.CursorCol();
  }

  // Runs until Enter; returns the typed line.
  std::string Run() {
    for (KeyCode key = NextKey(); key != "\r" && key != "\n"; key = NextKey()) Handle(key);
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
        PrintText("\x07");
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

  std::size_t Cols() const { return static_cast<std::size_t>(screen_.Cols()); }

  // Redraws the line from index `from` on, blanking cells it no longer covers.
  void Draw(std::size_t from) {
    std::size_t end = std::max(drawn_, line_.size());
    for (std::size_t i = from; i < end; ++i) {
      if (!Place(i)) continue;  // scrolled off the top of the screen
      char ch = i < line_.size() ? line_[i] : ' ';
      screen_.PrintText(std::string_view(&ch, 1));
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
    while (row > screen_.Rows()) {
      screen_.ScrollUp();
      --start_row_;
      --row;
    }
    if (row < 1) return false;
    screen_.MoveCursor(static_cast<int>(row), col, -1);
    return true;
  }

  Screen& screen_;
  std::string line_;
  std::size_t pos_ = 0;
  std::size_t drawn_ = 0;
  long long start_row_ = 1;
  long long start_col_ = 1;
};

}  // namespace

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

std::string InputLine(std::string_view prompt) {
  Screen& screen = ConsoleScreen();
  screen.CarryOutPendingWrap();
  std::string text(prompt);
  text += "? ";
  PrintText(text);
  screen.CarryOutPendingWrap();
  bool was_visible = screen.CursorVisible();
  screen.SetCursorVisible(true);
  std::string line = LineEditor(screen).Run();
  screen.SetCursorVisible(was_visible);
  NewLine();
  return TakeInputValue(line);
}

}  // namespace q7t
