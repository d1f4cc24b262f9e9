#include "support/serial_line.h"

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace q7t::test {

SerialLine::SerialLine(bool nonblocking) {
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    error = std::string("openpty: ") + std::strerror(errno);
    return;
  }
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  if (nonblocking) fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  const char* name = ttyname(slave);
  if (name != nullptr) path = name;
}

SerialLine::~SerialLine() {
  if (master >= 0) close(master);
  if (slave >= 0) close(slave);
}

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng() & 0xFF);
  return bytes;
}

}  // namespace q7t::test
