// Cells and rows compared as the renderer needs it: whole cells as numbers,
// two at a time, eight at a time where the compiler vectorises.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "console/grid.h"

namespace q7t::paint {

inline Attr NormalAttr(Attr a) {
  return a > 0xFF ? kTermDefaultAttr : a;
}
inline bool IsBlank(const Cell& c) {
  return c.ch == ' ';
}

// Where the run of blanks in one colour pair that starts at column `c`
// (0-based, a blank) ends: the first column after it, at most `end`.
inline int BlankRunEnd(const Cell* row, int c, int end) {
  int q = c + 1;
  while (q < end && IsBlank(row[q]) && row[q].attr == row[c].attr) ++q;
  return q;
}

// A cell an erase (ECH, EL, ED, a scroll, DCH, ICH) left blank in colours
// the terminal may not show exactly there: its background is right, its
// foreground perhaps not, so it never counts as showing a wanted cell and is
// written again.
inline constexpr Attr kErasedFlag = 0x200;

// The background a cell shows: a PC colour number, or -1 for the terminal's own.
inline int Background(Attr a) {
  a &= static_cast<Attr>(~kErasedFlag);
  return a == kTermDefaultAttr ? -1 : a >> 4;
}

// A cell's byte and colours as one number (its padding masked off), so that
// loops over rows compare and hash whole cells and vectorise.
static_assert(sizeof(Cell) == 4 && offsetof(Cell, ch) == 0 && offsetof(Cell, attr) == 2);
inline std::uint32_t Packed(const Cell& c) {
  std::uint32_t raw;
  std::memcpy(&raw, &c, sizeof raw);
  return raw & 0xFFFF00FFu;
}
inline bool Same(const Cell& a, const Cell& b) {
  return Packed(a) == Packed(b);
}

// Two cells at once, their padding masked off: a difference in either half
// of the result means that cell differs.
inline constexpr std::uint64_t kPairMask = 0xFFFF00FFFFFF00FFull;
inline std::uint64_t PairDiff(const Cell* a, const Cell* b) {
  std::uint64_t x, y;
  std::memcpy(&x, a, sizeof x);
  std::memcpy(&y, b, sizeof y);
  return (x ^ y) & kPairMask;
}
// The half of a PairDiff for the first cell, and for the second.
inline constexpr bool kLittleEndian = std::endian::native == std::endian::little;
inline std::uint32_t FirstOfPair(std::uint64_t d) {
  return static_cast<std::uint32_t>(kLittleEndian ? d : d >> 32);
}
inline std::uint32_t SecondOfPair(std::uint64_t d) {
  return static_cast<std::uint32_t>(kLittleEndian ? d >> 32 : d);
}

// The first column from c (0-based, below n) where the rows differ, or n.
inline int NextDiff(const Cell* s, const Cell* w, int c, int n) {
  for (; c + 2 <= n; c += 2) {
    const std::uint64_t d = PairDiff(s + c, w + c);
    if (d != 0) return FirstOfPair(d) != 0 ? c : c + 1;
  }
  return c < n && !Same(s[c], w[c]) ? c : n;
}

// The first column from c where the rows are the same, or n.
inline int NextSame(const Cell* s, const Cell* w, int c, int n) {
  for (; c + 2 <= n; c += 2) {
    const std::uint64_t d = PairDiff(s + c, w + c);
    if (FirstOfPair(d) == 0) return c;
    if (SecondOfPair(d) == 0) return c + 1;
  }
  return c < n && Same(s[c], w[c]) ? c : n;
}

// Whether two rows hold the same cells: two at a time.
inline bool RowsSame(const Cell* a, const Cell* b, int cols) {
  std::uint64_t diff = 0;
  int c = 0;
  for (; c + 2 <= cols; c += 2) diff |= PairDiff(a + c, b + c);
  return diff == 0 && (c == cols || Same(a[c], b[c]));
}

// How many cells of a row differ that are not blanks where wanted (each
// costs a byte at least); -1 when the rows are the same.
inline int ChangedText(const Cell* shown, const Cell* want, int cols) {
  // Eight cells at a time, in a loop of fixed length the compiler vectorises.
  constexpr int kChunk = 8;
  std::uint32_t changed = 0, text = 0;
  int c = 0;
  for (; c + kChunk <= cols; c += kChunk) {
    std::uint32_t a[kChunk], b[kChunk];
    std::memcpy(a, shown + c, sizeof a);
    std::memcpy(b, want + c, sizeof b);
    for (int i = 0; i < kChunk; ++i) {
      const std::uint32_t diff = ((a[i] ^ b[i]) & 0xFFFF00FFu) != 0;
      changed += diff;
      text += diff & ((b[i] & 0xFFu) != ' ');
    }
  }
  for (; c < cols; ++c) {
    const std::uint32_t diff = Packed(shown[c]) != Packed(want[c]);
    changed += diff;
    text += diff & !IsBlank(want[c]);
  }
  return changed > 0 ? static_cast<int>(text) : -1;
}

}  // namespace q7t::paint
