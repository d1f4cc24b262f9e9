#include "console/frame_pacer.h"

#include <algorithm>
#include <utility>

namespace q7t {

namespace {

// Whether row `row` (1-based) differs between two grids of one size.
bool RowDiffers(const Grid& a, const Grid& b, int row) {
  auto at = static_cast<std::ptrdiff_t>(row - 1) * a.cols;
  return !std::equal(a.cells.begin() + at, a.cells.begin() + at + a.cols, b.cells.begin() + at);
}

// `sent` with rows first..k as `wanted` has them, and the cursor as wanted.
Grid PartlySent(const Grid& sent, const Grid& wanted, int first, int k) {
  Grid g = sent;
  auto from = static_cast<std::ptrdiff_t>(first - 1) * g.cols;
  auto to = static_cast<std::ptrdiff_t>(k) * g.cols;
  std::copy(wanted.cells.begin() + from, wanted.cells.begin() + to, g.cells.begin() + from);
  g.cursor_row = wanted.cursor_row;
  g.cursor_col = wanted.cursor_col;
  g.cursor_visible = wanted.cursor_visible;
  return g;
}

}  // namespace

std::int64_t FramePacer::AnswerDue() const {
  std::int64_t us = std::max(us_per_byte_, kUnmeasuredUsPerByte);
  return asked_at_ + kAnswerTimeoutMs + static_cast<std::int64_t>(asked_bytes_) * us / 1000;
}

FramePacer::Step FramePacer::Next(std::int64_t now) {
  if (asking_ && now >= AnswerDue()) {
    // Lost: what it followed is taken as shown, and drawing goes on. A late
    // answer then confirms nothing (see Answered).
    asking_ = false;
    unconfirmed_ = 0;
    if (++lost_ >= kLostLimit) answering_ = false;
  }
  if (!answering_) return Step::kWrite;
  if (asking_) return Step::kHold;
  return InFlight(now) ? Step::kAsk : Step::kWrite;
}

bool FramePacer::InFlight(std::int64_t now) const {
  if (unconfirmed_ == 0) return false;
  std::int64_t drained =
      unconfirmed_since_ + kSlackMs + static_cast<std::int64_t>(unconfirmed_) * us_per_byte_ / 1000;
  return now < std::max(last_write_ + kMeasureMs, drained);
}

void FramePacer::Wrote(std::size_t bytes, bool asked, std::int64_t now) {
  // What was written long enough ago is taken as shown, so that the next
  // answer times only the bytes since (and not the pause before them).
  if (!asking_ && !InFlight(now)) unconfirmed_ = 0;
  if (unconfirmed_ == 0) unconfirmed_since_ = now;
  unconfirmed_ += bytes;
  last_write_ = now;
  if (asked && !asking_) {
    asking_ = true;
    asked_at_ = now;
    asked_bytes_ = unconfirmed_;
  }
}

void FramePacer::Answered(std::int64_t now) {
  answering_ = true;
  lost_ = 0;
  if (!asking_) return;  // the late answer to a request taken as lost
  asking_ = false;
  // The line's speed: when the answer took longer than a request alone
  // takes, the line was still carrying the bytes, and the time since the
  // first of them measures it; an answer at once says only that the line
  // is at least that fast.
  std::int64_t span = std::max<std::int64_t>(0, now - unconfirmed_since_);
  auto bytes = static_cast<std::int64_t>(std::max<std::size_t>(asked_bytes_, 1));
  if (now - asked_at_ > kSlackMs) {
    if (asked_bytes_ >= kMinSample) us_per_byte_ = (span - kSlackMs) * 1000 / bytes;
  } else {
    us_per_byte_ = std::min(us_per_byte_, span * 1000 / bytes);
  }
  unconfirmed_ -= std::min(unconfirmed_, asked_bytes_);
  unconfirmed_since_ = now;  // what was written after the request (forced flushes)
}

std::size_t FramePacer::PieceBudget() const {
  if (!answering_ || us_per_byte_ <= 0) return 0;
  auto budget = static_cast<std::size_t>(std::int64_t{kPieceMs} * 1000 / us_per_byte_);
  return std::max(budget, kMinPiece);
}

int FramePacer::WaitLimitMs(std::int64_t now) const {
  if (!asking_ || !answering_) return -1;
  return static_cast<int>(std::max<std::int64_t>(1, AnswerDue() - now));
}

void FrameSender::Flush(Renderer& renderer, const Grid& wanted, Terminal& terminal, bool forced) {
  const std::int64_t now = terminal.NowMs();
  out_.clear();
  bool whole = true;
  if (forced || wanted == sent_) {
    // Nothing new is held back: an unchanged picture writes nothing, unless
    // the terminal is to be repainted (resize, resume), which goes at once.
    renderer.Render(wanted, out_);
    sent_ = wanted;
  } else {
    switch (pacer_.Next(now)) {
      case FramePacer::Step::kHold:
        return;
      case FramePacer::Step::kAsk:
        terminal.Write(kAttributesRequest);
        pacer_.Wrote(kAttributesRequest.size(), true, now);
        return;
      case FramePacer::Step::kWrite:
        break;
    }
    if (std::size_t budget = pacer_.PieceBudget()) {
      whole = RenderPiece(renderer, wanted, budget);
    } else {
      renderer.Render(wanted, out_);
      sent_ = wanted;
    }
  }
  if (out_.empty()) return;
  const bool ask = !whole || !std::exchange(probed_, true);
  if (ask) out_ += kAttributesRequest;
  terminal.Write(out_);
  pacer_.Wrote(out_.size(), ask, now);
  last_frame_ = now;
}

// The first row that differs, looked for from below the last piece on (so
// that the rows near the bottom get their turn while the picture keeps
// moving); row 1 when only the cursor differs.
int FrameSender::FirstChangedRow(const Grid& wanted) const {
  int first = next_row_ > wanted.rows ? 1 : next_row_;
  while (first <= wanted.rows && !RowDiffers(wanted, sent_, first)) ++first;
  if (first > wanted.rows) {
    first = 1;
    while (first <= wanted.rows && !RowDiffers(wanted, sent_, first)) ++first;
  }
  return first > wanted.rows ? 1 : first;
}

bool FrameSender::RenderPiece(Renderer& renderer, const Grid& wanted, std::size_t budget) {
  Renderer trial = renderer;
  trial.Render(wanted, out_);
  const bool same_size = sent_.rows == wanted.rows && sent_.cols == wanted.cols;
  if (out_.size() <= 2 * budget || !same_size) {
    renderer = std::move(trial);
    sent_ = wanted;
    return true;
  }
  // A terminal that is to be repainted whole gets the whole frame.
  trial = renderer;
  trial_out_.clear();
  trial.Render(sent_, trial_out_);
  if (!trial_out_.empty()) {
    out_.clear();
    renderer.Render(wanted, out_);
    sent_ = wanted;
    return true;
  }
  // Rows first..k as wanted, the rest as sent: the largest k whose bytes
  // fit, and always one row, so every piece moves on.
  const int first = FirstChangedRow(wanted);
  int best = first;
  int lo = first + 1, hi = wanted.rows;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    trial = renderer;
    trial_out_.clear();
    trial.Render(PartlySent(sent_, wanted, first, mid), trial_out_);
    if (trial_out_.size() <= budget) {
      best = mid;
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  next_row_ = best + 1;
  sent_ = PartlySent(sent_, wanted, first, best);
  out_.clear();
  renderer.Render(sent_, out_);
  return sent_ == wanted;
}

}  // namespace q7t
