// Log file loading: the text reader's byte rules on bytes in memory (fed in
// chunks of several sizes, so no rule depends on where a read ends), the
// line limit, memory, and the existence test and V command on real files.
#include "viewer/load.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "viewer/viewer_testing.h"

namespace q7t {
namespace {

namespace fs = std::filesystem;
using test::FakeTerminal;
using Lines = std::vector<std::string>;

Lines Load(std::string_view bytes, std::size_t chunk) {
  MemoryByteSource source(bytes, chunk);
  LineArray array;
  std::int32_t count = LoadLines(source, array);
  Lines lines;
  for (std::int32_t n = 1; n <= count; ++n) lines.push_back(array.At(n));
  return lines;
}

std::string X(std::size_t n, char c = 'x') {
  return std::string(n, c);
}

// A saved log's header line and CR LF, then the data bytes.
std::string SavedLog(char data) {
  return "Serial Line Log 01-02-2024 10:11:12 RdCnt=0/00000\r\n" + X(8192, data);
}
const std::string kHeader = "Serial Line Log 01-02-2024 10:11:12 RdCnt=0/00000";

TEST(LoadLines, ByteRules) {
  using namespace std::string_literals;
  struct Case {
    const char* name;
    std::string bytes;
    Lines lines;
  } const kCases[] = {
      {"empty", "", {}},
      {"0x1A first",
       "\x1a"
       "AB\n",
       {}},
      {"CR LF ends a line", "AB\r\nC", {"AB", "C"}},
      {"lone CR stays inside", "A\rB\n", {"A\rB"}},
      {"0x1A ends the content",
       "A\x1a"
       "B\r\n",
       {"A"}},
      {"trailing spaces and zeros go, leading stay", "A  \0\n B"s, {"A", " B"}},
      {"zero inside stays", "A\0B\n"s, {"A\0B"s}},
      {"tab before trailing space stays", "A \t \n", {"A \t"}},
      {"only blanks and zeros", "  \0 \n"s, {""}},
      {"last LF ends no further line", "A\n", {"A"}},
      {"empty lines", "\n\nA\n\n", {"", "", "A", ""}},
      {"CR at the very end", "A\r", {"A"}},
      {"CR before 0x1A",
       "A\r\x1a"
       "B",
       {"A"}},
      {"CR CR LF", "A\r\r\nB", {"A", "B"}},
      {"LF CR LF", "A\n\r\nB", {"A", "", "B"}},
      {"bytes 0x7F to 0xFF kept", "\x7f\x80\xf8\xff\n", {"\x7f\x80\xf8\xff"}},
      {"600 bytes, one line", X(600) + "\n", {X(600)}},
      {"CR as the 511th byte ends the line", X(510) + "\rabcde\n", {X(510), "abcde"}},
      {"CR then zeros at the 511th byte", X(509) + "\r\0abc\n"s, {X(509), "abc"}},
      {"CR inside a piece stays",
       X(400) + "\r" + X(100, 'y') + "\n",
       {X(400) + "\r" + X(100, 'y')}},
      {"511 bytes then CR LF", X(511) + "\r\n" + "z", {X(511), "z"}},
      {"510 bytes then CR LF", X(510) + "\r\n" + "z", {X(510), "z"}},
      {"a piece of zeros only", X(511, '\0') + "A\n", {"A"}},
      {"saved log of zeros", SavedLog('\0'), {kHeader, ""}},
      {"saved log of 0xF8", SavedLog('\xf8'), {kHeader, X(8192, '\xf8')}},
      {"saved log cut at 0x1A",
       SavedLog('a').replace(4000, 1, "\x1a"),
       {kHeader, X(4000 - kHeader.size() - 2, 'a')}},
  };
  for (const Case& c : kCases) {
    for (std::size_t chunk : {1, 2, 3, 7, 512, 65536}) {
      EXPECT_EQ(Load(c.bytes, chunk), c.lines) << c.name << ", reads of " << chunk;
    }
  }
}

// Hands out its parts one read each; -1 stands for a read error.
class ScriptedSource : public ByteSource {
 public:
  explicit ScriptedSource(std::vector<std::string> parts) : parts_(std::move(parts)) {}
  long Read(char* buf, std::size_t n) override {
    if (next_ == parts_.size()) return 0;
    const std::string& part = parts_[next_++];
    if (part == "-1") return -1;
    std::size_t take = std::min(n, part.size());
    part.copy(buf, take);
    return static_cast<long>(take);
  }
  std::size_t reads() const { return next_; }

