// Key decoder tests: every recorded terminal row of terminal-keys.tsv, Esc
// timing, replies, and robustness against arbitrary bytes.
#include "console/key_decoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace q7t {
namespace {

constexpr int kWait = KeyDecoder::kEscWaitMs;

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::string FromHex(const std::string& text) {
  std::istringstream in(text);
  std::string out, byte;
  while (in >> byte) out += static_cast<char>(std::stoi(byte, nullptr, 16));
  return out;
}

std::vector<std::string> TakeAll(KeyQueue& queue) {
  std::vector<std::string> keys;
  for (KeyCode k = queue.Pop(); !k.empty(); k = queue.Pop()) keys.push_back(Hex(k));
  return keys;
}

// Feeds `bytes` at once (gap 0) or one byte per read (gap ms apart, below the
// Esc wait), then lets the wait run out; `linux` tells the decoder it reads
// the Linux console.
std::vector<std::string> Decode(std::string_view bytes, int gap_ms = 0, bool linux = false) {
  KeyQueue queue;
  KeyDecoder decoder(queue);
  decoder.SetLinuxConsole(linux);
  for (unsigned char b : bytes) {
    decoder.Feed(b);
    decoder.Idle(gap_ms);
  }
  decoder.Idle(kWait + 10);
  return TakeAll(queue);
}

struct Row {
  std::string terminal, key, mods, bytes, pc_code, status;
  std::string Name() const { return terminal + " " + key + " " + mods + " [" + bytes + "]"; }
};

// The recorded keys of each terminal mode: bytes sent and the code expected.
const std::string kTablePath = std::string(Q7T_SOURCE_DIR) + "/tests/data/terminal-keys.tsv";

std::vector<Row> LoadRows() {
  std::ifstream in(kTablePath);
  std::vector<Row> rows;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Row row;
    std::getline(fields, row.terminal, '\t');
    std::getline(fields, row.key, '\t');
    std::getline(fields, row.mods, '\t');
    std::getline(fields, row.bytes, '\t');
    std::getline(fields, row.pc_code, '\t');
    std::getline(fields, row.status, '\t');
    rows.push_back(row);
  }
  return rows;
}

// Rows checked exactly: all but those whose status is not-distinguishable
// (no decoder can deliver them), whose bytes are "(none)" and whose code is
// "-" (the key code table has no entry). The Linux console's rows (keypad
// application mode included, where SS3 Q and SS3 S are keypad / and -, which
// every other terminal uses for F2 and F4) are read as from the Linux
// console. With the recorded table this checks 2115 rows, each fed whole and
// byte by byte.
bool Checked(const Row& row) {
  return row.status != "not-distinguishable" && row.bytes != "(none)" && row.pc_code != "-";
}
bool FromLinux(const Row& row) {
  return row.terminal == "linux" || row.terminal == "linux:app";
}

TEST(KeyDecoder, TerminalTableRows) {
  const std::vector<Row> rows = LoadRows();
  ASSERT_FALSE(rows.empty()) << "cannot read " << kTablePath;
  std::map<std::pair<std::string, std::string>, std::string> checked_codes;
  for (const Row& row : rows) {
    if (!Checked(row)) continue;
    const std::string bytes = FromHex(row.bytes);
    std::vector<std::string> want;
    if (row.pc_code != "(none)") want.push_back(row.pc_code);
    EXPECT_EQ(Decode(bytes, 0, FromLinux(row)), want) << row.Name() << " fed whole";
    EXPECT_EQ(Decode(bytes, kWait - 1, FromLinux(row)), want) << row.Name() << " fed byte by byte";
    checked_codes[{row.terminal, row.bytes}] = row.pc_code;
  }
  // Rows no decoder can deliver: the bytes give what the row they collide with
  // gives, or at least a well-formed code.
  for (const Row& row : rows) {
    if (row.status != "not-distinguishable" || row.bytes == "(none)") continue;
    const std::vector<std::string> got = Decode(FromHex(row.bytes), 0, FromLinux(row));
    ASSERT_LE(got.size(), 1u) << row.Name();
    auto twin = checked_codes.find({row.terminal, row.bytes});
    if (twin != checked_codes.end() && twin->second != "-") {
      EXPECT_EQ(got, std::vector<std::string>{twin->second}) << row.Name();
    } else if (!got.empty()) {
      EXPECT_TRUE(got[0].size() == 2 || got[0].rfind("FF ", 0) == 0) << row.Name() << " " << got[0];
    }
  }
}

