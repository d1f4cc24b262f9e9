// The virtual card as the tool sees it through its ports, and its receiving.
#include "sim/virtual_card.h"

#include <gtest/gtest.h>

#include <string>

namespace q7t {
namespace {

constexpr std::uint16_t kData = 0x350;
constexpr std::uint16_t kIndex = 0x351;

void Write(VirtualCard& card, int index, int value) {
  card.Out(kIndex, index);
  card.Out(kData, value);
}
int Read(VirtualCard& card, int index) {
  card.Out(kIndex, index);
  return card.In(kData);
}
int ReadCounter(VirtualCard& card) {
  return Read(card, 0x39) * 256 + Read(card, 0x38);
}
// Command 0x01, then the whole read-out, as the log save does it.
std::string ReadOut(VirtualCard& card) {
  Write(card, 0x3B, 0x01);
  card.Out(kIndex, 0x3B);
  std::string out;
  for (int k = 0; k < VirtualCard::kBufferSize; ++k)
    out.push_back(static_cast<char>(card.In(kData)));
  return out;
}

TEST(VirtualCard, PowerOnState) {
  VirtualCard card;
  EXPECT_EQ(card.In(kIndex), 0x00);
  EXPECT_EQ(Read(card, 0x3A), 0x00);
  EXPECT_EQ(ReadCounter(card), 0);
  EXPECT_EQ(ReadOut(card), std::string(8192, '\0'));
}

TEST(VirtualCard, RegistersAndPorts) {
  VirtualCard card;
  constexpr int kUnknown[] = {0x00, 0x37, 0x3C, 0xFF};
  for (int index : kUnknown) {
    Write(card, index, 0x55);  // ignored
    EXPECT_EQ(Read(card, index), 0xFF) << "index " << index;
    EXPECT_EQ(card.In(kIndex), index) << "index " << index;
  }
  Write(card, 0x3A, 0x1A5);  // only the low byte counts
  EXPECT_EQ(Read(card, 0x3A), 0xA5);
  card.Out(kIndex, 0x13A);
  EXPECT_EQ(card.In(kIndex), 0x3A);
  Write(card, 0x38, 0x3D);
  Write(card, 0x39, 0x04);
  EXPECT_EQ(card.Divisor(), 1085);
  EXPECT_EQ(ReadCounter(card), 0);  // divisor writes do not reach the read counter
  EXPECT_EQ(card.In(0x352), 0xFF);  // not one of the card's ports
}

TEST(VirtualCard, ReadCounterChangesOnlyByCopy) {
  VirtualCard card;
  card.Receive("abc");
  EXPECT_EQ(ReadCounter(card), 0);
  Write(card, 0x3B, 0x01);
  EXPECT_EQ(ReadCounter(card), 3);
  card.Receive("de");
  Write(card, 0x3B, 0x07);  // not a command
  EXPECT_EQ(ReadCounter(card), 3);
  EXPECT_EQ(ReadOut(card).substr(0, 6), std::string("abcde\0", 6));
}

TEST(VirtualCard, WrapSetsTheFlagAndReadOutStartsAtTheOldestByte) {
  VirtualCard card;
  std::string first(8190, 'a');
  card.Receive(first);
  card.Receive("XYZW");  // 8191 and 8192 fill the buffer, Z and W wrap to 0 and 1
  Write(card, 0x3B, 0x01);
  EXPECT_EQ(ReadCounter(card), 0x8000 | 8194);
  const VirtualCard::State s = card.Snapshot();
  EXPECT_EQ(s.write_pos, 2);
  const std::string out = ReadOut(card);
  EXPECT_EQ(out.substr(0, 8188), std::string(8188, 'a'));
  EXPECT_EQ(out.substr(8188), "XYZW");
  // Reading on past the end goes round from 8191 to 0.
  EXPECT_EQ(card.In(kData), 'a');
}

TEST(VirtualCard, CountWrapsAndResetKeepsTheBytes) {
  VirtualCard card;
  card.Receive(std::string(32767, 'c'));
  Write(card, 0x3B, 0x01);
  EXPECT_EQ(ReadCounter(card), 0x8000 | 32767);
  card.Receive("d");
  Write(card, 0x3B, 0x01);
  EXPECT_EQ(ReadCounter(card), 0x8000);  // count 0, flag stays
  Write(card, 0x3B, 0x02);
  Write(card, 0x3B, 0x01);
  EXPECT_EQ(ReadCounter(card), 0);
  EXPECT_EQ(card.Snapshot().write_pos, 0);
  const std::string out = ReadOut(card);  // flag clear: from position 0
  EXPECT_EQ(out.substr(8190), "cd");
  card.Receive("e");
  EXPECT_EQ(ReadOut(card)[0], 'e');
}

TEST(VirtualCard, HoldKeepsArrivalsUntilTheBitClears) {
  VirtualCard card;
  card.Receive("12");
  Write(card, 0x3A, 0x15);
  card.Receive("34");
  card.Receive("5");
  EXPECT_EQ(ReadOut(card).substr(0, 3), std::string("12\0", 3));
  Write(card, 0x3A, 0x05);  // other bits may stay; 0x10 clear releases
  card.Receive("6");
  Write(card, 0x3B, 0x01);
  EXPECT_EQ(ReadCounter(card), 6);
  EXPECT_EQ(ReadOut(card).substr(0, 6), "123456");
}

TEST(VirtualCard, LongHoldCountsEveryByteAndKeepsTheLastBuffer) {
  VirtualCard card;
  Write(card, 0x3A, 0x10);
  std::string bytes;
  for (int k = 0; k < 3 * 8192 + 5; ++k) bytes.push_back(static_cast<char>('A' + k % 26));
  for (std::size_t k = 0; k < bytes.size(); k += 1000) card.Receive(bytes.substr(k, 1000));
  Write(card, 0x3A, 0x00);

  VirtualCard plain;  // the same bytes without a hold
  plain.Receive(bytes);
  Write(card, 0x3B, 0x01);
  Write(plain, 0x3B, 0x01);
  EXPECT_EQ(ReadCounter(card), ReadCounter(plain));
  EXPECT_EQ(card.Snapshot().write_pos, plain.Snapshot().write_pos);
  EXPECT_EQ(ReadOut(card), ReadOut(plain));
}

TEST(VirtualCard, DivisorZeroDropsArrivals) {
  VirtualCard card;
  Write(card, 0x38, 0x00);
  Write(card, 0x39, 0x00);
  card.Receive("lost");
  Write(card, 0x3A, 0x10);
  card.Receive("lost too");
  Write(card, 0x3A, 0x00);
  Write(card, 0x38, 0xDD);
  Write(card, 0x39, 0x32);
  card.Receive("kept");
  Write(card, 0x3B, 0x01);
  EXPECT_EQ(ReadCounter(card), 4);
  EXPECT_EQ(ReadOut(card).substr(0, 4), "kept");
}

}  // namespace
}  // namespace q7t
