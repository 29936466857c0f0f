// Serial ports through termios: raw bytes, the line settings of the step, no
// blocking call (the descriptor is non-blocking and every wait is a poll).
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/serial.h"

namespace platform {

namespace {

constexpr const char* kOpenFailed = "CreateFile (Open Port) failed\n\nAnother program probably has the serial port open";

std::string DevicePath(const std::string& port) {
  if (port.find('/') != std::string::npos) return port;
  if (port.size() > 3 && (port[0] | 0x20) == 'c' && (port[1] | 0x20) == 'o' && (port[2] | 0x20) == 'm' &&
      port.find_first_not_of("0123456789", 3) == std::string::npos && port.size() < 8) {
    return "/dev/ttyS" + std::to_string(std::stoi(port.substr(3)) - 1);
  }
  return port;
}

speed_t SpeedOf(int baud) {
  static constexpr std::pair<int, speed_t> kSpeeds[] = {
      {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
      {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
      {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
      {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
  for (const auto& [rate, speed] : kSpeeds)
    if (rate == baud) return speed;
  return B0;
}

class PosixSerialPort : public SerialPort {
 public:
  explicit PosixSerialPort(int fd) : fd_(fd) {}
  ~PosixSerialPort() override {
    // Exclusive use ends with this handle, also where another holds the terminal open.
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
  }

  // A full terminal reports room to poll() only once it has nearly emptied, so
  // the write is tried again every millisecond instead: the line stays busy.
  long Write(const char* data, std::size_t size, int wait_ms, std::string* error) override {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
      const ssize_t written = ::write(fd_, data, size);
      if (written >= 0) return static_cast<long>(written);
      if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return Failed(error);
      if (std::chrono::steady_clock::now() >= end) return 0;
      WaitFor(POLLOUT, 1);
    }
  }

  long Read(char* data, std::size_t size, int wait_ms, std::string* error) override {
    if (!WaitFor(POLLIN, wait_ms)) return 0;
    const ssize_t got = ::read(fd_, data, size);
    if (got >= 0) return static_cast<long>(got);
    // A pseudo-terminal whose other side is gone reads EIO: nothing more comes.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    return Failed(error);
  }

  void Drain(int wait_ms) override {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    int queued = 0;
    while (::ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0 && std::chrono::steady_clock::now() < end)
      ::usleep(1000);
  }

  void Purge() override { ::tcflush(fd_, TCIFLUSH); }

 private:
  bool WaitFor(short events, int wait_ms) {
    pollfd p{fd_, events, 0};
    int ready;
    do {
      ready = ::poll(&p, 1, wait_ms);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
  }
  static long Failed(std::string* error) {
    *error = std::strerror(errno);
    return -1;
  }
  int fd_;
};

}  // namespace

std::unique_ptr<SerialPort> OpenSerialPort(const SerialSettings& settings, std::string* error) {
  const int fd = ::open(DevicePath(settings.port).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = kOpenFailed;
    return nullptr;
  }
  auto port = std::make_unique<PosixSerialPort>(fd);
  // Opened without sharing: a second open fails while this one lasts.
  if (::ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
    *error = kOpenFailed;
    return nullptr;
  }
  termios tty{};
  if (::tcgetattr(fd, &tty) != 0) {
    *error = "GetCommState failed";
    return nullptr;
  }
  const speed_t speed = SpeedOf(settings.baud);
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  if (speed == B0 || settings.data_bits < 5 || settings.data_bits > 8) {
    *error = "SetCommState failed";
    return nullptr;
  }
  ::cfmakeraw(&tty);
  ::cfsetispeed(&tty, speed);
  ::cfsetospeed(&tty, speed);
  tty.c_cflag = (tty.c_cflag & ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS)) | CREAD | CLOCAL;
  tty.c_cflag |= kSizes[settings.data_bits - 5];
  tty.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY);
  if (settings.parity != 0) {
    tty.c_cflag |= PARENB | (settings.parity == 1 ? PARODD : 0);
    tty.c_iflag |= INPCK;
  }
  if (settings.two_stop_bits) tty.c_cflag |= CSTOPB;
  if (settings.xon_xoff) {
    tty.c_iflag |= IXON | IXOFF;
    tty.c_cc[VSTART] = 0x11;
    tty.c_cc[VSTOP] = 0x13;
  } else {
    tty.c_cflag |= CRTSCTS;
  }
  tty.c_cc[VMIN] = 0;
  tty.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &tty) != 0) {
    *error = "SetCommState failed";
    return nullptr;
  }
  return port;
}

}  // namespace platform
