// The built-in instrument's text and pacing, driven with made-up times.
#include "sim/instrument.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/sim_card.h"

namespace q7t {
namespace {

constexpr std::int64_t kMs = 1'000'000;

bool PrintableLine(const std::string& line) {
  if (line.size() < 2 || line.substr(line.size() - 2) != "\r\n") return false;
  for (std::size_t k = 0; k + 2 < line.size(); ++k) {
    if (line[k] < 0x20 || line[k] > 0x7E) return false;
  }
  return true;
}

// The running number a line holds: the digits before its first colon.
std::uint64_t NumberIn(const std::string& line) {
  const std::size_t colon = line.find(':');
  std::size_t start = colon;
  while (start > 0 && line[start - 1] >= '0' && line[start - 1] <= '9') --start;
  return colon == std::string::npos || start == colon
             ? 0
             : std::stoull(line.substr(start, colon - start));
}

TEST(Instrument, LinesArePrintableNumberedFromOne) {
  for (std::uint64_t n : {1ull, 2ull, 999999ull, 1234567ull}) {
    EXPECT_TRUE(PrintableLine(Instrument::LineText(n))) << n;
    EXPECT_EQ(NumberIn(Instrument::LineText(n)), n);
  }

  Instrument instrument;
  const std::string sent = instrument.Advance(1200 * kMs, 1085);  // 115200 bit/s
  EXPECT_EQ(sent, Instrument::LineText(1) + Instrument::LineText(2) + Instrument::LineText(3));
}

TEST(Instrument, NeverFasterThanTheLineRate) {
  // At 9600 bit/s a byte takes 10 x 13021 x 8 ns = 1.04168 ms.
  constexpr int kDivisor = 13021;
  constexpr std::int64_t kByteNs = 80LL * kDivisor;
  const std::string line = Instrument::LineText(1);
  Instrument instrument;
  EXPECT_EQ(instrument.Advance(kByteNs - 1, kDivisor), "");
  EXPECT_EQ(instrument.NextDueNs(kDivisor), kByteNs);
  EXPECT_EQ(instrument.Advance(kByteNs, kDivisor), line.substr(0, 1));
  EXPECT_EQ(instrument.Advance(10 * kByteNs + kByteNs / 2, kDivisor), line.substr(1, 9));
  const std::int64_t line_end = static_cast<std::int64_t>(line.size()) * kByteNs;
  EXPECT_EQ(instrument.Advance(line_end, kDivisor), line.substr(10));
  // Then quiet until the next half second.
  EXPECT_EQ(instrument.Advance(500 * kMs, kDivisor), "");
  EXPECT_EQ(instrument.Advance(500 * kMs + kByteNs, kDivisor), "Q");
}

TEST(Instrument, LineLongerThanThePeriodDelaysTheNext) {
  // 8 ms a byte: a line of 72 bytes takes 576 ms, longer than the half second.
  constexpr int kDivisor = 100000;
  constexpr std::int64_t kByteNs = 80LL * kDivisor;
  const auto len = static_cast<std::int64_t>(Instrument::LineText(1).size());
  Instrument instrument;
  std::string sent;
  for (std::int64_t t = 0; t <= 3000 * kMs; t += 7 * kMs) {
    sent += instrument.Advance(t, kDivisor);
    EXPECT_LE(static_cast<std::int64_t>(sent.size()), t / kByteNs) << "at " << t;
  }
  sent += instrument.Advance(3000 * kMs, kDivisor);
  // Back to back: no pause between lines, the number goes on.
  EXPECT_EQ(sent.size(), static_cast<std::size_t>(3000 * kMs / kByteNs));
  EXPECT_EQ(sent.substr(len, len), Instrument::LineText(2));
}

TEST(Instrument, SimCardWithoutArgumentsReceivesFromTheInstrument) {
  std::string error;
  auto sim = StartSimCard("", true, &error);
  ASSERT_TRUE(sim) << error;
  EXPECT_EQ(sim->device(), nullptr);
  // Destroying it stops the instrument's thread (the test would hang otherwise).
}

}  // namespace
}  // namespace q7t
