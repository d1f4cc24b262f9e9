// Frames paced by the terminal's answers: a clock the test moves, answers as
// the test scripts them (at once, late, lost, never, or when a slow line has
// carried the bytes before them), and the bytes read through libvterm, which
// must end showing the model's last picture exactly.
#include "console/frame_pacer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/screen.h"
#include "support/fake_terminal.h"
#include "support/vterm_screen.h"

namespace q7t {
namespace {

constexpr std::string_view kRequest = kAttributesRequest;

int Requests(const std::string& out) {
  int n = 0;
  for (auto at = out.find(kRequest); at != std::string::npos; at = out.find(kRequest, at + 1)) ++n;
  return n;
}

class Paced : public ::testing::Test {
 protected:
  // A viewer-like page of a fixed document from line `top` on: a frame row
  // with the position in it, text rows of varied length, the cursor parked.
  void Show(int top) {
    for (int r = 1; r <= grid_.rows; ++r) {
      for (int c = 1; c <= grid_.cols; ++c) grid_.At(r, c) = Cell{' ', 0x07};
    }
    char field[16];
    std::snprintf(field, sizeof field, "L:%04d", top);
    for (int c = 1; c <= grid_.cols; ++c) {
      grid_.At(25, c) =
          Cell{static_cast<std::uint8_t>(c >= 60 && c < 66 ? field[c - 60] : ' '), 0x17};
    }
    for (int r = 1; r < 25; ++r) {
      int line = top + r;
      for (int c = 1; c <= 10 + (line * 37) % 60; ++c) {
        grid_.At(r, c).ch = static_cast<std::uint8_t>('a' + (line * 7 + c) % 26);
      }
    }
    grid_.cursor_row = 24;
    grid_.cursor_col = 79;
  }
  // One flush at the clock's time; the bytes written.
  std::string Flush() {
    sender_.Flush(renderer_, grid_, term_, /*forced=*/false);
    std::string out = term_.TakeOutput();
    screen_.Feed(out);
    return out;
  }
  void At(std::int64_t ms) { term_.Sleep(static_cast<int>(ms - term_.NowMs())); }
  void Answer() { sender_.Answered(term_.NowMs()); }

  // "" when the emulator shows the grid: characters, colours (the
  // foreground where a character stands), the cursor.
  std::string Mismatch() const {
    for (int r = 1; r <= grid_.rows; ++r) {
      for (int c = 1; c <= grid_.cols; ++c) {
        const Cell& cell = grid_.At(r, c);
        bool same = screen_.CellChar(r, c) == cell.ch && screen_.CellBg(r, c) == cell.attr >> 4 &&
                    (cell.ch == ' ' || screen_.CellFg(r, c) == (cell.attr & 15));
        if (!same) return "row " + std::to_string(r) + " col " + std::to_string(c);
      }
    }
    return test::CursorMismatch(screen_, grid_.cursor_visible, grid_.cursor_row, grid_.cursor_col);
  }

