#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/event_loop.h"

namespace corvane {

namespace {

std::string Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return std::string(s);
}

bool ToInt(const std::string& s, int* out) {
  if (s.empty() || s.size() > 9) return false;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *out = v;
  return true;
}

speed_t SpeedOf(int baud) {
  static constexpr std::pair<int, speed_t> kSpeeds[] = {
      {300, B300},     {600, B600},     {1200, B1200},   {2400, B2400},
      {4800, B4800},   {9600, B9600},   {19200, B19200}, {38400, B38400},
      {57600, B57600}, {115200, B115200}, {230400, B230400},
  };
  for (const auto& [rate, speed] : kSpeeds) {
    if (rate == baud) return speed;
  }
  return B0;
}

// CS5..CS8 for 5..8 data bits; anything else is 8.
tcflag_t DataBitsFlag(int data_bits) {
  static constexpr std::pair<int, tcflag_t> kSizes[] = {{5, CS5}, {6, CS6}, {7, CS7}};
  for (const auto& [bits, flag] : kSizes) {
    if (bits == data_bits) return flag;
  }
  return CS8;
}

}  // namespace

std::optional<SerialLineSettings> ParseSerialSettings(std::string_view text) {
  std::string parts[4];
  size_t n = 0;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == ',') {
      if (n == 4) return std::nullopt;
      parts[n++] = Trim(text.substr(start, i - start));
      start = i + 1;
    }
  }
  if (n != 4) return std::nullopt;
  SerialLineSettings s;
  if (!ToInt(parts[0], &s.baud) || SpeedOf(s.baud) == B0) return std::nullopt;
  if (parts[1].size() != 1) return std::nullopt;
  s.parity = static_cast<char>(parts[1][0] | 0x20);
  if (std::string_view("neoms").find(s.parity) == std::string_view::npos) return std::nullopt;
  if (!ToInt(parts[2], &s.data_bits) || s.data_bits < 5 || s.data_bits > 8) return std::nullopt;
  if (parts[3] == "1") {
    s.stop_bits = 1;
  } else if (parts[3] == "2" || parts[3] == "1.5") {
    s.stop_bits = 2;
  } else {
    return std::nullopt;
  }
  return s;
}

std::string SerialDevicePath(std::string_view port_text) {
  if (!port_text.empty() && port_text[0] == '/') return std::string(port_text);
  int n = 0;
  if (!ToInt(Trim(port_text), &n) || n < 1) return {};
  return "/dev/ttyS" + std::to_string(n - 1);
}

bool PosixSerialPort::Open(const std::string& device, const SerialLineSettings& line,
                           std::string* error) {
  Close();
  auto fail = [&](const char* what) {
    if (error) *error = device + ": " + what + ": " + std::strerror(errno);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return false;
  };
  fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return fail("open");
  termios tio{};
  if (::tcgetattr(fd_, &tio) != 0) return fail("not a serial device");
  ::cfmakeraw(&tio);
  const speed_t speed = SpeedOf(line.baud);
  ::cfsetispeed(&tio, speed);
  ::cfsetospeed(&tio, speed);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag |= DataBitsFlag(line.data_bits);
  switch (line.parity) {
    case 'e':
      tio.c_cflag |= PARENB;
      break;
    case 'o':
      tio.c_cflag |= PARENB | PARODD;
      break;
    case 'm':
      tio.c_cflag |= PARENB | PARODD | CMSPAR;
      break;
    case 's':
      tio.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  if (line.stop_bits == 2) tio.c_cflag |= CSTOPB;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);  // no handshaking
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (::tcsetattr(fd_, TCSANOW, &tio) != 0) return fail("line settings");
  ::tcflush(fd_, TCIOFLUSH);
  watch_ =
      loop_.Watch(fd_, EventLoop::kReadable, [this](unsigned revents) { OnReadable(revents); });
  return true;
}

void PosixSerialPort::Close() {
  if (fd_ < 0) return;
  loop_.Unwatch(watch_);
  ::close(fd_);
  fd_ = -1;
}

void PosixSerialPort::OnReadable(unsigned revents) {
  // Everything waiting is read and handed over in one piece.
  std::string data;
  char buf[4096];
  for (int i = 0; i < 16 && fd_ >= 0; ++i) {
    ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n > 0) {
      data.append(buf, static_cast<size_t>(n));
      if (static_cast<size_t>(n) < sizeof buf) break;
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
    if (n == 0 && !(revents & (EventLoop::kHangup | EventLoop::kError))) break;  // nothing waiting
    // End of file or an error: the device is gone (a pseudo-terminal whose
    // other side closed reads EIO). Stop watching, or poll would spin.
    const std::string reason = n == 0 ? "end of file" : std::strerror(errno);
    if (!data.empty()) Deliver(data, kReceiveEvent);
    Close();
    Deliver(reason, kDeviceLostEvent);
    return;
  }
  if (!data.empty()) Deliver(data, kReceiveEvent);
}

bool PosixSerialPort::Write(std::string_view data) {
  if (fd_ < 0) return false;
  size_t done = 0;
  int waits = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN && waits < 20) {
      // A slow line: give the driver up to two seconds to take the rest.
      pollfd p{fd_, POLLOUT, 0};
      ::poll(&p, 1, 100);
      ++waits;
      continue;
    }
    return false;
  }
  return true;
}

}  // namespace corvane