// The keypad's application forms the table leaves out: on the Linux console
// SS3 l is + and SS3 R is * (SS3 P, Num Lock, delivers nothing), and with
// Num Lock on the digit keys are digits; elsewhere they are the keypad
// comma and F3.
TEST(KeyDecoder, LinuxApplicationKeypad) {
  using Keys = std::vector<std::string>;
  KeyQueue queue;
  KeyDecoder num_lock(queue);
  num_lock.SetLinuxConsole(true);
  num_lock.SetNumLock(true);
  for (char c : std::string_view("\x1bOy\x1bOp\x1bOn\x1bOl")) num_lock.Feed(c);
  EXPECT_EQ(TakeAll(queue), (Keys{"39", "30", "2E", "2B"}));
  EXPECT_EQ(Decode("\x1bOl\x1bOR\x1bOP\x1bOk", 0, true), (Keys{"2B", "2A", "2B"}));
  EXPECT_EQ(Decode("\x1bOl\x1bOR", kWait - 1, true), (Keys{"2B", "2A"}));
  EXPECT_EQ(Decode("\x1bOl\x1bOR\x1bOP"), (Keys{"2C", "FF 3D", "FF 3B"}));
}

TEST(KeyDecoder, EscTiming) {
  struct Step {
    std::string_view bytes;
    int idle_ms;
  };
  const struct {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::string> keys;
  } kCases[] = {
      {"lone Esc", {{"\x1b", kWait}}, {"1B"}},
      {"Esc waits the whole time", {{"\x1b", kWait - 1}}, {}},
      {"waits count from the last byte", {{"\x1b", kWait - 1}, {"", kWait - 1}}, {}},
      {"the wait runs out later", {{"\x1b", kWait - 1}, {"", kWait}}, {"1B"}},
      {"Esc then a key is Alt", {{"\x1b", kWait - 1}, {"a", kWait}}, {"FF 1E"}},
      {"Esc, wait, key", {{"\x1b", kWait}, {"a", 0}}, {"1B", "61"}},
      {"Esc Esc is Alt+Esc", {{"\x1b\x1b", kWait}}, {"FF 01"}},
      {"Esc twice, slowly", {{"\x1b", kWait}, {"\x1b", kWait}}, {"1B", "1B"}},
      {"Alt+Esc then a key", {{"\x1b\x1bq", 0}}, {"FF 01", "71"}},
      {"Alt+[", {{"\x1b[", kWait}}, {"FF 1A"}},
      {"Alt+Shift+O", {{"\x1bO", kWait}}, {"FF 18"}},
      {"Alt+[ cut by a control byte", {{"\x1b[\r", 0}}, {"FF 1A", "0D"}},
      {"CSI split across reads", {{"\x1b[", kWait - 1}, {"1;5", kWait - 1}, {"A", 0}}, {"FF 8D"}},
      {"cut-off CSI is dropped", {{"\x1b[1;5", kWait}, {"x", 0}}, {"78"}},
      {"cut-off UTF-8 is dropped", {{"\xc3", kWait}, {"x", 0}}, {"78"}},
  };
  for (const auto& c : kCases) {
    KeyQueue queue;
    KeyDecoder decoder(queue);
    for (const Step& step : c.steps) {
      for (unsigned char b : step.bytes) decoder.Feed(b);
      decoder.Idle(step.idle_ms);
    }
    EXPECT_EQ(TakeAll(queue), c.keys) << c.name;
  }
  KeyQueue queue;
  KeyDecoder decoder(queue);
  decoder.Feed(0x1B);
  EXPECT_TRUE(decoder.Pending());
  decoder.Idle(kWait);
  EXPECT_FALSE(decoder.Pending());
}

TEST(KeyDecoder, DropsWhatIsNoKey) {
  const std::string long_csi =
      "\x1b[" + std::string(10000, '7') + ";" + std::string(5000, ';') + "~";
  const struct {
    std::string bytes;
    std::vector<std::string> keys;
  } kCases[] = {
      {long_csi + "a", {"61"}},
      {"\x1b[99~a", {"61"}},                   // unknown number
      {"\x1b[1;5Xa", {"61"}},                  // unknown final
      {"\x1bOza", {"61"}},                     // unknown SS3
      {"\x1b[12;40Ra", {"61"}},                // cursor position report
      {"\x1b[M !!a", {"61"}},                  // X10 mouse report
      {"\x1b[<0;10;5Ma", {"61"}},              // SGR mouse report
      {"\x1b[>1;4000;29ca", {"61"}},           // secondary device attributes
      {"\x1b[57441;2ua", {"61"}},              // kitty: Left Shift alone
      {"\xc3\x41", {"41"}},                    // cut UTF-8 then a letter
      {"\xe0\x80\x80\xed\xa0\x80", {}},        // overlong, surrogate
      {"\xf4\x90\x80\x80\xff\x80", {}},        // above U+10FFFF, bytes UTF-8 never uses
      {"\xe2\x96\x91\xc2\xa3", {"B0", "9C"}},  // typed text in the CP437 set
      {"\xe2\x82\xac\xf0\x9f\x98\x80", {}},    // characters CP437 lacks
      {"\x00", {}},                            // Ctrl+Space carries no character
  };
  for (const auto& c : kCases) EXPECT_EQ(Decode(c.bytes), c.keys) << Hex(c.bytes);
}

