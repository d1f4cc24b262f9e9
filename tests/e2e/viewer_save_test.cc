// Saving the log and viewing it, end to end on the virtual card: the file
// beside the program whatever the working directory, its bytes against the
// counter, the viewer's frame and colours, the viewer on other window sizes,
// and a save that cannot write its file.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "e2e/menu_screen.h"
#include "support/files.h"
#include "support/pty_harness.h"

namespace q7t::test {
namespace {

constexpr std::size_t kHeaderSize = 49;
constexpr std::size_t kLogBufferSize = 8192;
constexpr std::size_t kLogFileSize = kHeaderSize + 2 + kLogBufferSize;  // 8243
constexpr std::string_view kKeyHelp = "<Lf><Rg><Home><End> <Up><Dw><Pu><Pd><CtlPu><CtlPd> <ESC>";

// "Serial Line Log MM-DD-YYYY HH:MM:SS RdCnt=0/NNNNN": '#' stands for a digit.
bool IsLogHeader(const std::string& header) {
  constexpr std::string_view kShape = "Serial Line Log ##-##-#### ##:##:## RdCnt=0/#####";
  if (header.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < header.size(); ++i) {
    const bool digit = header[i] >= '0' && header[i] <= '9';
    if (kShape[i] == '#' && !digit) return false;
    if (kShape[i] != '#' && header[i] != kShape[i]) return false;
  }
  return true;
}

// Presses R until the read counter shows bytes from the built-in instrument.
bool CounterMoves(PtyProgram& program) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!program.Send("r")) return false;
    if (program.WaitFor(
            [](const VtermScreen& s) {
              return s.RowText(6).find(": 0/00000") == std::string::npos &&
                     s.RowText(6).find(": 0/") != std::string::npos;
            },
            200)) {
      return true;
    }
  }
  return false;
}

// S, then M and Enter: once the M prompt shows, the save has run to its end.
bool Save(PtyProgram& program) {
  return program.Send("s") && program.Send("m") &&
         program.WaitForText(kMenuCursorRow, kModePrompt) && program.Send("\r") &&
         program.WaitFor([](const VtermScreen& s) { return Trimmed(s, kMenuCursorRow).empty(); });
}

std::vector<std::string> ScreenRows(const VtermScreen& s) {
  std::vector<std::string> rows;
  for (int row = 1; row <= s.Rows(); ++row) rows.push_back(s.RowText(row));
  return rows;
}

TEST(ViewerSave, SavedLogBesideTheProgramFromAnyWorkingDirectory) {
  ScopedTempDir dir, elsewhere;
  PtyProgram::Options options = ProgramOptions(CopyProgram("q7tlog-sim", dir));
  options.cwd = elsewhere.path();
  PtyProgram program(options);
  ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
  ASSERT_TRUE(CounterMoves(program)) << program.ScreenDump();
  ASSERT_TRUE(Save(program)) << program.ScreenDump();

  EXPECT_FALSE(std::ifstream(elsewhere.File("SerLog.txt")).good());
  const std::string log = ReadWhole(dir.File("SerLog.txt"));
  ASSERT_EQ(log.size(), kLogFileSize);
  EXPECT_EQ(log.substr(kHeaderSize, 2), "\r\n");
  const std::string header = log.substr(0, kHeaderSize);
  ASSERT_TRUE(IsLogHeader(header)) << header;
  const std::string counted = header.substr(44, 5);
  // The save copied the write counter and held the card still while it read
  // the buffer: exactly that many bytes were stored, the rest is power-on zeros.
  const std::size_t count = std::stoul(counted);
  ASSERT_GT(count, 0u);
  ASSERT_LT(count, kLogBufferSize);
  const std::string data = log.substr(kHeaderSize + 2);
  EXPECT_EQ(data.find('\0'), count) << header;
  EXPECT_EQ(data.find_first_not_of('\0', count), std::string::npos) << header;
  // The menu after the save shows the same copied counter.
  EXPECT_NE(program.screen().RowText(6).find(": 0/" + counted), std::string::npos)
      << program.ScreenDump();
}