 private:
  std::vector<std::string> parts_;
  std::size_t next_ = 0;
};

TEST(LoadLines, ReadErrorEndsTheContent) {
  struct Case {
    const char* name;
    std::vector<std::string> parts;
    Lines lines;
  } const kCases[] = {
      {"at the start", {"-1", "AB\n"}, {}},
      {"inside a line", {"AB", "-1", "CD\n"}, {"AB"}},
      {"after a line", {"AB\nC", "-1"}, {"AB", "C"}},
      {"after a CR", {"AB\r", "-1", "\n"}, {"AB"}},
  };
  for (const Case& c : kCases) {
    ScriptedSource source(c.parts);
    LineArray array;
    std::int32_t count = LoadLines(source, array);
    Lines lines;
    for (std::int32_t n = 1; n <= count; ++n) lines.push_back(array.At(n));
    EXPECT_EQ(lines, c.lines) << c.name;
    std::size_t error_at = std::find(c.parts.begin(), c.parts.end(), "-1") - c.parts.begin();
    EXPECT_EQ(source.reads(), error_at + 1) << c.name << ": read on after the error";
  }
}

TEST(LoadLines, StopsAtTheUpperBound) {
  std::string bytes = X(10001, '\n') + "tail\n";
  MemoryByteSource source(bytes);
  LineArray array;
  EXPECT_EQ(LoadLines(source, array), 10000);
  for (std::int32_t n = 1; n <= 10000; ++n) ASSERT_EQ(array.At(n), "") << n;

  std::string numbered;
  for (int i = 1; i <= 12000; ++i) numbered += std::to_string(i) + "\r\n";
  MemoryByteSource more(numbered);
  LineArray lines;
  EXPECT_EQ(LoadLines(more, lines), 10000);
  EXPECT_EQ(lines.At(10000), "10000");
}

TEST(LoadLines, MemoryStaysNearWhatIsStored) {
  const std::string one_line = X(10 * 1024 * 1024, 'q');
  MemoryByteSource source(one_line);
  LineArray array;
  ASSERT_EQ(LoadLines(source, array), 1);
  EXPECT_EQ(array.At(1).size(), one_line.size());
  EXPECT_LT(array.HeldBytes(), 2 * one_line.size());

  // A line that trims away gives its memory back.
  const std::string blanks = X(10 * 1024 * 1024, ' ') + "\n" + X(1000, '\0');
  MemoryByteSource blank_source(blanks);
  LineArray blank_array;
  ASSERT_EQ(LoadLines(blank_source, blank_array), 2);
  EXPECT_LT(blank_array.HeldBytes(), 4096u);

  // Only the lines read take room in the array.
  EXPECT_LT(LineArray().HeldBytes(), 64u);
}

class LoadFileTest : public test::ConsoleTest {
 protected:
  void SetUp() override {
    test::ConsoleTest::SetUp();
    char templ[] = "/tmp/q7t_viewer_XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
    old_cwd_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    fs::remove_all(dir_);
    test::ConsoleTest::TearDown();
  }
  void Write(const std::string& name, std::string_view bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }
  // Runs the V command; true when it returned without waiting for a key.
  bool View(const std::string& name) {
    try {
      ViewTxtFile(name);
      return true;
    } catch (const FakeTerminal::NoMoreInput&) {
      return false;
    }
  }
  fs::path dir_;
  fs::path old_cwd_;
};

TEST_F(LoadFileTest, FileExistsOnRegularFilesOnly) {
  EXPECT_FALSE(FileExists("SerLog.txt")) << "no file";
  fs::create_directory(dir_ / "SerLog.txt");
  EXPECT_FALSE(FileExists("SerLog.txt")) << "a directory";
  fs::remove(dir_ / "SerLog.txt");
  ASSERT_EQ(mkfifo((dir_ / "SerLog.txt").c_str(), 0600), 0);
  EXPECT_FALSE(FileExists("SerLog.txt")) << "a FIFO";
  EXPECT_TRUE(View("SerLog.txt")) << "a FIFO is passed over, never opened";
  fs::remove(dir_ / "SerLog.txt");

  Write("SERLOG.TXT", "upper\n");
  EXPECT_TRUE(FileExists("SerLog.txt")) << "letter case aside";
  EXPECT_TRUE(FileExists((dir_ / "serlog.txt").string())) << "with a directory part";
  EXPECT_FALSE(FileExists("SerLog.tx")) << "a shorter name";
  EXPECT_FALSE(FileExists(dir_.string() + "/")) << "no last component";
  fs::create_symlink(dir_ / "SERLOG.TXT", dir_ / "link.txt");
  EXPECT_TRUE(FileExists("link.txt")) << "a link to a regular file";
  EXPECT_FALSE(FileExists("missing/SerLog.txt")) << "a missing directory";
}

TEST_F(LoadFileTest, ShowsTheFileFound) {
  Write("SERLOG.TXT", "upper case\r\nsecond\r\n");
  EXPECT_FALSE(View("SerLog.txt"));
  EXPECT_EQ(Text(1, 4, 19), "File: SerLog.txt") << "the title keeps the name as given";
  EXPECT_EQ(Text(1, 66, 77), "V:0002 H:010");
  EXPECT_EQ(Text(2, 3, 12), "upper case");
  EXPECT_EQ(Text(3, 3, 8), "second");

  Write("SerLog.txt", "exact\n");
  Restart();
  EXPECT_FALSE(View("serlog.txt")) << "neither matches exactly: one of them is shown";
  EXPECT_TRUE(Text(2, 3, 7) == "exact" || Text(2, 3, 12) == "upper case");
  Restart();
  EXPECT_FALSE(View("SerLog.txt"));
  EXPECT_EQ(Text(2, 3, 7), "exact") << "the exact name wins";
  EXPECT_EQ(Text(1, 66, 77), "V:0001 H:005");
}

TEST_F(LoadFileTest, NothingToShowDrawsNothing) {
  const Grid before = ConsoleScreen().grid();
  EXPECT_TRUE(View("SerLog.txt")) << "missing";
  Write("SerLog.txt", "");
  EXPECT_TRUE(View("SerLog.txt")) << "0 bytes";
  Write("SerLog.txt",
        "\x1a"
        "hidden\n");
  EXPECT_TRUE(View("SerLog.txt")) << "0x1A first";
  if (geteuid() != 0) {  // root reads whatever the mode bits say
    Write("SerLog.txt", "locked\n");
    fs::permissions(dir_ / "SerLog.txt", fs::perms::none);
    EXPECT_TRUE(View("SerLog.txt")) << "cannot be opened";
  }
  EXPECT_EQ(ConsoleScreen().grid(), before);
}

TEST_F(LoadFileTest, BinaryAndOversizedFiles) {
  std::string binary;
  for (int i = 0; i < 8192; ++i) binary.push_back(static_cast<char>(i * 7 % 256));
  Write("SerLog.txt", binary);
  EXPECT_FALSE(View("SerLog.txt"));

  Restart();
  Write("SerLog.txt", X(10 * 1024 * 1024, 'w'));
  EXPECT_FALSE(View("SerLog.txt"));
  EXPECT_EQ(Text(1, 66, 77), "V:0001 H:EEE");

  Restart();
  Write("SerLog.txt", X(20000, '\n'));
  EXPECT_FALSE(View("SerLog.txt"));
  EXPECT_EQ(Text(1, 66, 77), "V:EEEE H:000");
}

}  // namespace
}  // namespace q7t