TEST(KeyDecoder, TerminalReplies) {
  KeyQueue queue;
  KeyDecoder decoder(queue);
  int flags = -1;
  EXPECT_FALSE(decoder.TakeKittyReply(&flags));
  // Two attributes answers in one read are two answers (each confirms a frame).
  for (char b : std::string_view("\x1b[?5u\x1b[?62;22cq\x1b[?1;2c")) decoder.Feed(b);
  EXPECT_TRUE(decoder.TakeKittyReply(&flags));
  EXPECT_EQ(flags, 5);
  EXPECT_FALSE(decoder.TakeKittyReply(&flags));
  EXPECT_TRUE(decoder.TakeDeviceAttributes());
  EXPECT_TRUE(decoder.TakeDeviceAttributes());
  EXPECT_FALSE(decoder.TakeDeviceAttributes());
  EXPECT_EQ(TakeAll(queue), std::vector<std::string>{"71"});
}

TEST(KeyDecoder, KittySignalKeys) {
  const struct {
    std::string_view bytes;
    SignalKey want;
  } kCases[] = {
      {"\x1b[99;5u", SignalKey::kInterrupt},
      {"\x1b[122;5:2u", SignalKey::kSuspend},  // repeated
      {"\x1b[92;69u", SignalKey::kQuit},       // Caps Lock held
      {"x\x1b[122;5u\x1b[99;5u", SignalKey::kSuspend},
      {"\x1b[99;5:3u", SignalKey::kNone},  // released
      {"\x1b[99;7u", SignalKey::kNone},    // Ctrl+Alt
      {"\x1b[99u\x1b[3;5u", SignalKey::kNone},
      {"\x1b[27;5;99~", SignalKey::kNone},  // not a kitty sequence
  };
  for (const auto& c : kCases) {
    KeyQueue queue;
    KeyDecoder decoder(queue);
    for (unsigned char b : c.bytes) decoder.Feed(b);
    EXPECT_EQ(decoder.TakeSignalKey(), c.want) << Hex(c.bytes);
    EXPECT_EQ(decoder.TakeSignalKey(), SignalKey::kNone) << Hex(c.bytes);
  }
}

TEST(KeyDecoder, KittyAltComposeWithReleaseEvents) {
  // Alt down, keypad 6, keypad 5 (press and release), Alt up: 65 is 'A'.
  const std::string bytes =
      "\x1b[57443;3:1u\x1b[57405;131:1u\x1b[57405;131:3u"
      "\x1b[57404;131:1u\x1b[57404;131:3u\x1b[57443;131:3u";
  EXPECT_EQ(Decode(bytes), std::vector<std::string>{"41"});
  EXPECT_EQ(Decode("\x1b[57443;3:1u\x1b[57399;131:1u\x1b[57443;131:3u"),
            std::vector<std::string>{});
}

TEST(KeyDecoder, BurstsAndGarbage) {
  std::string burst;
  for (int i = 0; i < 600; ++i) burst += "\x1b[A";
  burst += "x";
  // The key queue keeps the newest 511.
  std::vector<std::string> newest(510, "FF 48");
  newest.push_back("78");
  EXPECT_EQ(Decode(burst), newest);

  std::mt19937 random(20240517);
  for (int length : {1, 17, 1000, 100000}) {
    KeyQueue queue;
    KeyDecoder decoder(queue);
    for (int i = 0; i < length; ++i) {
      // Bias towards the bytes that open and continue sequences.
      const unsigned pick = random() % 8;
      const std::uint8_t byte = pick == 0   ? 0x1B
                                : pick == 1 ? "[O;0123~u"[random() % 9]
                                            : static_cast<std::uint8_t>(random());
      decoder.Feed(byte);
      if (random() % 64 == 0) decoder.Idle(random() % (2 * kWait));
      for (KeyCode k = queue.Pop(); !k.empty(); k = queue.Pop()) {
        ASSERT_TRUE(k.size() == 1 || (k.size() == 2 && k[0] == '\xFF')) << Hex(k);
      }
    }
    decoder.Idle(kWait);
    EXPECT_FALSE(decoder.Pending()) << length;
  }
}

}  // namespace
}  // namespace q7t
