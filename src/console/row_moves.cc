// Row fingerprints, and the search for rows that moved up, down or sideways.
#include "console/row_moves.h"

#include <algorithm>

namespace q7t::paint {

std::uint64_t HashCells(const Cell* row, int cols) {
  std::uint32_t a = 0, b = 0;
  for (int c = 0; c < cols; ++c) {
    std::uint32_t v = Packed(row[c]) + 1;
    std::uint32_t k = static_cast<std::uint32_t>(c) * 2654435761u;
    a += v * (k | 1);
    b += (v ^ k) * 0x2545F491u;
  }
  return static_cast<std::uint64_t>(a) << 32 | b;
}

int FindRowShifts(const View& v, const std::vector<std::uint64_t>& shown,
                  const std::vector<std::uint64_t>& want, RowShift* best, int max_found) {
  int found = 0;
  int scores[8] = {};
  const int h = v.rows;
  for (int k = 1 - h; k < h; ++k) {
    if (k == 0) continue;
    for (int i = std::max(1, 1 - k); i <= std::min(h, h - k);) {
      if (want[i] != shown[i + k]) {
        ++i;
        continue;
      }
      int first = i, fixed = 0;
      for (; i <= std::min(h, h - k) && want[i] == shown[i + k]; ++i) fixed += want[i] != shown[i];
      int last = i - 1;
      RowShift s = k > 0 ? RowShift{first, last + k, k} : RowShift{first + k, last, k};
      int lost = 0;
      for (int r = (k > 0 ? last + 1 : first + k); r <= (k > 0 ? last + k : first - 1); ++r) {
        lost += want[r] == shown[r];
      }
      int score = fixed - lost;
      if (fixed < 2 || score < 1) continue;
      int pos = found;
      while (pos > 0 && scores[pos - 1] < score) --pos;
      if (pos >= max_found) continue;
      found = std::min(found + 1, max_found);
      for (int j = found - 1; j > pos; --j) best[j] = best[j - 1], scores[j] = scores[j - 1];
      best[pos] = s;
      scores[pos] = score;
    }
  }
  return found;
}

void ScrollRows(const View& v, const RowShift& s, Attr fill, Term& t, std::string& out) {
  Sgr(v, t, fill, &out);
  const bool whole = s.top == 1 && s.bottom == v.caps.rows;
  if (!whole) {
    out += "\x1b[";
    AppendNum(out, s.top);
    out.push_back(';');
    AppendNum(out, s.bottom);
    out.push_back('r');
    t.row = t.col = 1;
    t.wrap_pending = false;
  }
  const int n = s.by > 0 ? s.by : -s.by;
  if (v.caps.scroll_sequences) {
    AppendCsiN(out, n, s.by > 0 ? 'S' : 'T');
    if (t.wrap_pending) t.col = 0;
  } else {
    Move(t, v, s.top, 1, false, &out);
    AppendCsiN(out, n, s.by > 0 ? 'M' : 'L');
  }
  if (!whole) {
    out += "\x1b[r";
    t.row = t.col = 1;
  }
  t.wrap_pending = false;
}

void ShiftRowCells(const View& v, const ColShift& s, Attr fill, Cell* row) {
  const int cols = v.cols;
  const Cell blank = v.ErasedCell(fill);
  if (s.by > 0) {
    for (int c = s.col; c <= cols; ++c) row[c - 1] = c + s.by <= cols ? row[c - 1 + s.by] : blank;
  } else {
    for (int c = cols; c >= s.col; --c) row[c - 1] = c + s.by >= s.col ? row[c - 1 + s.by] : blank;
  }
}

int FirstDiff(int cols, const Cell* shown, const Cell* want) {
  for (int c = 1; c <= cols; ++c) {
    if (!Same(shown[c - 1], want[c - 1])) return c;
  }
  return 0;
}

int FindColumnShift(const View& v, const Grid& shown, const Grid& want, std::vector<int>& votes) {
  constexpr int kProbe = 6, kRowsForAVote = 6;
  votes.assign(2 * v.cols + 1, 0);
  int best = 0, best_votes = 1, probed = 0;
  for (int r = 1; r <= v.rows; ++r) {
    if (probed >= kRowsForAVote && best == 0) break;
    const Cell* s = &shown.At(r, 1);
    const Cell* w = &want.At(r, 1);
    int first = FirstDiff(v.cols, s, w);
    if (first == 0) continue;
    int last = v.cols;
    while (Same(s[last - 1], w[last - 1])) --last;
    // Probes at the first change and further on: text moved right leaves
    // new text at the start of the change.
    const int span = last - first;
    for (int p : {first, first + span / 2, first + span * 3 / 4}) {
      while (p <= v.cols && IsBlank(w[p - 1])) ++p;
      if (p + kProbe - 1 > v.cols) continue;
      probed += p == first;
      const std::uint32_t head = Packed(w[p - 1]);
      for (int q = 1; q + kProbe - 1 <= v.cols; ++q) {
        if (Packed(s[q - 1]) != head || q == p ||
            !std::equal(w + p, w + p - 1 + kProbe, s + q, Same)) {
          continue;
        }
        int k = q - p;
        if (++votes[k + v.cols] > best_votes) best_votes = votes[k + v.cols], best = k;
      }
    }
    // Enough rows agree.
    if (best_votes >= 4) break;
  }
  return best;
}

}  // namespace q7t::paint
