// A serial port for the controller link: open with line settings, write
// text, and receive what arrives through a handler called from the event
// loop. The POSIX implementation uses termios; tests use FakeSerialPort.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

class EventLoop;

// "9600,n,8,1": baud rate, parity (n, e, o, m, s), data bits (5..8), stop
// bits (1, 1.5 or 2).
struct SerialLineSettings {
  int baud = 9600;
  char parity = 'n';
  int data_bits = 8;
  int stop_bits = 1;  // 1.5 is taken as 2
};
std::optional<SerialLineSettings> ParseSerialSettings(std::string_view text);

// The device a port text names: a text starting with "/" names the device
// itself; a number N names /dev/ttyS(N-1); anything else names none ("").
std::string SerialDevicePath(std::string_view port_text);

class SerialPort {
 public:
  // Event codes given to the receive handler.
  static constexpr int kReceiveEvent = 2;        // data arrived
  static constexpr int kDeviceLostEvent = 1000;  // the device failed; the port is closed
  using ReceiveHandler = std::function<void(const std::string& data, int event_code)>;

  virtual ~SerialPort() = default;
  // Opens the device; on failure `error` says why.
  virtual bool Open(const std::string& device, const SerialLineSettings& line,
                    std::string* error) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // Writes the whole text; false when the port is closed or the write failed.
  virtual bool Write(std::string_view data) = 0;

  void SetReceiveHandler(ReceiveHandler handler) { handler_ = std::move(handler); }

 protected:
  void Deliver(const std::string& data, int event_code) {
    if (handler_) handler_(data, event_code);
  }

 private:
  ReceiveHandler handler_;
};

class PosixSerialPort final : public SerialPort {
 public:
  explicit PosixSerialPort(EventLoop& loop) : loop_(loop) {}
  ~PosixSerialPort() override { Close(); }
  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  bool Open(const std::string& device, const SerialLineSettings& line, std::string* error) override;
  void Close() override;
  bool IsOpen() const override { return fd_ >= 0; }
  bool Write(std::string_view data) override;

 private:
  void OnReadable(unsigned revents);

  EventLoop& loop_;
  int fd_ = -1;
  uint64_t watch_ = 0;
};

}  // namespace corvane
