// The README's pictures, drawn from the program's own output: q7tlog-sim on a
// pseudo-terminal read through libvterm, each screen written as SVG in the
// VGA text mode's palette and cell size, each cell's code page 437 glyph as
// its Unicode character. Everything that could vary is fixed: the window
// (80 x 25, xterm-256color, UTF-8), the log shown (a fixed header and the
// virtual card's instrument lines), the card's line (a pseudo-terminal that
// carries exactly the bytes written here) and the counter it makes.
//
//   screenshots DIR    writes DIR/menu.svg, DIR/viewer.svg, DIR/save-failed.svg
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>

#include "sim/instrument.h"
#include "support/pty_harness.h"
#include "support/serial_line.h"

namespace q7t::test {
namespace {

constexpr int kCellW = 9, kCellH = 16;  // the VGA text mode's cell
constexpr const char* kPalette[16] = {
    "#000000", "#0000aa", "#00aa00", "#00aaaa", "#aa0000", "#aa00aa", "#aa5500", "#aaaaaa",
    "#555555", "#5555ff", "#55ff55", "#55ffff", "#ff5555", "#ff55ff", "#ffff55", "#ffffff"};
// The terminal's own colours, as a VGA console shows them.
constexpr int kDefaultFg = 7, kDefaultBg = 0;

void AppendUtf8(std::string& out, char32_t c) {
  if (c == U'&') {
    out += "&amp;";
  } else if (c == U'<') {
    out += "&lt;";
  } else if (c == U'>') {
    out += "&gt;";
  } else if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | c >> 6));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | c >> 12));
    out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// The screen as SVG: a rectangle per run of one background, a text element
// per run of characters in one colour with each glyph placed on its cell,
// and the cursor as the VGA's underline.
std::string Svg(const VtermScreen& s) {
  auto fg = [&](int r, int c) { return s.CellFg(r, c) < 0 ? kDefaultFg : s.CellFg(r, c); };
  auto bg = [&](int r, int c) { return s.CellBg(r, c) < 0 ? kDefaultBg : s.CellBg(r, c); };
  const int w = s.Cols() * kCellW, h = s.Rows() * kCellH;
  std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(w) +
                    "\" height=\"" + std::to_string(h) +
                    "\" font-family=\"'DejaVu Sans Mono','Liberation Mono',Consolas,monospace\" "
                    "font-size=\"15\">\n";
  out += "<rect width=\"" + std::to_string(w) + "\" height=\"" + std::to_string(h) + "\" fill=\"" +
         kPalette[kDefaultBg] + "\"/>\n";
  for (int r = 1; r <= s.Rows(); ++r) {
    for (int c = 1, end; c <= s.Cols(); c = end) {
      for (end = c + 1; end <= s.Cols() && bg(r, end) == bg(r, c);) ++end;
      if (bg(r, c) == kDefaultBg) continue;
      out += "<rect x=\"" + std::to_string((c - 1) * kCellW) + "\" y=\"" +
             std::to_string((r - 1) * kCellH) + "\" width=\"" + std::to_string((end - c) * kCellW) +
             "\" height=\"" + std::to_string(kCellH) + "\" fill=\"" + kPalette[bg(r, c)] + "\"/>\n";
    }
  }
  for (int r = 1; r <= s.Rows(); ++r) {
    for (int c = 1, end; c <= s.Cols(); c = end) {
      end = c + 1;
      if (s.CellChar(r, c) == U' ') continue;
      while (end <= s.Cols() && s.CellChar(r, end) != U' ' && fg(r, end) == fg(r, c)) ++end;
      out += "<text x=\"";
      for (int k = c; k < end; ++k) out += (k > c ? " " : "") + std::to_string((k - 1) * kCellW);
      out += "\" y=\"" + std::to_string(r * kCellH - 4) + "\" fill=\"" + kPalette[fg(r, c)] + "\">";
      for (int k = c; k < end; ++k) AppendUtf8(out, s.CellChar(r, k));
      out += "</text>\n";
    }
  }
  if (s.CursorVisible()) {
    const int r = s.CursorRow(), c = s.CursorCol();
    out += "<rect x=\"" + std::to_string((c - 1) * kCellW) + "\" y=\"" +
           std::to_string(r * kCellH - 3) + "\" width=\"" + std::to_string(kCellW) +
           "\" height=\"2\" fill=\"" + kPalette[fg(r, c)] + "\"/>\n";
  }
  return out + "</svg>\n";
}

