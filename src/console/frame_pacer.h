// Frames no faster than the terminal shows them. A terminal answers a
// device attributes request (CSI c) in order with its output, so its answer
// says that everything written before the request is on the screen. While a
// request is out no frame is written: keys go on being read and applied to
// the model, and when the answer comes the newest picture goes out as one
// difference. The first frame carries the first request: a terminal that
// never answers is not paced. A frame that follows the last one within about
// a second waits for the answer to a request of its own, so a line that slows
// later is noticed at the next frame. An answer that has not come a second
// after the line could have carried what its request follows is taken as
// lost, and drawing goes on.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "console/grid.h"
#include "console/render.h"
#include "console/terminal.h"

namespace q7t {

// The request; the answer is CSI ? ... c, which the key decoder reports.
inline constexpr std::string_view kAttributesRequest = "\x1b[c";

// When frames may go out: decisions only, times in milliseconds from the
// caller's clock.
//
// A request is not sent after every frame (that would cost bytes on every
// key): only when the next frame is due while the last one may still be on
// its way, that is, within kMeasureMs of it (faster than a person reads, as
// with a held or pasted key) or within the time the line was last measured
// to need for that many bytes. The answer to that request measures the line
// again, so a line that was fast once and slows is noticed.
class FramePacer {
 public:
  enum class Step : std::uint8_t {
    kWrite,  // a frame may go out now
    kAsk,    // write a request first and hold the frame until its answer
    kHold,   // a request is out: hold the frame
  };
  // An answer not come this long after the line could have carried the
  // bytes before its request is lost.
  static constexpr int kAnswerTimeoutMs = 1000;
  static constexpr int kLostLimit = 3;  // lost answers in a row end the pacing
  static constexpr int kMeasureMs = 1000;
  // On a slow line a frame that takes more than two pieces of this much
  // line time goes out in pieces, so that little is in flight when the
  // picture changes again.
  static constexpr int kPieceMs = 250;
  static constexpr std::size_t kMinPiece = 128;

  Step Next(std::int64_t now);
  // `bytes` written at `now`; `asked`: a request ends them.
  void Wrote(std::size_t bytes, bool asked, std::int64_t now);
  // A device attributes answer arrived at `now`.
  void Answered(std::int64_t now);
  // The most bytes one piece of a frame may take; 0 when frames go whole.
  std::size_t PieceBudget() const;
  // Milliseconds until the request that is out counts as lost; -1 for none.
  int WaitLimitMs(std::int64_t now) const;
  bool answering() const { return answering_; }
  bool asking() const { return asking_; }

 private:
  // Answers take up to this long more than the line needs for the bytes:
  // the terminal's and the program's own delays.
  static constexpr int kSlackMs = 30;
  static constexpr std::size_t kMinSample = 64;
  // Before the first answer the line is taken as a 9600 bit/s one, and an
  // answer is waited for at least as long as such a line needs.
  static constexpr std::int64_t kUnmeasuredUsPerByte = 1042;

  std::int64_t AnswerDue() const;
  // Bytes written may still be on their way to the screen.
  bool InFlight(std::int64_t now) const;

  bool answering_ = false;  // the terminal answers requests
  bool asking_ = false;     // a request is out
  int lost_ = 0;
  std::int64_t asked_at_ = 0;
  std::size_t asked_bytes_ = 0;  // the unconfirmed bytes the request follows
  std::size_t unconfirmed_ = 0;  // written and not known to be shown
  std::int64_t unconfirmed_since_ = 0;
  std::int64_t last_write_ = 0;
  std::int64_t us_per_byte_ = 0;  // the line's time per byte as measured; 0: fast
};

// The renderer's frames to a terminal at the pace the terminal shows them.
// On a slow line a large difference goes out in pieces (bands of rows in
// turn, each piece followed by a request), and what is left is planned
// again from the newest picture when the piece has arrived.
class FrameSender {
 public:
  // Brings the terminal towards `wanted` through `renderer`, when the pacer
  // lets a frame go; `forced` writes the whole difference now whatever it
  // says (before a sleep, a beep, the end). The first frame is followed by a
  // request: a terminal that answers it is paced from then on.
  void Flush(Renderer& renderer, const Grid& wanted, Terminal& terminal, bool forced);
  void Answered(std::int64_t now) { pacer_.Answered(now); }
  // While keys wait to be applied: the picture has stood still so long that
  // the newest one should go out before them (still at the pace above).
  // `keys_since`: when the program last found no key pending.
  bool Overdue(std::int64_t now, std::int64_t keys_since) const {
    return now - std::max(last_frame_, keys_since) >= kAliveMs;
  }
  int WaitLimitMs(std::int64_t now) const { return pacer_.WaitLimitMs(now); }
  const FramePacer& pacer() const { return pacer_; }

 private:
  // Renders into out_ at most `budget` bytes where it can; false when only
  // a piece of the difference went.
  bool RenderPiece(Renderer& renderer, const Grid& wanted, std::size_t budget);
  int FirstChangedRow(const Grid& wanted) const;

  // While keys wait, a frame at least this often.
  static constexpr int kAliveMs = 250;

  FramePacer pacer_;
  std::int64_t last_frame_ = std::numeric_limits<std::int64_t>::min() / 2;
  Grid sent_;         // the grid the terminal is brought to by what was written
  int next_row_ = 1;  // where the next piece starts looking for a change
  bool probed_ = false;
  std::string out_, trial_out_;
};

}  // namespace q7t
