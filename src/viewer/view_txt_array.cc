#include "viewer/view_txt_array.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>

#include "console/console.h"
#include "console/text_ops.h"
#include "viewer/msg_box.h"

namespace q7t {

namespace {

constexpr int kPageHeight = 23;   // text rows 2..24
constexpr int kWindowWidth = 76;  // text columns 3..78
constexpr int kFirstTextRow = 2;
constexpr int kFirstTextCol = 3;
constexpr int kTitleWidth = 77;  // columns 4..80 of row 1

constexpr std::string_view kKeyHelp = "<Lf><Rg><Home><End> <Up><Dw><Pu><Pd><CtlPu><CtlPd> <ESC>";
constexpr std::string_view kOverflowText = "ViewTxtArray: Txl Array Overflow ";
constexpr std::string_view kRdOverflowText = "ViewTxtArray: Txl Array Rd Overflow";

// The error line of the viewer: row 24, white on light red.
constexpr int kErrorRow = 24;
constexpr int kErrorBg = 12;
constexpr int kErrorFg = 15;

struct ViewState {
  std::int64_t count = 0;
  std::int64_t longest = 0;
  std::int64_t top = 0;  // the first text row shows line top + 1
  std::int64_t col = 0;  // leading bytes cut from every shown line
};

struct KeyAction {
  std::string_view key;
  void (*act)(ViewState&);
};

// Compared in this order after UpperCase; the first match acts. Esc is
// handled before the table: it returns without a redraw.
constexpr KeyAction kKeyTable[] = {
    {KeyDown, [](ViewState& s) { s.top += 1; }},
    {KeyUp, [](ViewState& s) { s.top -= 1; }},
    {KeyCtrlDown, [](ViewState& s) { s.top += 4; }},
    {KeyCtrlUp, [](ViewState& s) { s.top -= 4; }},
    {KeyPgDn, [](ViewState& s) { s.top += kPageHeight; }},
    {KeyPgUp, [](ViewState& s) { s.top -= kPageHeight; }},
    {KeyCtrlPgDn, [](ViewState& s) { s.top = s.count - kPageHeight; }},
    {KeyCtrlPgUp, [](ViewState& s) { s.top = 0; }},
    {KeyHome, [](ViewState& s) { s.col = 0; }},
    {KeyEnd, [](ViewState& s) { s.col = s.longest - kWindowWidth; }},
    {KeyLeft, [](ViewState& s) { s.col -= 1; }},
    {KeyRight, [](ViewState& s) { s.col += 1; }},
};

void Clamp(ViewState& s) {
  if (s.top > s.count - kPageHeight) s.top = s.count - kPageHeight;
  if (s.col > s.longest - kWindowWidth) s.col = s.longest - kWindowWidth;
  if (s.top < 0) s.top = 0;
  if (s.col < 0) s.col = 0;
}

std::int32_t ToInt32(std::int64_t value) {
  return static_cast<std::int32_t>(
      std::min<std::int64_t>(value, std::numeric_limits<std::int32_t>::max()));
}

void ShowError(const std::string& message) {
  KeyCode key;
  ErrorBox(kErrorRow, kErrorBg, kErrorFg, message, key);
}

void DrawFrame(std::string_view title, const ViewState& s) {
  SetColor(7, 1);
  ClearScreen();
  MoveCursor(1, 4, -1);
  PrintText(title.substr(0, kTitleWidth));
  MoveCursor(1, 66, -1);
  PrintText("V:" + FmtFixedDec(ToInt32(s.count), 4) + " H:" + FmtFixedDec(ToInt32(s.longest), 3));
  MoveCursor(25, 4, -1);
  PrintText(kKeyHelp);
}

// The 76 bytes a text row shows of `text`: cut at the column offset, padded
// with spaces; every byte up to 0x20 shown as a space.
std::string RowBytes(const std::string& text, std::int64_t col) {
  std::string row(kWindowWidth, ' ');
  if (col >= static_cast<std::int64_t>(text.size())) return row;
  std::size_t take = std::min<std::size_t>(kWindowWidth, text.size() - col);
  for (std::size_t i = 0; i < take; ++i) {
    auto byte = static_cast<unsigned char>(text[col + i]);
    if (byte > 0x20) row[i] = static_cast<char>(byte);
  }
  return row;
}

// One pass: the "L:" field and the 23 text rows. False after a read
// overflow, which has been reported and leaves the rest of the page undrawn.
bool Redraw(const LineArray& lines, const ViewState& s) {
  SetColor(7, 1);
  MoveCursor(25, 66, -1);
  PrintText("L:" + FmtFixedDec(ToInt32(s.top + 1), 4) + " P:" + FmtFixedDec(ToInt32(s.col + 1), 3));
  SetColor(7, 0);
  static const std::string kNoLine;
  for (int i = 1; i <= kPageHeight; ++i) {
    std::int64_t n = s.top + i;
    const std::string* text = &kNoLine;
    if (n <= s.count) {
      if (n < 1 || n > lines.UpperBound()) {
        ShowError(std::string(kRdOverflowText) + DecText(n));
        return false;
      }
      text = &lines.At(static_cast<std::int32_t>(n));
    }
    // One write per row has the same effect as one per byte: the row never
    // reaches column 80 and holds no byte the console acts on.
    MoveCursor(kFirstTextRow + i - 1, kFirstTextCol, -1);
    PrintText(RowBytes(*text, s.col));
  }
  return true;
}

}  // namespace

void ViewTxtArray(std::string_view title, const LineArray& lines, std::int32_t count) {
  if (count == 0) return;
  if (count < 1 || count > lines.UpperBound()) {
    ShowError(std::string(kOverflowText) + std::string(title) + " " + DecText(count) + " " +
              DecText(lines.UpperBound()));
    return;
  }
  ViewState s;
  s.count = count;
  for (std::int32_t n = 1; n <= count; ++n) {
    s.longest = std::max<std::int64_t>(s.longest, lines.At(n).size());
  }
  DrawFrame(title, s);
  while (Redraw(lines, s)) {
    KeyCode key = UpperCase(WaitKey());
    if (key == KeyEsc) return;
    for (const KeyAction& action : kKeyTable) {
      if (key == action.key) {
        action.act(s);
        break;
      }
    }
    Clamp(s);
  }
}

}  // namespace q7t
