// The daemon's live echo stream (GET /echo/stream, Server-Sent Events) as
// Qt signals: the whole text first, then each change. Reconnects after a
// lost connection while a port is set.
#pragma once

#include <QByteArray>
#include <QObject>
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
  // Connects to the daemon's web server on 127.0.0.1:port; 0 disconnects.
  void SetPort(int port);
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
  int port_ = 0;
  QByteArray buffer_;
  bool header_done_ = false;
  QByteArray event_;
  QByteArray data_;
};

}  // namespace corvane
