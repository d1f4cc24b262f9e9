// A terminal in memory for unit tests: scripted input, recorded output, a
// virtual clock that moves only when the console sleeps or waits.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>

#include "console/terminal.h"

namespace q7t::test {

class FakeTerminal : public Terminal {
 public:
  // Input that becomes readable at once, as one read: each Type is one burst
  // of bytes the console receives in one poll.
  void Type(std::string_view bytes) { input_.push_back({std::string(bytes), 0}); }
  // The user pauses: the read after the bytes before it passes `ms` of time
  // and delivers nothing (a lone Esc then becomes a key).
  void Pause(int ms) { input_.push_back({std::string(), ms}); }
  // End of input: reads report it once `input_` is drained.
  void EndInput() { ended_ = true; }

  void Write(std::string_view bytes) override {
    output_.append(bytes);
    ++writes_;
  }
  // Non-empty: every write has failed so, as a terminal tells it.
  std::string write_failure;
  bool Writable(std::string* err) const override {
    if (err && !write_failure.empty()) *err = write_failure;
    return write_failure.empty();
  }
  bool ReadAvailable(std::string& out) override;
  void WaitInput(int timeout_ms) override;
  void Sleep(int ms) override {
    now_ms_ += ms;
    slept_ms_ += ms;
  }
  std::int64_t NowMs() override { return now_ms_; }
  void Bell() override { ++bells_; }
  bool NumLockOn() override { return num_lock; }
  bool BrightBackgroundsBlink() const override { return bright_backgrounds_blink; }

  // What the terminal says of itself.
  bool num_lock = false;
  bool bright_backgrounds_blink = false;

  const std::string& output() const { return output_; }
  std::string TakeOutput() { return std::exchange(output_, {}); }
  int writes() const { return writes_; }
  int bells() const { return bells_; }
  std::int64_t slept_ms() const { return slept_ms_; }

  // A wait with nothing left to read and no limit is a test that would hang:
  // it throws this instead.
  struct NoMoreInput {};

 private:
  struct Burst {
    std::string bytes;
    int pause_ms;
  };
  std::deque<Burst> input_;
  bool ended_ = false;
  std::string output_;
  int writes_ = 0;
  int bells_ = 0;
  std::int64_t now_ms_ = 0;
  std::int64_t slept_ms_ = 0;
};

}  // namespace q7t::test
