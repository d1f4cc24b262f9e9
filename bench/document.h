// The fixed document the benchmarks page through: lines of 20 to 120
// printable bytes, words of letters, digits and punctuation, from a
// fixed-seed generator, so that every run measures the same screens.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace q7t::bench {

inline std::vector<std::string> GeneratedLines(int count) {
  std::vector<std::string> lines;
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7FFF;
  };
  for (int i = 0; i < count; ++i) {
    std::size_t len = 20 + next() % 101;
    std::string line;
    while (line.size() < len) {
      if (!line.empty()) line.push_back(' ');
      for (int w = 1 + next() % 9; w > 0 && line.size() < len; --w) {
        int k = next() % 40;
        line.push_back(static_cast<char>(k < 26   ? 'a' + k
                                         : k < 36 ? '0' + (k - 26)
                                                  : ".,:-"[k - 36]));
      }
    }
    line.resize(len);
    if (line.back() == ' ') line.back() = '.';
    lines.push_back(line);
  }
  return lines;
}

}  // namespace q7t::bench
