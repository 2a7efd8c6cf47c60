#include "window/artwork.h"

#include <QBuffer>
#include <QPainter>
#include <QPainterPath>
#include <QtEndian>

namespace drovanta {

QImage DrawProgramPicture(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 16.0, size / 16.0);

  // The tray: a dark blue box open at the top.
  QPainterPath tray;
  tray.moveTo(1, 8);
  tray.lineTo(4, 8);
  tray.lineTo(5.5, 10);
  tray.lineTo(10.5, 10);
  tray.lineTo(12, 8);
  tray.lineTo(15, 8);
  tray.lineTo(15, 15);
  tray.lineTo(1, 15);
  tray.closeSubpath();
  painter.fillPath(tray, QColor(31, 78, 140));

  // The letter: a white sheet with a flap, tilted into the tray.
  painter.save();
  painter.translate(8, 5.5);
  painter.rotate(-12);
  const QRectF sheet(-5, -4.5, 10, 7);
  painter.setPen(QPen(QColor(60, 60, 60), 0.8));
  painter.setBrush(Qt::white);
  painter.drawRect(sheet);
  QPainterPath flap;
  flap.moveTo(sheet.topLeft());
  flap.lineTo(0, 0);
  flap.lineTo(sheet.topRight());
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(QColor(214, 120, 24), 0.9));
  painter.drawPath(flap);
  painter.restore();
  return image;
}

QImage IconImageFor(const IconImage& format) {
  QImage image = DrawProgramPicture(format.size);
  if (format.bitsPerPixel == 8) {
    // A palette image keeps one fully transparent entry for the background.
    image = image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdAlphaDither);
  } else {
    image = image.convertToFormat(QImage::Format_ARGB32);
  }
  return image;
}

QIcon ProgramIcon() {
  QIcon icon;
  for (const auto& format : kIconImages) {
    if (format.bitsPerPixel == 32) icon.addPixmap(QPixmap::fromImage(IconImageFor(format)));
  }
  return icon;
}

QByteArray ProgramIconFile() {
  constexpr int kCount = static_cast<int>(std::size(kIconImages));
  std::vector<QByteArray> images;
  for (const auto& format : kIconImages) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    IconImageFor(format).save(&buffer, "PNG");
    images.push_back(png);
  }
  QByteArray file;
  auto put16 = [&](quint16 value) {
    char bytes[2];
    qToLittleEndian(value, bytes);
    file.append(bytes, 2);
  };
  auto put32 = [&](quint32 value) {
    char bytes[4];
    qToLittleEndian(value, bytes);
    file.append(bytes, 4);
  };
  put16(0);  // reserved
  put16(1);  // an icon
  put16(kCount);
  quint32 offset = 6 + 16 * kCount;
  for (int i = 0; i < kCount; ++i) {
    const auto& format = kIconImages[i];
    file.append(static_cast<char>(format.size >= 256 ? 0 : format.size));
    file.append(static_cast<char>(format.size >= 256 ? 0 : format.size));
    file.append(static_cast<char>(0));  // 256 colours or more
    file.append(static_cast<char>(0));
    put16(1);  // planes
    put16(static_cast<quint16>(format.bitsPerPixel));
    put32(static_cast<quint32>(images[static_cast<std::size_t>(i)].size()));
    put32(offset);
    offset += static_cast<quint32>(images[static_cast<std::size_t>(i)].size());
  }
  for (const auto& png : images) file.append(png);
  return file;
}

}  // namespace drovanta
