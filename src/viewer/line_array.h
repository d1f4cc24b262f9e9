// The line array: texts indexed from 1 up to a fixed upper bound (10000 for
// the log viewer), every element empty until set. Only the elements set so
// far take memory, so an array of a few short lines stays small.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace q7t {

inline constexpr std::int32_t kLineArrayBound = 10000;

class LineArray {
 public:
  explicit LineArray(std::int32_t upper_bound = kLineArrayBound)
      : upper_bound_(upper_bound < 0 ? 0 : upper_bound) {}

  std::int32_t UpperBound() const { return upper_bound_; }

  // Element n, 1 <= n <= UpperBound(); an element never set, or an index
  // outside the bounds, reads as the empty text.
  const std::string& At(std::int32_t n) const {
    if (n < 1 || n > static_cast<std::int32_t>(texts_.size())) return Empty();
    return texts_[n - 1];
  }

  // Stores `text` as element n; an index outside 1..UpperBound() is ignored.
  void Set(std::int32_t n, std::string text) {
    if (n < 1 || n > upper_bound_) return;
    if (n > static_cast<std::int32_t>(texts_.size())) texts_.resize(n);
    texts_[n - 1] = std::move(text);
  }

  // A new upper bound: elements above it are dropped with their texts.
  void Redim(std::int32_t upper_bound) {
    upper_bound_ = upper_bound < 0 ? 0 : upper_bound;
    if (static_cast<std::int32_t>(texts_.size()) > upper_bound_) texts_.resize(upper_bound_);
  }

  // Bytes held for the texts and the element table (what the array costs).
  std::size_t HeldBytes() const {
    std::size_t bytes = texts_.capacity() * sizeof(std::string);
    for (const std::string& text : texts_) {
      if (text.capacity() > std::string().capacity()) bytes += text.capacity() + 1;
    }
    return bytes;
  }

 private:
  static const std::string& Empty() {
    static const std::string empty;
    return empty;
  }

  std::int32_t upper_bound_;
  std::vector<std::string> texts_;  // elements 1..size(); the rest are empty
};

}  // namespace q7t
