#include "filters/ui/filter_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

namespace quorvel {
namespace {

constexpr int kIconSize = 16;

// Draws `shape` on a 16-unit canvas at each device pixel ratio.
QIcon DrawnIcon(const std::function<void(QPainter&)>& shape) {
  QIcon icon;
  for (const int scale : {1, 2}) {
    QPixmap pixmap(kIconSize * scale, kIconSize * scale);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    shape(painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

void Disc(QPainter& painter, const QColor& fill) {
  painter.setPen(QPen(fill.darker(125), 1));
  painter.setBrush(fill);
  painter.drawEllipse(QRectF(1.5, 1.5, 13, 13));
}

QPen Stroke() { return QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap); }

}  // namespace

QIcon AddFilterIcon() {
  return DrawnIcon([](QPainter& painter) {
    Disc(painter, QColor(46, 160, 67));
    painter.setPen(Stroke());
    painter.drawLine(QPointF(8, 4.5), QPointF(8, 11.5));
    painter.drawLine(QPointF(4.5, 8), QPointF(11.5, 8));
  });
}

QIcon RemoveFilterIcon() {
  return DrawnIcon([](QPainter& painter) {
    Disc(painter, QColor(207, 34, 46));
    painter.setPen(Stroke());
    painter.drawLine(QPointF(4.5, 8), QPointF(11.5, 8));
  });
}

QIcon ClearFiltersIcon() {
  return DrawnIcon([](QPainter& painter) {
    // A waste bin: lid, handle and body with ribs.
    const QColor body(96, 108, 128);
    painter.setPen(QPen(body.darker(130), 1));
    painter.setBrush(body);
    QPainterPath bin;
    bin.moveTo(3.5, 5.5);
    bin.lineTo(12.5, 5.5);
    bin.lineTo(11.5, 14.5);
    bin.lineTo(4.5, 14.5);
    bin.closeSubpath();
    painter.drawPath(bin);
    painter.drawRoundedRect(QRectF(2.5, 3, 11, 2), 1, 1);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(6, 1.5, 4, 2), 1, 1);
    painter.setPen(QPen(QColor(230, 234, 240), 1));
    for (const double x : {6.5, 8.0, 9.5}) painter.drawLine(QPointF(x, 7.5), QPointF(x, 12.5));
  });
}

}  // namespace quorvel
