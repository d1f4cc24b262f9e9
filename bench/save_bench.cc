// One log save through the virtual card: 8192 port reads and the file,
// without the flush to disk.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "card/card.h"
#include "card/save_log.h"
#include "sim/virtual_card.h"

namespace {

void BM_SaveThroughVirtualCard(benchmark::State& state) {
  std::string pattern = (std::filesystem::temp_directory_path() / "q7t-save-bench-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) {
    state.SkipWithError("no temporary folder");
    return;
  }
  q7t::VirtualCard card;
  std::string bytes;
  for (int k = 0; k < 10000; ++k) bytes.push_back(static_cast<char>(k * 31));
  card.Receive(bytes);
  q7t::SetPortBus(&card);
  for (auto _ : state) {
    std::string message;
    if (!q7t::SaveLogTo(0x00, {pattern, false, false}, &message)) {
      state.SkipWithError(message.c_str());
    }
  }
  q7t::SetPortBus(nullptr);
  std::filesystem::remove_all(pattern);
}
BENCHMARK(BM_SaveThroughVirtualCard)->Unit(benchmark::kMillisecond);

}  // namespace