  test::FakeTerminal term_;
  Renderer renderer_;
  FrameSender sender_;
  test::VtermScreen screen_;
  Grid grid_;
};

TEST_F(Paced, KeysFasterThanTheTerminalGiveTheNewestPictureOnly) {
  Show(1);
  Flush();
  At(5);
  Answer();  // a fast line
  // A key now and then costs no request.
  At(500);
  Show(2);
  EXPECT_EQ(Requests(Flush()), 0);
  // Keys in quick succession: a request first, then nothing until it is
  // answered, however late.
  At(520);
  Show(3);
  EXPECT_EQ(Flush(), kRequest);
  for (int top = 4; top <= 12; ++top) {
    At(520 + top * 30);
    Show(top);
    EXPECT_EQ(Flush(), "") << top;
    EXPECT_GT(sender_.WaitLimitMs(term_.NowMs()), 0);
  }
  // That late answer reads as a slow line: the newest picture may go in
  // pieces, but none of the pictures in between is ever shown.
  Answer();
  for (int i = 0; i < 20; ++i) {
    At(term_.NowMs() + 10);
    std::string out = Flush();
    std::string field = screen_.RowText(25).substr(59, 6);
    EXPECT_TRUE(field == "L:0002" || field == "L:0012") << field;
    if (Requests(out) > 0) Answer();
  }
  EXPECT_EQ(Mismatch(), "");
  EXPECT_EQ(Flush(), "");  // nothing changed: nothing written, nothing asked
}

// What one flush wrote.
enum class Out : std::uint8_t { kNothing, kFrame, kFrameAsked, kAsked };

Out Kind(const std::string& out) {
  if (out.empty()) return Out::kNothing;
  if (out == kRequest) return Out::kAsked;
  return Requests(out) > 0 ? Out::kFrameAsked : Out::kFrame;
}

// One step of a script on the test's clock: 'p' a new picture, flushed; 'w'
// keys begin to wait; 'k' a new picture while they wait, flushed when the
// picture is overdue; 'a' the terminal answers.
struct Event {
  std::int64_t at;
  char op;
  Out want = Out::kNothing;
};
struct Script {
  const char* name;
  std::vector<Event> events;
};

void PrintTo(const Script& script, std::ostream* os) {
  *os << script.name;
}

class PacedScript : public Paced, public ::testing::WithParamInterface<Script> {};

// Each flush writes what the row says, and once the terminal has answered
// everything the emulator shows the last picture.
TEST_P(PacedScript, WritesWhatTheRowSays) {
  int top = 0;
  std::int64_t keys_since = 0;
  for (const Event& e : GetParam().events) {
    At(e.at);
    if (e.op == 'a') Answer();
    if (e.op == 'w') keys_since = e.at;
    if (e.op != 'p' && e.op != 'k') continue;
    Show(++top * 23);  // a page on
    std::string out = e.op == 'p' || sender_.Overdue(e.at, keys_since) ? Flush() : "";
    EXPECT_EQ(Kind(out), e.want) << "at " << e.at;
  }
  At(term_.NowMs() + 10000);
  for (int i = 0; i < 40 && !Flush().empty(); ++i) Answer();
  EXPECT_EQ(Mismatch(), "");
}

constexpr Out kNo = Out::kNothing, kFrame = Out::kFrame, kFrameAsked = Out::kFrameAsked,
              kAsked = Out::kAsked;

INSTANTIATE_TEST_SUITE_P(
    Decisions, PacedScript,
    ::testing::Values(
        // The first frame asks once; no answer, no pacing.
        Script{"NeverAnswered", {{0, 'p', kFrameAsked}, {5, 'p', kFrame}, {10, 'p', kFrame}}},
        // Keys a person presses one at a time: no request, however fast the
        // line; a frame within a second of the last asks first.
        Script{"PersonReading",
               {{0, 'p', kFrameAsked},
                {5, 'a'},
                {1500, 'p', kFrame},
                {2500, 'p', kFrame},
                {3499, 'p', kAsked}}},
        // Measured fast, then the line slows to 960 bytes a second: the
        // second quick frame asks, its answer comes late (and is waited for
        // as a 9600 bit/s line needs), and the next picture goes in pieces.
        Script{"LineSlows",
               {{0, 'p', kFrameAsked},
                {5, 'a'},
                {5000, 'p', kFrame},
                {5200, 'p', kAsked},
                {5400, 'p', kNo},
                {6500, 'p', kNo},
                {6900, 'a'},
                {6900, 'p', kFrameAsked}}},
        // The pause before a run of frames is not line time: measured at
        // about 3 KB/s, the next picture goes whole.
        Script{"PauseIsNotLineTime",
               {{0, 'p', kFrameAsked},
                {5, 'a'},
                {1500, 'p', kFrame},
                {5000, 'p', kFrame},
                {5100, 'p', kAsked},
                {5400, 'a'},
                {5400, 'p', kFrame}}},
        // Lost answers end the pacing only three in a row: two lost, one
        // answered, two lost still pace; the third in a row ends it.
        Script{"LostInARow", {{0, 'p', kFrameAsked}, {5, 'a'},
                              {2000, 'p', kFrame},   {2010, 'p', kAsked},
                              {5010, 'p', kFrame},   {7000, 'p', kFrame},
                              {7010, 'p', kAsked},   {10010, 'p', kFrame},
                              {12000, 'p', kFrame},  {12010, 'p', kAsked},
                              {12015, 'a'},          {12020, 'p', kFrame},
                              {14000, 'p', kFrame},  {14010, 'p', kAsked},
                              {17010, 'p', kFrame},  {19000, 'p', kFrame},
                              {19010, 'p', kAsked},  {22010, 'p', kFrame},
                              {24000, 'p', kFrame},  {24010, 'p', kAsked},
                              {27010, 'p', kFrame},  {27020, 'p', kFrame}}},
        // Keys pasted at 3000: nothing drawn for 250 ms, then a frame at
        // least that often while they are applied, still paced.
        Script{"LongQueue",
               {{0, 'p', kFrameAsked},
                {5, 'a'},
                {3000, 'w'},
                {3010, 'k', kNo},
                {3249, 'k', kNo},
                {3250, 'k', kFrame},
                {3260, 'k', kNo},
                {3499, 'k', kNo},
                {3500, 'k', kAsked},
                {3502, 'a'},
                {3510, 'k', kFrame},
                {3520, 'p', kAsked}}}),
    [](const ::testing::TestParamInfo<Script>& row) { return row.param.name; });

// A line that carries 960 bytes a second: each request is answered when the
// line has sent it. Once the first frame is shown (which measures the line),
// the picture changes by a page every 200 ms for two seconds: what goes out
// is pieces of about a quarter second of line time, and the screen ends
// exactly on the last page.
TEST_F(Paced, SlowLineGetsPiecesAndEndsOnTheLastPicture) {
  constexpr int kRate = 960;
  std::int64_t line_free = 0;
  std::deque<std::int64_t> answers;
  int pieces = 0;
  std::size_t largest = 0;
  auto flush = [&] {
    std::string out = Flush();
    if (out.empty()) return;
    line_free =
        std::max(line_free, term_.NowMs()) + static_cast<std::int64_t>(out.size()) * 1000 / kRate;
    for (int i = Requests(out); i > 0; --i) answers.push_back(line_free);
    if (Requests(out) > 0 && out.size() > kRequest.size()) {
      ++pieces;
      largest = std::max(largest, out.size());
    }
  };
  Show(0);
  flush();  // the first frame, whole, with its request
  pieces = 0;
  largest = 0;
  for (std::int64_t t = 10; t < 12000; t += 10) {
    At(t);
    while (!answers.empty() && answers.front() <= t) {
      answers.pop_front();
      Answer();
    }
    if (t >= 2000 && t <= 4000 && t % 200 == 0) Show(static_cast<int>(t / 200) * 23);
    flush();
  }
  EXPECT_TRUE(answers.empty());
  EXPECT_GT(pieces, 4);
  // A piece is about kPieceMs of line time (and at least one row).
  EXPECT_LT(largest, std::size_t{FramePacer::kPieceMs * kRate / 1000 + 120});
  EXPECT_EQ(Mismatch(), "");
}

// The console: keys that arrive together are all handled before the picture
// is drawn, in one write when the program next waits.
TEST(ConsoleDrawing, KeysAlreadyWaitingAreAppliedBeforeDrawing) {
  test::FakeTerminal term;
  InstallConsole(&term);
  SetScreenSize(80, 25);
  FlushConsole();
  const int writes = term.writes();
  term.Type("abc");
  std::string typed;
  EXPECT_THROW(
      for (;;) {
        typed += WaitKey();
        PrintText(typed.substr(typed.size() - 1));
      },
      test::FakeTerminal::NoMoreInput);
  EXPECT_EQ(typed, "abc");
  EXPECT_EQ(term.writes(), writes + 1);
  EXPECT_NE(term.output().find("abc"), std::string::npos);
}

// A paste of 600 keys while the program waits: the last 511 come, each
// after its 10 ms poll, and while they are applied a frame goes out every
// 250 ms of them, the first not before (keys already waiting come first).
TEST(ConsoleDrawing, APasteIsDrawnWhileItsKeysAreApplied) {
  struct Timed : test::FakeTerminal {
    void Write(std::string_view bytes) override {
      at.push_back(NowMs());
      FakeTerminal::Write(bytes);
    }
    std::vector<std::int64_t> at;
  } term;
  InstallConsole(&term);
  SetScreenSize(80, 25);
  term.Pause(0);
  term.Pause(5000);  // the program waits for input meanwhile
  term.Type(std::string(600, 'k'));
  int keys = 0;
  EXPECT_THROW(
      for (;;) {
        WaitKey();
        PrintText(std::to_string(++keys));
      },
      test::FakeTerminal::NoMoreInput);
  EXPECT_EQ(keys, 511);
  ASSERT_GE(term.at.size(), 3u);
  const std::int64_t idle = 5010;  // the wait for input ends
  EXPECT_EQ(term.at[1] - idle, 250);
  EXPECT_LE(term.at.size(), 2u + 5110 / 250 + 1);  // not a frame per key
  for (std::size_t i = 2; i < term.at.size(); ++i) EXPECT_LE(term.at[i] - term.at[i - 1], 250);
  EXPECT_EQ(term.at.back(), idle + 511 * 10);
}

struct Ended {};

// The program ends while a request is out: its answer is read before the
// terminal goes back to the shell, which would take it for typed text.
TEST(ConsoleDrawing, EndReadsTheAnswerStillOnItsWay) {
  test::FakeTerminal term;
  InstallConsole(&term, {}, [](int, const std::string&) { throw Ended{}; });
  SetScreenSize(80, 25);
  FlushConsole();             // the first frame and its request
  term.Type("\x1b[?62;22c");  // answered: the terminal is paced
  term.Type("a");
  term.Pause(0);
  term.Type("b");
  term.Pause(0);
  term.Type("q");  // comes while the request after "b" is out
  term.Type("\x1b[?62;22c");
  term.Type("z");
  for (KeyCode key = WaitKey(); key != "q"; key = WaitKey()) PrintText(key);
  EXPECT_THROW(EndProgram(0), Ended);
  EXPECT_EQ(PollKey(), "z");
}

}  // namespace
}  // namespace q7t
