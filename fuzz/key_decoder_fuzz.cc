// Fuzzes the key decoder with any terminal byte stream, cut into reads at
// places and with pauses the input chooses, and checks what comes out: key
// codes of the system's two forms only, nothing left waiting after the Esc
// wait, and pauses shorter than the wait changing nothing.
//
// Input: byte 0 gives n = byte % 32 plan bytes that follow; the rest is the
// stream. Each plan byte is one read: bits 0-4 its length - 1, bits 5-7 what
// follows it (kSteps). The plan repeats until the stream is used up; with no
// plan bytes the whole stream is one read.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "console/key_decoder.h"

namespace {

using q7t::KeyCode;
using q7t::KeyDecoder;

// What follows a read: an Idle of this many milliseconds (-1: none), and
// whether the ready keys are taken then.
struct Step {
  int idle_ms;
  bool take;
};
constexpr Step kSteps[8] = {{-1, true}, {0, true},  {1, true},    {49, true},
                            {50, true}, {51, true}, {1000, true}, {-1, false}};

// The ready queue never holds more keys than this (the oldest give way).
constexpr std::size_t kMaxReady = q7t::KeyQueue::kSlots - 1;

[[noreturn]] void Fail(const char* what, const std::string& detail = {}) {
  std::fprintf(stderr, "key_decoder_fuzz: %s %s\n", what, detail.c_str());
  std::abort();
}

std::string Hex(std::string_view bytes) {
  std::string out;
  char buf[4];
  for (unsigned char b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X ", b);
    out += buf;
  }
  return out;
}

// What one run hands out, in order: key codes, and the two query answers
// marked as texts no key code can be.
struct Run {
  q7t::KeyQueue queue;
  KeyDecoder decoder{queue};
  std::vector<std::string> out;

  void Drain() {
    for (std::size_t n = 0;; ++n) {
      KeyCode code = queue.Pop();
      if (code.empty()) break;
      if (n >= kMaxReady) Fail("more keys ready than the queue holds");
      bool one_byte = code.size() == 1;
      bool extended = code.size() == 2 && static_cast<unsigned char>(code[0]) == 0xFF;
      if (!one_byte && !extended) Fail("key code of neither form:", Hex(code));
      out.push_back(std::move(code));
    }
    int flags = 0;
    if (decoder.TakeKittyReply(&flags)) out.push_back("kitty reply " + std::to_string(flags));
    while (decoder.TakeDeviceAttributes()) out.push_back("device attributes");
  }

  // An Idle; `only_if_effective` leaves out the ones that should change
  // nothing (shorter than the wait, or nothing waiting).
  void Idle(int ms, bool only_if_effective) {
    if (ms < 0) return;
    if (only_if_effective && (ms < KeyDecoder::kEscWaitMs || !decoder.Pending())) return;
    decoder.Idle(ms);
    if (ms >= KeyDecoder::kEscWaitMs && decoder.Pending()) {
      Fail("still waiting after an Idle of", std::to_string(ms));
    }
  }
};

void Play(Run& run, std::string_view plan, std::string_view stream, bool reference) {
  std::size_t pos = 0, p = 0;
  while (pos < stream.size()) {
    std::size_t len = stream.size() - pos;
    Step step{-1, true};
    if (!plan.empty()) {
      auto b = static_cast<unsigned char>(plan[p++ % plan.size()]);
      len = std::min<std::size_t>(len, (b & 0x1F) + 1);
      step = kSteps[b >> 5];
    }
    for (std::size_t i = 0; i < len; ++i)
      run.decoder.Feed(static_cast<std::uint8_t>(stream[pos + i]));
    pos += len;
    run.Idle(step.idle_ms, reference);
    if (step.take) run.Drain();
  }
  run.Idle(1000, false);
  if (run.decoder.Pending()) Fail("still waiting at the end");
  run.Drain();
  if (!run.queue.Pop().empty()) Fail("a key after the queue was drained");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t plan_len = std::min<std::size_t>(input[0] % 32, size - 1);
  std::string_view plan = input.substr(1, plan_len);
  std::string_view stream = input.substr(1 + plan_len);

  Run run;
  Play(run, plan, stream, false);

  // The same reads with only the Idles that time something out: the keys
  // must be the same.
  Run reference;
  Play(reference, plan, stream, true);
  if (run.out != reference.out) Fail("short pauses changed the keys");

  // Nothing of the stream is left over: the next plain key is just itself.
  run.decoder.Feed('x');
  run.Drain();
  if (run.out.size() != reference.out.size() + 1 || run.out.back() != "x") {
    Fail("a plain key after the stream was not delivered as itself");
  }
  return 0;
}
