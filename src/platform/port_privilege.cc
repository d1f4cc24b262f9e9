// Giving up the power to gain port access once the card's ports are held,
// through the kernel's own capability calls (capget, capset, prctl).
#include <errno.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include "platform/port_bus_hw.h"

namespace q7t::os {

namespace {

constexpr int kWords = _LINUX_CAPABILITY_U32S_3;
using CapSets = __user_cap_data_struct[kWords];
constexpr int kRawIoWord = CAP_SYS_RAWIO / 32;
constexpr std::uint32_t kRawIoBit = 1u << (CAP_SYS_RAWIO % 32);

bool GetCaps(CapSets& sets) {
  __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
  return ::syscall(SYS_capget, &head, sets) == 0;
}

bool SetCaps(CapSets& sets) {
  __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
  return ::syscall(SYS_capset, &head, sets) == 0;
}

// The first failure of the steps below, kept while the later steps still
// give up whatever they can.
void Failed(const char* what, std::string& failure) {
  if (failure.empty()) failure = std::string(what) + ": " + std::strerror(errno);
}

// The steps' end: true when nothing failed, else false with the failure in `*err`.
bool Done(std::string failure, std::string* err) {
  if (failure.empty()) return true;
  *err = std::move(failure);
  return false;
}

// Root: the raw I/O capability leaves the bounding set (so that no later
// exec brings it back), the ambient set and the other three.
bool DropRawIo(std::string* err) {
  std::string failure;
  if (::prctl(PR_CAPBSET_READ, CAP_SYS_RAWIO, 0, 0, 0) == 1 &&
      ::prctl(PR_CAPBSET_DROP, CAP_SYS_RAWIO, 0, 0, 0) != 0) {
    Failed("bounding set", failure);
  }
  if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_LOWER, CAP_SYS_RAWIO, 0, 0) != 0 && errno != EINVAL) {
    Failed("ambient set", failure);
  }
  CapSets sets{};
  if (!GetCaps(sets)) {
    Failed("capget", failure);
    return Done(failure, err);
  }
  sets[kRawIoWord].effective &= ~kRawIoBit;
  sets[kRawIoWord].permitted &= ~kRawIoBit;
  sets[kRawIoWord].inheritable &= ~kRawIoBit;
  if (!SetCaps(sets)) Failed("capset", failure);
  return Done(failure, err);
}

// Not root: every capability leaves every set the process may lower.
bool DropAll(std::string* err) {
  std::string failure;
  if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL) {
    Failed("ambient set", failure);
  }
  CapSets sets{};
  if (!SetCaps(sets)) Failed("capset", failure);
  return Done(failure, err);
}

// What the kernel holds now, read back rather than assumed.
bool Check(bool root, std::string* err) {
  std::string failure;
  CapSets sets{};
  if (!GetCaps(sets)) {
    Failed("capget", failure);
    return Done(failure, err);
  }
  for (int i = 0; i < kWords; ++i) {
    std::uint32_t gone = root ? (i == kRawIoWord ? kRawIoBit : 0) : ~0u;
    if ((sets[i].effective | sets[i].permitted | sets[i].inheritable) & gone) {
      return Done("capabilities still held after capset", err);
    }
  }
  // Past the last capability the kernel knows (or without an ambient set)
  // the question fails.
  for (int cap = 0; cap < 32 * kWords; ++cap) {
    if (root && cap != CAP_SYS_RAWIO) continue;
    int held = ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, cap, 0, 0);
    if (held < 0) break;
    if (held == 1) return Done("ambient capabilities still held", err);
  }
  if (root && ::prctl(PR_CAPBSET_READ, CAP_SYS_RAWIO, 0, 0, 0) == 1) {
    return Done("raw I/O still in the bounding set", err);
  }
  return true;
}

}  // namespace

bool DropPortPrivilege(std::string* err) {
  const bool root = ::geteuid() == 0;
  const bool dropped = root ? DropRawIo(err) : DropAll(err);
  return dropped && Check(root, err);
}

}  // namespace q7t::os
