// The serial device source: line settings, and the reader thread that blocks
// in poll on the device and a wake pipe.
#include "sim/serial_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/virtual_card.h"

namespace q7t {

namespace {

struct StandardRate {
  int rate;
  speed_t speed;
};

constexpr StandardRate kRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

const StandardRate& Nearest(int divisor) {
  const double wanted = 125000000.0 / divisor;
  const StandardRate* best = &kRates[0];
  for (const StandardRate& r : kRates) {
    if (std::abs(r.rate - wanted) < std::abs(best->rate - wanted)) best = &r;
  }
  return *best;
}

void CloseFd(int fd) {
  if (fd >= 0) ::close(fd);
}

constexpr std::size_t kMaxEvents = 64;  // the report's lines; later ones are counted

// Opens the line for this program alone: a terminal device, marked
// exclusive (TIOCEXCL: further opens fail, except for root) and locked
// (flock, which binds root too, so a second virtual card is refused). -1
// and the reason in `*error` otherwise.
int OpenLine(const std::string& path, std::string* error) {
  // O_NONBLOCK: a modem line without carrier must not hang the open.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = errno == EBUSY ? "busy" : std::strerror(errno);
    return -1;
  }
  const char* refusal = nullptr;
  if (!::isatty(fd)) {
    refusal = "not a terminal device";
  } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    refusal = "busy";
  } else {
    ::ioctl(fd, TIOCEXCL);
  }
  if (refusal != nullptr) {
    if (error) *error = refusal;
    CloseFd(fd);
    return -1;
  }
  return fd;
}

}  // namespace

int NearestStandardRate(int divisor) {
  return Nearest(divisor).rate;
}

std::unique_ptr<SerialDeviceSource> SerialDeviceSource::Open(const std::string& path,
                                                             VirtualCard& card,
                                                             std::string* error) {
  const int fd = OpenLine(path, error);
  if (fd < 0) return nullptr;
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    if (error) *error = std::strerror(errno);
    CloseFd(fd);
    return nullptr;
  }
  return std::unique_ptr<SerialDeviceSource>(
      new SerialDeviceSource(path, card, fd, wake[0], wake[1]));
}

SerialDeviceSource::SerialDeviceSource(const std::string& path, VirtualCard& card, int fd,
                                       int wake_read, int wake_write)
    : path_(path), card_(card), fd_(fd), wake_read_(wake_read), wake_write_(wake_write) {
  // Raw before the first byte is read, so no byte is ever translated.
  Configure(card_.Divisor());
  card_.SetDivisorListener([this](int) {
    const char byte = 'd';
    (void)!::write(wake_write_, &byte, 1);  // a full pipe already says it
  });
  thread_ = std::thread([this] { Run(); });
}

SerialDeviceSource::~SerialDeviceSource() {
  card_.SetDivisorListener(nullptr);
  stop_ = true;
  const char byte = 'q';
  (void)!::write(wake_write_, &byte, 1);
  thread_.join();
  CloseFd(fd_);
  CloseFd(wake_read_);
  CloseFd(wake_write_);
}

void SerialDeviceSource::Note(bool back) {
  std::lock_guard<std::mutex> lock(events_mutex_);
  for (auto [list, dropped] : {std::pair{&events_, &events_dropped_}, {&news_, &news_dropped_}}) {
    if (list->size() < kMaxEvents) {
      list->push_back({back, std::time(nullptr)});
    } else {
      ++*dropped;
    }
  }
}

// "DEVICE lost at HH:MM:SS" lines, each after `prefix`.
std::string SerialDeviceSource::Lines(const std::vector<Event>& events, std::size_t dropped,
                                      const std::string& prefix) const {
  std::string text;
  for (const Event& event : events) {
    std::tm local{};
    ::localtime_r(&event.when, &local);
    char clock[16];
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    text += prefix + path_ + (event.back ? " back at " : " lost at ") + clock + "\n";
  }
  if (dropped > 0) {
    text += prefix + path_ + " lost or back " + std::to_string(dropped) + " more times\n";
  }
  return text;
}

std::string SerialDeviceSource::Report() const {
  std::lock_guard<std::mutex> lock(events_mutex_);
  return Lines(events_, events_dropped_, "q7tlog-sim: ");
}

std::string SerialDeviceSource::TakeNews() {
  std::lock_guard<std::mutex> lock(events_mutex_);
  std::string text = Lines(news_, news_dropped_, "");
  news_.clear();
  news_dropped_ = 0;
  return text;
}

// The device once more, at the card's rate now.
bool SerialDeviceSource::Reopen() {
  const int fd = OpenLine(path_, nullptr);
  if (fd < 0) return false;
  fd_ = fd;
  Configure(card_.Divisor());
  receiving_ = true;
  Note(true);
  return true;
}

// Raw 8N1, no flow control, receiver on. Errors are ignored: a
// pseudo-terminal ignores the rate, and a device that cannot take a rate
// keeps its last one. Divisor 0 keeps the rate (the card drops the bytes).
void SerialDeviceSource::Configure(int divisor) {
  if (fd_ < 0) return;  // set when the device is back
  termios tio;
  if (::tcgetattr(fd_, &tio) != 0) return;
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  if (divisor > 0) {
    const speed_t speed = Nearest(divisor).speed;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
  }
  ::tcsetattr(fd_, TCSANOW, &tio);
}

void SerialDeviceSource::Run() {
  char buf[4096];
  while (!stop_) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_read_, POLLIN, 0}};
    // While the device is gone, poll skips it (fd -1) and looks again
    // after each wait.
    if (::poll(fds, 2, fd_ < 0 ? kRetryMs : -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents & POLLIN) {
      while (::read(wake_read_, buf, sizeof buf) > 0) {
      }
      if (stop_) break;
      Configure(card_.Divisor());
    }
    if (fd_ < 0) {
      Reopen();
      continue;
    }
    bool gone = false;
    if (fds[0].revents & POLLIN) {
      const ssize_t n = ::read(fd_, buf, sizeof buf);
      if (n > 0) {
        card_.Receive(std::string_view(buf, static_cast<std::size_t>(n)));
        continue;
      }
      // End of file or a read error: the device has gone.
      gone = n == 0 || (errno != EINTR && errno != EAGAIN);
    }
    // Hang-up or error with nothing left to read: poll would report it
    // again at once.
    if (gone || (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))) {
      receiving_ = false;
      Note(false);
      CloseFd(fd_);
      fd_ = -1;
    }
  }
}

}  // namespace q7t
