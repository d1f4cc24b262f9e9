// The reason for a port refusal from what the process can see of itself:
// without the raw I/O capability the kernel refuses ioperm and /dev/port;
// with it, the kernel itself is keeping the ports (lockdown, no /dev/port).
#include "platform/port_refusal.h"

#include <charconv>
#include <fstream>
#include <string>

namespace q7t::os {

namespace {

constexpr int kCapSysRawio = 17;

// The effective capability set from /proc/self/status; false when unreadable.
bool HasRawIo() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("CapEff:", 0) != 0) continue;
    const std::size_t at = line.find_first_not_of(" \t", 7);
    if (at == std::string::npos) return false;
    unsigned long long caps = 0;
    std::from_chars(line.data() + at, line.data() + line.size(), caps, 16);
    return (caps >> kCapSysRawio) & 1;
  }
  return false;
}

}  // namespace

std::string PortRefusalReason() {
  if (!HasRawIo()) {
    return "permission denied (run as root or grant the program cap_sys_rawio)";
  }
  return "refused by the kernel although the program holds cap_sys_rawio";
}

}  // namespace q7t::os