// S and V use the log folder the environment names.
TEST(ViewerSave, ViewerFrameColoursAndReturn) {
  ScopedTempDir dir, logs;
  PtyProgram::Options options = ProgramOptions(CopyProgram("q7tlog-sim", dir));
  options.env = {{"Q7TLOG_LOG_DIR", logs.path()}};
  PtyProgram program(options);
  ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
  ASSERT_TRUE(CounterMoves(program)) << program.ScreenDump();
  ASSERT_TRUE(Save(program)) << program.ScreenDump();
  const std::string header = ReadWhole(logs.File("SerLog.txt")).substr(0, kHeaderSize);
  ASSERT_TRUE(program.Send("v"));
  ASSERT_TRUE(program.WaitFor([](const VtermScreen& s) {
    return s.RowText(1).substr(3, 16) == "File: SerLog.txt" &&
           s.RowText(25).find("L:0001 P:001") != std::string::npos;
  })) << program.ScreenDump();
  const VtermScreen& s = program.screen();
  EXPECT_EQ(s.RowText(2).substr(2, kHeaderSize), header) << program.ScreenDump();
  EXPECT_EQ(s.RowText(1).substr(65, 2), "V:") << program.ScreenDump();
  EXPECT_EQ(s.RowText(25).substr(3, kKeyHelp.size()), kKeyHelp) << program.ScreenDump();
  // Frame grey on blue around a text window of columns 3..78, rows 2..24, on
  // black. The frame's letters are grey; the window's text is grey.
  for (int row = 1; row <= 25; ++row) {
    for (int col = 1; col <= 80; ++col) {
      const bool window = row >= 2 && row <= 24 && col >= 3 && col <= 78;
      ASSERT_EQ(s.CellBg(row, col), window ? 0 : 1) << "row " << row << " col " << col;
      if (s.CellChar(row, col) != U' ') {
        ASSERT_EQ(s.CellFg(row, col), 7) << "row " << row << " col " << col;
      }
    }
  }

  ASSERT_TRUE(program.Send("\x1b"));
  // Back at the menu, drawn in the colours the viewer left: grey on black.
  const auto menu = MenuWith("???", "0", s.RowText(2).substr(44, 7));
  ASSERT_TRUE(program.WaitFor(menu)) << program.ScreenDump();
  for (int row = 1; row <= 25; ++row) {
    for (int col = 1; col <= 80; ++col) {
      ASSERT_EQ(s.CellBg(row, col), 0) << "row " << row << " col " << col;
      if (s.CellChar(row, col) != U' ') {
        ASSERT_EQ(s.CellFg(row, col), 7) << "row " << row << " col " << col;
      }
    }
  }
}

TEST(ViewerSave, ViewerOnOtherWindowSizes) {
  ScopedTempDir dir;
  PtyProgram program(ProgramOptions(CopyProgram("q7tlog-sim", dir)));
  ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
  ASSERT_TRUE(Save(program)) << program.ScreenDump();
  ASSERT_TRUE(program.Send("v"));
  ASSERT_TRUE(program.WaitFor([](const VtermScreen& s) {
    return s.RowText(25).find("L:0001 P:001") != std::string::npos;
  })) << program.ScreenDump();
  const std::vector<std::string> whole = ScreenRows(program.screen());

  // What fits of the 80 x 25 picture, from the top-left corner, and nothing else.
  const struct { int rows, cols; } kSizes[] = {{20, 60}, {30, 100}, {25, 80}};
  for (const auto& size : kSizes) {
    program.Resize(size.rows, size.cols);
    program.Scribble();
    auto fits = [&](const VtermScreen& s) {
      for (int row = 1; row <= s.Rows(); ++row) {
        std::string want(static_cast<std::size_t>(s.Cols()), ' ');
        if (row <= 25) {
          const std::string& full = whole[static_cast<std::size_t>(row - 1)];
          want.replace(0, std::min<std::size_t>(full.size(), want.size()),
                       full.substr(0, want.size()));
        }
        if (s.RowText(row) != want) return false;
      }
      return true;
    };
    EXPECT_TRUE(program.WaitFor(fits)) << size.rows << "x" << size.cols << "\n"
                                       << program.ScreenDump();
    if (size.cols > 80) {
      // Outside the grid the terminal's own colours.
      EXPECT_EQ(program.screen().CellBg(1, 81), -1);
      EXPECT_EQ(program.screen().CellBg(26, 1), -1);
    }
  }
}