bool Write(const std::string& dir, const char* name, const PtyProgram& program) {
  const std::string path = dir + "/" + name;
  std::ofstream file(path, std::ios::binary);
  file << Svg(program.screen());
  file.close();
  if (!file) std::perror(("screenshots: " + path).c_str());
  return static_cast<bool>(file);
}

int Fail(const char* what, const PtyProgram& program) {
  std::fprintf(stderr, "screenshots: %s\n%s", what, program.ScreenDump().c_str());
  return 1;
}

}  // namespace
}  // namespace q7t::test

int main(int argc, char** argv) {
  using namespace q7t::test;
  if (argc != 2) {
    std::fprintf(stderr, "usage: screenshots DIR\n");
    return 2;
  }
  const std::string out_dir = argv[1];
  ScopedTempDir top;
  // The log's folder: its path too long for the message line, so that the
  // failed save names the file alone, wherever the temporary folder is.
  const std::string folder = top.File("the-operators-log-folder-for-the-pictures");
  const std::string log_path = folder + "/SerLog.txt";
  if (mkdir(folder.c_str(), 0755) != 0) {
    std::perror("screenshots: making the log folder");
    return 1;
  }
  {
    // A log as the card saves it: the header line, then the instrument's lines.
    std::ofstream log(log_path, std::ios::binary);
    log << "Serial Line Log 12-08-2026 05:33:10 RdCnt=0/08136\r\n";
    for (int n = 1; n <= 113; ++n) log << q7t::Instrument::LineText(n);
  }
  SerialLine line;
  PtyProgram::Options options;
  options.program = CopyProgram("q7tlog-sim", top);
  options.args = {"-L", folder, line.path};
  // The save is to fail as it would for an operator: a folder the program may
  // not write (run as nobody where this runs as root).
  options.drop_privileges = true;
  if (!top.OpenToAll() || chmod(line.path.c_str(), 0666) != 0 ||
      chmod(log_path.c_str(), 0644) != 0 || chmod(folder.c_str(), 0555) != 0) {
    std::perror("screenshots: setting up the folder");
    return 1;
  }
  struct Writable {  // again at the end, so that the folder can be removed
    const std::string& path;
    ~Writable() { chmod(path.c_str(), 0755); }
  } writable{folder};
  PtyProgram program(options);
  if (!program.WaitForText(10, "<V> View Log")) return Fail("no menu", program);
  // The card counts what the line brings: R shows it.
  const std::string bytes = q7t::Instrument::LineText(1) + q7t::Instrument::LineText(2);
  if (write(line.master, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
    return Fail("the serial line took no bytes", program);
  }
  char counter[16];
  std::snprintf(counter, sizeof counter, "0/%05zu", bytes.size());
  for (int tries = 0; program.screen().RowText(6).find(counter) == std::string::npos; ++tries) {
    if (tries == 50) return Fail("the counter did not show", program);
    program.Send("r");
    program.Pump(100);
  }
  program.Send("b9600\r");
  if (!program.WaitForText(4, "9600")) return Fail("no rate", program);
  program.Pump(300);
  if (!Write(out_dir, "menu.svg", program)) return 1;

  program.Send("v");
  if (!program.WaitForText(25, "L:0001 P:001")) return Fail("no viewer", program);
  program.Pump(300);
  if (!Write(out_dir, "viewer.svg", program)) return 1;

  program.Send("\x1b");
  if (!program.WaitForText(10, "<V> View Log")) return Fail("no menu after the viewer", program);
  program.Send("s");
  if (!program.WaitForText(24, "Save failed: ")) return Fail("the save did not fail", program);
  program.Pump(300);
  return Write(out_dir, "save-failed.svg", program) ? 0 : 1;
}
