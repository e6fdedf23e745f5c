// The daemon's live echo stream (GET /echo/stream, Server-Sent Events) as
// Qt signals: the whole text first, then each change. Reconnects after a
// lost connection while a port is set. Each request carries the daemon's
// echo token, read afresh, so the stream opens under web security too.
#pragma once

#include <QByteArray>
#include <QObject>
#include <functional>
#include <string>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include "ui/echo_window.h"

namespace corvane {

class EchoStream : public QObject {
  Q_OBJECT

 public:
  static constexpr int kRetryMs = 2000;

  explicit EchoStream(QObject* parent = nullptr);
  ~EchoStream() override;
  // Connects to the daemon's web server at host:port, sending the token
  // `token` gives at each connect; port 0 disconnects.
  void SetTarget(const QString& host, int port, std::function<std::string()> token = {});
  bool connected() const { return header_done_; }

  // One Server-Sent Events message, as the stream delivers it; public so
  // that a message can be fed without a socket.
  void Dispatch(const QByteArray& event, const QByteArray& data);

 signals:
  void Reset(const QString& text, const QString& status);
  void Changed(EchoWindow::Change change, const QString& text);
  void Lost();

 private:
  void Open();
  void Read();
  void Closed();

  QTcpSocket socket_;
  QTimer retry_;
  QString host_;
  int port_ = 0;
  std::function<std::string()> token_;
  QByteArray buffer_;
  bool header_done_ = false;
  QByteArray event_;
  QByteArray data_;
};

}  // namespace corvane
