// Both sides of a pseudo-terminal standing in for a serial line: the program
// under test opens `path`, the test writes and reads at `master`.
#pragma once

#include <cstddef>
#include <string>

namespace q7t::test {

struct SerialLine {
  // `nonblocking`: reads and writes at the master side never block.
  explicit SerialLine(bool nonblocking = false);
  ~SerialLine();
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  int master = -1, slave = -1;  // close-on-exec, so no child inherits them
  std::string path;             // empty when no pseudo-terminal could be had
  std::string error;            // why not
};

// `size` bytes from a fixed seed, for a line to carry.
std::string RandomBytes(std::size_t size, unsigned seed);

}  // namespace q7t::test
