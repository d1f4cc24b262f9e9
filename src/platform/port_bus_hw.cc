// The hardware port bus: lazy permission, then byte reads and writes; the
// reasons of a refusal kept for the end of the program.
#include "platform/port_bus_hw.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

namespace q7t {

namespace {

// The package grants port access to the group q7t when asked to; a copy
// built otherwise is granted it by hand.
#ifdef Q7T_DEBIAN_PACKAGE
constexpr const char* kRemedy =
    "run as root, or have root grant the group q7t port access (dpkg-reconfigure q7tlog, "
    "answer yes) and add you to it (adduser USER q7t), then log in again";
#else
constexpr const char* kRemedy =
    "run as root, or grant the capability to this program for one group: "
    "chgrp q7t q7tlog && chmod 750 q7tlog && setcap cap_sys_rawio+ep q7tlog";
#endif

// The last word for the end of the program, in two buffers: a new one is
// written into the buffer not on show and then put on show, so a signal
// handler never meets half a line.
struct Note {
  char text[512];
  std::size_t size;
};
Note g_notes[2];
std::atomic<const Note*> g_shown{nullptr};

void ShowNote(const std::string& text) {
  if (text.empty()) {
    g_shown = nullptr;
    return;
  }
  Note& note = g_shown.load() == &g_notes[0] ? g_notes[1] : g_notes[0];
  std::string line = std::string(program_invocation_short_name) + ": " + text;
  note.size = std::min(line.size(), sizeof note.text - 1);
  std::memcpy(note.text, line.data(), note.size);
  note.text[note.size++] = '\n';
  g_shown = &note;
}

std::string PortRange(int base, int count) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%x-0x%x", base, base + count - 1);
  return text;
}

std::string RefusalLine(int base, int count, const os::PortAttempt& attempt) {
  std::string ways;
  auto add = [&](const char* way, int error) {
    if (error == 0) return;
    if (!ways.empty()) ways += "; ";
    ways += std::string(way) + ": " + std::strerror(error);
  };
  add("ioperm", attempt.ioperm_error);
  add("/dev/port", attempt.devport_error);
  return "no access to the card's ports " + PortRange(base, count) + " (" + ways + "); " + kRemedy;
}

}  // namespace

// Only the card's own ports are ever touched, and only once permission is
// held. A refusal's text is made again only when its reasons change.
bool HardwarePortBus::Granted(std::uint16_t port) {
  if (port < base_ || port >= base_ + count_) return false;
  if (granted_) return true;
  os::PortAttempt attempt = os::AcquirePorts(base_, count_);
  if (attempt.granted) {
    granted_ = true;
    refusal_.clear();
    std::string failure;
    if (!os::DropPortPrivilege(&failure)) {
      drop_failure_ = "the card's ports " + PortRange(base_, count_) +
                      " were granted, but the power to reach them could not be given up in full (" +
                      failure + ")";
    }
    ShowNote(drop_failure_);
  } else if (refusal_.empty() || attempt != last_) {
    refusal_ = RefusalLine(base_, count_, attempt);
    ShowNote(refusal_);
  }
  last_ = attempt;
  return granted_;
}

int HardwarePortBus::In(std::uint16_t port) {
  return Granted(port) ? os::PortRead(port) : kPortRefused;
}

void HardwarePortBus::Out(std::uint16_t port, int value) {
  if (Granted(port)) os::PortWrite(port, static_cast<std::uint8_t>(value & 0xFF));
}

void WritePortNotes() {
  const Note* note = g_shown.load();
  if (note == nullptr) return;
  ssize_t unused = ::write(STDERR_FILENO, note->text, note->size);
  (void)unused;
}

}  // namespace q7t
