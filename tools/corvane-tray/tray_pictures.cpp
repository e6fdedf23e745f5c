#include "tray_pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace corvane {

namespace {

struct Colours {
  QColor face, mark;
};

Colours ColoursOf(TrayPicture picture) {
  switch (picture) {
    case TrayPicture::kTraffic: return {QColor(0xf0, 0xa0, 0x20), Qt::white};
    case TrayPicture::kStopped: return {QColor(0x80, 0x80, 0x80), QColor(0xc0, 0x20, 0x20)};
    case TrayPicture::kNormal: break;
  }
  return {QColor(0x32, 0x32, 0x64), QColor(0xe8, 0xe8, 0xf0)};
}

// A loudspeaker with two sound waves (a bar across it when stopped).
QPixmap Draw(TrayPicture picture, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  const Colours c = ColoursOf(picture);
  p.setPen(Qt::NoPen);
  p.setBrush(c.face);
  p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
  p.setBrush(c.mark);
  QPainterPath speaker;
  speaker.moveTo(6, 12);
  speaker.lineTo(11, 12);
  speaker.lineTo(17, 6);
  speaker.lineTo(17, 26);
  speaker.lineTo(11, 20);
  speaker.lineTo(6, 20);
  speaker.closeSubpath();
  p.drawPath(speaker);
  QPen wave(c.mark, 2.2, Qt::SolidLine, Qt::RoundCap);
  p.setPen(wave);
  p.setBrush(Qt::NoBrush);
  if (picture == TrayPicture::kStopped) {
    p.drawLine(QPointF(20, 10), QPointF(28, 22));
    p.drawLine(QPointF(28, 10), QPointF(20, 22));
  } else {
    p.drawArc(QRectF(14, 10, 8, 12), -60 * 16, 120 * 16);
    p.drawArc(QRectF(13, 6, 14, 20), -60 * 16, 120 * 16);
  }
  return pixmap;
}

}  // namespace

QIcon TrayPictureIcon(TrayPicture picture) {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64}) icon.addPixmap(Draw(picture, size));
  return icon;
}

}  // namespace corvane
