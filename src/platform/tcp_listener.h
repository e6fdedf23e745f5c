// A TCP server socket and the connections it accepts, as the web server sees
// them: events for arriving data, completed sends and closes, delivered on
// the event loop. One implementation uses the system's sockets, another is an
// in-memory fake for deterministic tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace corvane {

class TcpConnection {
 public:
  // Socket states as the program reports them.
  enum StateCode : int { kClosed = 0, kConnected = 7, kClosing = 8, kError = 9 };

  struct Events {
    // Everything that one receive event delivered.
    std::function<void(std::string data)> on_data;
    // Every byte handed to Send so far has gone out to the system.
    std::function<void()> on_send_complete;
    // The peer closed the connection or it failed; Close() is still to be called.
    std::function<void()> on_close;
  };

  virtual ~TcpConnection() = default;

  // Events are never delivered from inside Send or Close, and never after
  // Close or the destruction of the connection.
  virtual void SetEvents(Events events) = 0;
  virtual int State() const = 0;
  bool Connected() const { return State() == kConnected; }
  virtual std::string RemoteAddress() const = 0;
  // Queues bytes for sending; false when the connection is not connected.
  virtual bool Send(std::string_view bytes) = 0;
  // Bytes handed to Send that have not gone out yet.
  virtual size_t PendingSendBytes() const = 0;
  virtual void Close() = 0;
};

class TcpListener {
 public:
  using AcceptHandler = std::function<void(std::unique_ptr<TcpConnection> connection)>;

  virtual ~TcpListener() = default;
  // Listens on `address` (empty: every address of the machine) and `port`
  // (0: a free port). Returns false with a description in `error`.
  virtual bool Listen(std::string_view address, uint16_t port, AcceptHandler on_accept,
                      std::string* error) = 0;
  // The bound port; 0 while not listening.
  virtual uint16_t LocalPort() const = 0;
  virtual void Close() = 0;
  // While false, new connections wait in the system's backlog instead of
  // being accepted; they are taken, oldest first, once accepting resumes.
  virtual void SetAccepting(bool accepting) = 0;
};

// A listener whose connections speak TLS: the bytes its connections deliver
// and take are the plain text inside the encryption.
class SecureTcpListener : public TcpListener {
 public:
  // Loads a certificate (PEM, with its chain) and its private key for the
  // connections accepted from now on; false with a description in `error`.
  virtual bool LoadCertificate(const std::string& certificate_file, const std::string& key_file,
                               std::string* error) = 0;
};

}  // namespace corvane
