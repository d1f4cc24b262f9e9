// The capture's CPU for one second of a line at 115200 bit/s: the polls of
// that second through the virtual card (the ring already wrapped, so each
// poll reads all 8192 bytes), the file writes and the state record after
// each poll, without the flush to disk.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "card/capture.h"
#include "card/card.h"
#include "platform/capture_output.h"
#include "platform/capture_state.h"
#include "sim/virtual_card.h"

namespace {

constexpr int kBytesPerSecond = 115200 / 10;

void BM_CaptureOneSecondAt115200(benchmark::State& state) {
  std::string dir = (std::filesystem::temp_directory_path() / "q7t-capture-bench-XXXXXX").string();
  if (!::mkdtemp(dir.data())) {
    state.SkipWithError("no temporary folder");
    return;
  }
  std::string err;
  auto file = q7t::os::CaptureFile::Open(dir + "/line.bin", 64 << 20, 1, &err);
  bool busy = false;
  auto record = q7t::os::CaptureStateFile::Open(dir + "/line.bin", &busy, &err);
  q7t::VirtualCard card;
  q7t::SetPortBus(&card);
  card.Receive(std::string(3 * q7t::kLogBufferSize, 'x'));
  q7t::CaptureEngine engine(q7t::os::MonotonicMs, q7t::PlannedLineRate(115200));
  engine.Start();
  const int interval = q7t::PollIntervalMs(q7t::BaudDivisor(115200));
  const int polls = (1000 + interval - 1) / interval;
  const std::string chunk(static_cast<std::size_t>(kBytesPerSecond / polls), 'y');
  std::string bytes;
  for (auto _ : state) {
    for (int k = 0; k < polls; ++k) {
      card.Receive(chunk);
      bytes.clear();
      engine.Poll(bytes);
      if (file->Write(bytes, &err) != bytes.size()) state.SkipWithError(err.c_str());
      const q7t::os::CaptureFile::Position at = file->position();
      record->Write({engine.last_word(), 0, engine.line_rate(), 0, at.dev, at.ino, at.size});
    }
  }
  state.counters["polls"] = polls;
  q7t::SetPortBus(nullptr);
  file.reset();
  record.reset();
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_CaptureOneSecondAt115200)->Unit(benchmark::kMillisecond);

}  // namespace
