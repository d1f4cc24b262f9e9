// The log viewer's cost: loading 10000 lines of 1000 bytes from a file (time,
// and memory held and at its peak against the file's size), and the CPU time
// of one viewer key through the console model and the renderer.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "console/console.h"
#include "platform/files.h"
#include "viewer/line_array.h"
#include "viewer/load.h"
#include "viewer/view_txt_array.h"

namespace q7t {
namespace {

namespace fs = std::filesystem;

constexpr int kLines = 10000;
constexpr int kLineBytes = 1000;

// A temporary log of kLines lines of kLineBytes printable bytes, CR LF ended.
class TempLog {
 public:
  TempLog() {
    char templ[] = "/tmp/q7t_viewer_bench_XXXXXX";
    if (!mkdtemp(templ)) std::abort();
    dir_ = templ;
    std::ofstream out(path(), std::ios::binary);
    std::string line(kLineBytes, 'x');
    for (int i = 0; i < kLines; ++i) {
      line[i % kLineBytes] = static_cast<char>('a' + i % 26);
      out << line << "\r\n";
    }
  }
  ~TempLog() { fs::remove_all(dir_); }
  std::string path() const { return (dir_ / "SerLog.txt").string(); }
  std::size_t size() const { return fs::file_size(path()); }

 private:
  fs::path dir_;
};

// Raw reads of an open file; optionally notes the heap in use at each read.
class FileSource : public ByteSource {
 public:
  FileSource(os::ReadFile& file, bool sample) : file_(file), sample_(sample) {}
  long Read(char* buf, std::size_t n) override {
    if (sample_) peak_ = std::max(peak_, mallinfo2().uordblks);
    return file_.Read(buf, n);
  }
  std::size_t peak() const { return peak_; }

 private:
  os::ReadFile& file_;
  bool sample_;
  std::size_t peak_ = 0;
};

void BM_LoadTenThousandLines(benchmark::State& state) {
  TempLog log;
  for (auto _ : state) {
    std::optional<os::ReadFile> file = os::ReadFile::Open(log.path());
    if (!file) std::abort();
    FileSource source(*file, false);
    LineArray lines;
    benchmark::DoNotOptimize(LoadLines(source, lines));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * log.size()));
}
BENCHMARK(BM_LoadTenThousandLines)->Unit(benchmark::kMillisecond);

// Memory against the file: what the array holds once loaded, and the heap's
// growth at its highest while loading (sampled at every read).
void BM_LoadMemory(benchmark::State& state) {
  TempLog log;
  const double file_bytes = static_cast<double>(log.size());
  double held = 0, peak = 0;
  for (auto _ : state) {
    std::size_t before = mallinfo2().uordblks;
    std::optional<os::ReadFile> file = os::ReadFile::Open(log.path());
    if (!file) std::abort();
    FileSource source(*file, true);
    LineArray lines;
    LoadLines(source, lines);
    std::size_t after = mallinfo2().uordblks;
    held = static_cast<double>(lines.HeldBytes());
    peak = static_cast<double>(std::max(source.peak(), after) - before);
  }
  state.counters["file_bytes"] = file_bytes;
  state.counters["held_x_file"] = held / file_bytes;
  state.counters["peak_x_file"] = peak / file_bytes;
}
BENCHMARK(BM_LoadMemory)->Iterations(1);

// A terminal that hands out one key every other read, so that the key queue
// never overflows and no key is waiting when the viewer is about to wait
// (keys already waiting are handled before anything is drawn): each key is
// drawn. `downs` Down keys, then Esc (which becomes a key once the decoder's
// wait has passed on the virtual clock). Output is dropped.
class KeyTerminal : public Terminal {
 public:
  explicit KeyTerminal(int downs) : downs_(downs) {}
  void Write(std::string_view bytes) override { written_ += bytes.size(); }
  bool ReadAvailable(std::string& out) override {
    give_ = !give_;
    if (!give_) return true;
    if (downs_ > 0) {
      out += "\x1b[B";
      --downs_;
    } else if (!esc_sent_) {
      out += "\x1b";
      esc_sent_ = true;
    }
    return true;
  }
  void WaitInput(int timeout_ms) override { now_ms_ += timeout_ms < 0 ? 1000 : timeout_ms; }
  void Sleep(int ms) override { now_ms_ += ms; }
  std::int64_t NowMs() override { return now_ms_; }
  void Bell() override {}
  std::size_t written() const { return written_; }

 private:
  int downs_;
  bool give_ = true;  // the read before the last gave a key
  bool esc_sent_ = false;
  std::int64_t now_ms_ = 0;
  std::size_t written_ = 0;
};

// CPU time of one Down key in the viewer: the key read and decoded, 23 rows
// and the "L:" field drawn into the model, the difference rendered.
void BM_ViewerDownKey(benchmark::State& state) {
  constexpr int kDowns = 2000;
  LineArray lines;
  std::string line;
  for (int n = 1; n <= kLines; ++n) {
    line.assign(60 + n % 40, static_cast<char>('a' + n % 26));
    lines.Set(n, line);
  }
  std::size_t written = 0;
  for (auto _ : state) {
    KeyTerminal term(kDowns);
    InstallConsole(&term, CapsForTerm("xterm-256color"));
    SetScreenSize(80, 25);
    ViewTxtArray("File: SerLog.txt", lines, kLines);
    FlushConsole();
    written = term.written();
  }
  InstallConsole(nullptr);
  state.counters["per_key"] = benchmark::Counter(
      kDowns, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["bytes_per_key"] = static_cast<double>(written) / kDowns;
}
BENCHMARK(BM_ViewerDownKey)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace q7t
