// The console layer as the system's screens use it: an 80 x 25 text screen in
// 16 colours, the keyboard as a stream of key codes, line entry. Free
// functions over one shared console; tests install their own Terminal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "console/key_codes.h"
#include "console/line_entry.h"
#include "console/term_caps.h"
#include "console/terminal.h"

namespace q7t {

class Renderer;
class Screen;

// The background colour number ResetScreen uses with foreground 7.
inline constexpr int DefaultBackColor = 0;

// How the program ends, given the status and, when a write to the terminal
// failed, why (otherwise empty). It must not return.
using ExitHandler = void (*)(int status, const std::string& failure);

// Installs the terminal the console lives on (not owned) and the end of the
// program, and starts a fresh console: blank model, empty key queue, colours
// not yet applied, a full repaint at the next flush.
void InstallConsole(Terminal* terminal, const TermCaps& caps = {}, ExitHandler on_end = nullptr);
// The model and the renderer, for tests and benchmarks.
Screen& ConsoleScreen();
Renderer& ConsoleRenderer();
// Brings the terminal in line with the model (one write).
void FlushConsole();

// How the program ends (Q, Esc, Home at an error line, terminal gone):
// flush, then the installed exit handler, which ends the process. A write to
// the terminal that fails (Terminal::Writable) ends it so too, at once, with
// status 1 and the reason as `failure`.
[[noreturn]] void EndProgram(int status);

void SetScreenSize(int cols, int rows);
void ClearScreen();
void MoveCursor(int row, int col, int cursor_mode);
// Keeps the low 4 bits of each, applies fg + 16 x bg; returns the previous pair.
std::pair<int, int> SetColor(int fg, int bg);
// The current pair (7, 0 until the first SetColor); also applies it.
std::pair<int, int> GetColor();
int CursorRow();
int CursorCol();
void PrintText(std::string_view text);
void PrintLine(std::string_view text);
void NewLine();

KeyCode PollKey();
KeyCode WaitKey();
void SleepMs(int ms);
// The next key, waiting for it (the terminal brought in line first), with
// no pause between looks; line entry reads its keys so.
KeyCode NextKey();

}  // namespace q7t
