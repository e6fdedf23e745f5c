#include "echo_stream.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkProxy>

#include "platform/instance_lock.h"

namespace corvane {

namespace {

// The data of a message is one JSON value.
QJsonValue ParseJson(const QByteArray& data) {
  const QJsonDocument doc = QJsonDocument::fromJson("[" + data + "]");
  return doc.isArray() ? doc.array().at(0) : QJsonValue();
}

}  // namespace

EchoStream::EchoStream(QObject* parent) : QObject(parent) {
  socket_.setProxy(QNetworkProxy::NoProxy);
  retry_.setSingleShot(true);
  retry_.setInterval(kRetryMs);
  connect(&retry_, &QTimer::timeout, this, &EchoStream::Open);
  connect(&socket_, &QTcpSocket::connected, this, [this] {
    const QString host = host_.contains(':') ? "[" + host_ + "]" : host_;
    QByteArray request = "GET /echo/stream HTTP/1.1\r\nHost: " + host.toUtf8() + ":" +
                         QByteArray::number(port_) + "\r\nAccept: text/event-stream\r\n";
    const std::string token = token_ ? token_() : std::string();
    if (!token.empty()) {
      request += QByteArray(kEchoTokenHeader.data(), static_cast<qsizetype>(kEchoTokenHeader.size())) +
                 ": " + QByteArray::fromStdString(token) + "\r\n";
    }
    socket_.write(request + "\r\n");
  });
  connect(&socket_, &QTcpSocket::readyRead, this, &EchoStream::Read);
  connect(&socket_, &QTcpSocket::disconnected, this, &EchoStream::Closed);
  connect(&socket_, &QTcpSocket::errorOccurred, this, [this] { Closed(); });
}

// The socket outlives the timer among the members and reports its own
// close while it is destroyed: it must be quiet by then.
EchoStream::~EchoStream() {
  port_ = 0;
  socket_.disconnect(this);
  socket_.abort();
}

void EchoStream::SetTarget(const QString& host, int port, std::function<std::string()> token) {
  token_ = std::move(token);
  if (port == port_ && host == host_ && socket_.state() != QAbstractSocket::UnconnectedState) {
    return;
  }
  host_ = host;
  port_ = port;
  retry_.stop();
  socket_.abort();
  header_done_ = false;
  if (port_ > 0) Open();
}

void EchoStream::Open() {
  if (port_ <= 0) return;
  buffer_.clear();
  event_.clear();
  data_.clear();
  header_done_ = false;
  socket_.abort();
  socket_.connectToHost(host_, static_cast<quint16>(port_));
}

void EchoStream::Closed() {
  const bool was = header_done_;
  header_done_ = false;
  if (was) emit Lost();
  if (port_ > 0 && !retry_.isActive()) retry_.start();
}

void EchoStream::Read() {
  buffer_ += socket_.readAll();
  if (!header_done_) {
    const int end = buffer_.indexOf("\r\n\r\n");
    if (end < 0) return;
    if (!buffer_.startsWith("HTTP/1.1 200")) {
      socket_.abort();
      return Closed();
    }
    buffer_.remove(0, end + 4);
    header_done_ = true;
  }
  // Lines end with LF; a blank line ends a message.
  for (int nl = buffer_.indexOf('\n'); nl >= 0; nl = buffer_.indexOf('\n')) {
    QByteArray line = buffer_.left(nl);
    buffer_.remove(0, nl + 1);
    if (line.endsWith('\r')) line.chop(1);
    if (line.isEmpty()) {
      if (!data_.isEmpty()) Dispatch(event_, data_);
      event_.clear();
      data_.clear();
    } else if (line.startsWith("event: ")) {
      event_ = line.mid(7);
    } else if (line.startsWith("data: ")) {
      data_ += line.mid(6);
    }
  }
}

void EchoStream::Dispatch(const QByteArray& event, const QByteArray& data) {
  const QJsonValue value = ParseJson(data);
  if (event == "reset") {
    const QJsonObject o = value.toObject();
    emit Reset(o.value("text").toString(), o.value("status").toString());
  } else if (event == "append") {
    emit Changed(EchoWindow::Change::kAppend, value.toString());
  } else if (event == "mark") {
    emit Changed(EchoWindow::Change::kInsertBeforeLastLineEnd, value.toString());
  } else if (event == "status") {
    emit Changed(EchoWindow::Change::kStatus, value.toString());
  }
}

}  // namespace corvane
