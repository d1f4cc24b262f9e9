// Port access through /dev/port: one-byte reads and writes at the port's
// offset. Shared by both port access variants (x86 falls back to it).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "card/port_bus.h"

namespace q7t::os::devport {

inline int& Fd() {
  static int fd = -1;
  return fd;
}

inline bool Open() {
  if (Fd() < 0) Fd() = ::open("/dev/port", O_RDWR | O_CLOEXEC);
  return Fd() >= 0;
}

inline int Read(std::uint16_t port) {
  unsigned char byte = 0;
  ssize_t n;
  do {
    n = ::pread(Fd(), &byte, 1, port);
  } while (n < 0 && errno == EINTR);
  return n == 1 ? byte : kPortRefused;
}

inline void Write(std::uint16_t port, std::uint8_t value) {
  ssize_t n;
  do {
    n = ::pwrite(Fd(), &value, 1, port);
  } while (n < 0 && errno == EINTR);
}

}  // namespace q7t::os::devport