// The viewer on terminals that differ in what the program may send them
// (scrolling, repeats, how an erase colours a cell, the Linux console's
// bright colours): after every key the window shows the document from the
// position in the "L:" field, every cell in the frame's or the window's
// colours.
TEST(ViewerSave, ViewerKeysShowTheDocumentOnEveryTerminal) {
  std::vector<std::string> doc;
  std::uint32_t seed = 99;
  while (doc.size() < 120) {
    seed = seed * 1103515245u + 12345u;
    std::string line(20 + (seed >> 16) % 101, ' ');
    for (std::size_t i = 0; i < line.size(); ++i) {
      seed = seed * 1103515245u + 12345u;
      const unsigned k = (seed >> 16) % 32;
      line[i] = k < 26   ? static_cast<char>('a' + k)
                : k < 30 ? ' '
                         : static_cast<char>('0' + k - 30);
    }
    doc.push_back(line);
  }
  // The window's rows as the document's lines from `top`, column `col`.
  auto shows = [&doc](const VtermScreen& s, std::string* why) {
    const std::string status = s.RowText(25).substr(65, 12);
    int top = 0, col = 0;
    if (std::sscanf(status.c_str(), "L:%4d P:%3d", &top, &col) != 2) return false;
    for (int row = 2; row <= 24; ++row) {
      const std::size_t i = static_cast<std::size_t>(top - 1 + row - 2);
      std::string want = i < doc.size() && doc[i].size() > static_cast<std::size_t>(col - 1)
                             ? doc[i].substr(static_cast<std::size_t>(col - 1), 76)
                             : "";
      want.resize(76, ' ');
      if (s.RowText(row).substr(2, 76) != want) {
        *why = "row " + std::to_string(row) + " is not line " + std::to_string(i + 1);
        return false;
      }
    }
    for (int row = 1; row <= 25; ++row) {
      for (int c = 1; c <= 80; ++c) {
        const bool window = row >= 2 && row <= 24 && c >= 3 && c <= 78;
        if (s.CellBg(row, c) != (window ? 0 : 1) || s.CellFg(row, c) != 7) {
          *why = "colours at row " + std::to_string(row) + " col " + std::to_string(c);
          return false;
        }
      }
    }
    return true;
  };
  const struct {
    const char* name;
    const char* bytes;
  } kKeys[] = {{"Down", "\x1b[B"},  {"Down", "\x1b[B"},        {"PgDn", "\x1b[6~"},
               {"Up", "\x1b[A"},    {"Right", "\x1b[C"},       {"End", "\x1b[4~"},
               {"Down", "\x1b[B"},  {"Home", "\x1b[1~"},       {"Ctrl+PgDn", "\x1b[6;5~"},
               {"PgUp", "\x1b[5~"}, {"Ctrl+PgUp", "\x1b[5;5~"}};
  for (const char* term : {"xterm-256color", "linux", "tmux-256color", "vt220"}) {
    ScopedTempDir dir;
    {
      std::ofstream log(dir.File("SerLog.txt"), std::ios::binary);
      for (const std::string& line : doc) log << line << "\r\n";
    }
    PtyProgram::Options options = ProgramOptions(CopyProgram("q7tlog-sim", dir));
    options.term = term;
    options.linux_console_colours = std::string_view(term) == "linux";
    PtyProgram program(options);
    ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << term << "\n" << program.ScreenDump();
    std::string why;
    ASSERT_TRUE(program.Send("v"));
    ASSERT_TRUE(program.WaitFor([&](const VtermScreen& s) { return shows(s, &why); }))
        << term << ", first screen: " << why << "\n"
        << program.ScreenDump();
    for (const auto& key : kKeys) {
      const std::string before = program.screen().RowText(25);
      ASSERT_TRUE(program.Send(key.bytes));
      ASSERT_TRUE(program.WaitFor([&](const VtermScreen& s) {
        return s.RowText(25) != before && shows(s, &why);
      })) << term
          << ", after " << key.name << ": " << why << "\n"
          << program.ScreenDump();
    }
  }
}

// Makes `dir` unwritable for the program: run as nobody when the test runs as
// root (whom permissions do not stop), else by its mode; put back at the end
// so that the folder can be removed.
class ReadOnlyDir {
 public:
  explicit ReadOnlyDir(const ScopedTempDir& dir) : path_(dir.path()) { chmod(path_.c_str(), 0555); }
  ~ReadOnlyDir() { chmod(path_.c_str(), 0755); }
  ReadOnlyDir(const ReadOnlyDir&) = delete;
  ReadOnlyDir& operator=(const ReadOnlyDir&) = delete;

 private:
  std::string path_;
};

// The message line and its colours, then the key it waits for. (That the old
// log stays whole, whatever failed: card/save_faults_test.cc.)
TEST(ViewerSave, SaveThatCannotWriteSaysSoAndWaitsForAKey) {
  // The message bar is bright white on light red: on the Linux console too.
  for (const char* term : {"xterm-256color", "linux"}) {
    ScopedTempDir dir;
    PtyProgram::Options options = ProgramOptions(CopyProgram("q7tlog-sim", dir));
    options.term = term;
    options.linux_console_colours = std::string_view(term) == "linux";
    ReadOnlyDir read_only(dir);
    options.cwd = dir.path();
    options.drop_privileges = true;
    PtyProgram program(options);
    ASSERT_TRUE(program.WaitFor(ShowsFirstMenu)) << program.ScreenDump();
    ASSERT_TRUE(program.Send("s"));
    ASSERT_TRUE(program.WaitForText(24, "Save failed: ")) << program.ScreenDump();
    const VtermScreen& s = program.screen();
    EXPECT_NE(s.RowText(24).find(std::strerror(EACCES)), std::string::npos) << program.ScreenDump();
    EXPECT_EQ(s.RowText(24).substr(1, 14), " Save failed: ") << program.ScreenDump();
    for (int col = 2; col <= 79; ++col) {
      ASSERT_EQ(s.CellBg(24, col), 12) << term << " col " << col;
      if (s.CellChar(24, col) != U' ') {
        ASSERT_EQ(s.CellFg(24, col), 15) << term << " col " << col;
      }
    }
    ASSERT_TRUE(program.Send("x"));
    EXPECT_TRUE(program.WaitFor([](const VtermScreen& screen) {
      return ShowsMenu(screen, MenuRows("???", "0", screen.RowText(6).substr(28, 7)));
    })) << program.ScreenDump();
  }
}

}  // namespace
}  // namespace q7t::test
