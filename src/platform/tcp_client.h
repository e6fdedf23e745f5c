// A TCP client connection for the controller link (a serial-to-IP adapter).
// Its state codes are those the program reports: 0 closed, 6 connecting,
// 7 connected, 8 closing (the peer closed), 9 error. Events (connected, data,
// error, closed) always arrive from the event loop, never from inside the
// call that caused them. The POSIX implementation sets TCP keep-alive so a
// dead adapter is noticed; tests use FakeTcpClient.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace corvane {

class EventLoop;

class TcpClient {
 public:
  enum StateCode : int { kClosed = 0, kConnecting = 6, kConnected = 7, kClosing = 8, kError = 9 };
  struct Handlers {
    std::function<void()> on_connect;
    std::function<void(const std::string& data)> on_data;
    std::function<void(int number, const std::string& description)> on_error;
    std::function<void()> on_close;  // the peer closed the connection
  };

  virtual ~TcpClient() = default;
  // Closes any connection and starts connecting to host:port.
  virtual void Connect(const std::string& host, int port) = 0;
  virtual void Close() = 0;
  virtual int State() const = 0;
  // Queues the text for sending; false when not connected.
  virtual bool Send(std::string_view data) = 0;

  void SetHandlers(Handlers handlers) { handlers_ = std::move(handlers); }

 protected:
  Handlers handlers_;
};

class PosixTcpClient final : public TcpClient {
 public:
  explicit PosixTcpClient(EventLoop& loop);
  ~PosixTcpClient() override;
  PosixTcpClient(const PosixTcpClient&) = delete;
  PosixTcpClient& operator=(const PosixTcpClient&) = delete;

  void Connect(const std::string& host, int port) override;
  void Close() override;
  int State() const override { return state_; }
  bool Send(std::string_view data) override;

 private:
  void OnEvent(unsigned revents);
  void Fail(int number, const std::string& description);
  void FailLater(int number, const std::string& description);
  void Release();
  void UpdateWatch();

  EventLoop& loop_;
  int fd_ = -1;
  uint64_t watch_ = 0;
  int state_ = kClosed;
  std::string out_;  // not yet written
  uint64_t generation_ = 0;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace corvane
