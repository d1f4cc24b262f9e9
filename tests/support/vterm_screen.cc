// The in-memory terminal emulator used to check what a user would see.
#include "support/vterm_screen.h"

#include <vterm.h>

#include <algorithm>
#include <string>

namespace q7t::test {

struct VtermCallbacks {
  static int SetTermProp(VTermProp prop, VTermValue* val, void* user) {
    auto* self = static_cast<VtermScreen*>(user);
    if (prop == VTERM_PROP_CURSORVISIBLE) self->cursor_visible_ = val->boolean != 0;
    return 1;
  }
  static void Output(const char* bytes, size_t len, void* user) {
    static_cast<VtermScreen*>(user)->output_.append(bytes, len);
  }
};

namespace {

const VTermScreenCallbacks kScreenCallbacks = {
    .damage = nullptr,
    .moverect = nullptr,
    .movecursor = nullptr,
    .settermprop = &VtermCallbacks::SetTermProp,
    .bell = nullptr,
    .resize = nullptr,
    .sb_pushline = nullptr,
    .sb_popline = nullptr,
};

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The emulator numbers colours the ANSI way (bit 1 red, bit 4 blue); the
// console numbers them the PC way (bit 1 blue, bit 4 red).
int PcColour(const VTermColor& colour, bool background) {
  if (background ? VTERM_COLOR_IS_DEFAULT_BG(&colour) : VTERM_COLOR_IS_DEFAULT_FG(&colour)) {
    return -1;
  }
  if (!VTERM_COLOR_IS_INDEXED(&colour)) return -2;
  int idx = colour.indexed.idx;
  if (idx > 15) return -2;
  return (idx & 0x0A) | ((idx & 1) << 2) | ((idx >> 2) & 1);
}

}  // namespace

VtermScreen::VtermScreen(int rows, int cols) : rows_(rows), cols_(cols) {
  vt_ = vterm_new(rows, cols);
  vterm_set_utf8(vt_, 1);
  vterm_output_set_callback(vt_, &VtermCallbacks::Output, this);
  screen_ = vterm_obtain_screen(vt_);
  vterm_screen_set_callbacks(screen_, &kScreenCallbacks, this);
  vterm_screen_reset(screen_, 1);
}

VtermScreen::~VtermScreen() {
  vterm_free(vt_);
}

void VtermScreen::Feed(std::string_view bytes) {
  vterm_input_write(vt_, bytes.data(), bytes.size());
  vterm_screen_flush_damage(screen_);
}

void VtermScreen::Resize(int rows, int cols) {
  rows_ = rows;
  cols_ = cols;
  vterm_set_size(vt_, rows, cols);
  vterm_screen_flush_damage(screen_);
}

std::string VtermScreen::RowText(int row) const {
  std::string text;
  for (int col = 1; col <= cols_; ++col) AppendUtf8(text, CellChar(row, col));
  return text;
}

char32_t VtermScreen::CellChar(int row, int col) const {
  VTermScreenCell cell;
  if (!vterm_screen_get_cell(screen_, VTermPos{row - 1, col - 1}, &cell)) return ' ';
  char32_t cp = cell.chars[0];
  return cp == 0 || cp == static_cast<char32_t>(-1) ? U' ' : cp;
}

int VtermScreen::CellFg(int row, int col) const {
  VTermScreenCell cell;
  if (!vterm_screen_get_cell(screen_, VTermPos{row - 1, col - 1}, &cell)) return -2;
  return PcColour(cell.fg, false);
}

int VtermScreen::CellBg(int row, int col) const {
  VTermScreenCell cell;
  if (!vterm_screen_get_cell(screen_, VTermPos{row - 1, col - 1}, &cell)) return -2;
  return PcColour(cell.bg, true);
}

int VtermScreen::CursorRow() const {
  VTermPos pos;
  vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
  return pos.row + 1;
}

int VtermScreen::CursorCol() const {
  VTermPos pos;
  vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
  return pos.col + 1;
}

bool VtermScreen::CursorVisible() const {
  return cursor_visible_;
}

std::string VtermScreen::TakeOutput() {
  std::string taken;
  taken.swap(output_);
  return taken;
}

std::string CursorMismatch(const VtermScreen& term, bool visible, int row, int col) {
  if (term.CursorVisible() != visible) return "cursor visibility";
  if (!visible) return "";
  const int r = std::min(row, term.Rows()), c = std::min(col, term.Cols());
  if (term.CursorRow() == r && term.CursorCol() == c) return "";
  return "cursor at " + std::to_string(term.CursorRow()) + "," + std::to_string(term.CursorCol()) +
         " want " + std::to_string(r) + "," + std::to_string(c);
}

}  // namespace q7t::test
