#include "graphs/ui/qpainter_canvas.h"

#include <QFont>
#include <QFontMetrics>
#include <QHash>
#include <QMessageBox>
#include <QPolygon>
#include <QString>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace quorvel {
namespace {

QColor ToQColor(Color color) { return QColor(color.red, color.green, color.blue); }

QString ToQString(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QRect BoxOf(const Rect& rect) { return QRect(rect.left, rect.top, rect.right - rect.left - 1, rect.bottom - rect.top - 1); }

// Angle of a point about the box's centre in Qt's degrees (counter-clockwise
// from 3 o'clock on screen).
double AngleAbout(const Rect& box, Point point) {
  const double cx = (box.left + box.right - 1) / 2.0;
  const double cy = (box.top + box.bottom - 1) / 2.0;
  return std::atan2(cy - point.y, point.x - cx) * 180.0 / 3.14159265358979323846;
}

// Span from start to end counter-clockwise in (0, 360]; coinciding radii give the whole circle.
double SpanBetween(double start, double end) {
  double span = std::fmod(end - start, 360.0);
  if (span < 0) span += 360.0;
  if (span < 1e-9) span = 360.0;
  return span;
}

struct FontKey {
  QString face;
  int cellHeight;
  int weight;
  bool italic;
  bool underline;
  bool strikeOut;
  bool operator==(const FontKey&) const = default;
};

size_t qHash(const FontKey& key, size_t seed = 0) {
  return ::qHash(key.face, seed) ^ static_cast<size_t>(key.cellHeight * 31 + key.weight * 7 + key.italic +
                                                      key.underline * 2 + key.strikeOut * 4);
}

}  // namespace

QFont FontForCellHeight(const Font& font) {
  // Fonts are asked for on every paint; the search below is cached (UI thread only).
  static QHash<FontKey, QFont> cache;
  const FontKey key{ToQString(font.face), font.cellHeight, font.weight, font.italic, font.underline, font.strikeOut};
  if (const auto found = cache.constFind(key); found != cache.constEnd()) return *found;
  QFont qfont(key.face.isEmpty() ? QStringLiteral("Sans Serif") : key.face);
  qfont.setWeight(static_cast<QFont::Weight>(std::clamp(font.weight, 1, 1000)));
  qfont.setItalic(font.italic);
  qfont.setUnderline(font.underline);
  qfont.setStrikeOut(font.strikeOut);
  qfont.setStyleStrategy(QFont::PreferAntialias);
  int pixels = std::max(1, font.cellHeight);
  qfont.setPixelSize(pixels);
  while (pixels > 1 && QFontMetrics(qfont).height() > font.cellHeight) {
    qfont.setPixelSize(--pixels);
  }
  cache.insert(key, qfont);
  return qfont;
}

QPainterCanvas::QPainterCanvas(QPainter& painter, Size clientSize) : painter_(painter), clientSize_(clientSize) {
  painter_.setFont(FontForCellHeight(font_));
  ApplyPenAndBrush();
}

void QPainterCanvas::ApplyPenAndBrush() {
  if (pen_.style == PenStyle::kNone) {
    painter_.setPen(Qt::NoPen);
  } else {
    QPen pen(ToQColor(pen_.color));
    pen.setWidth(std::max(1, pen_.width));
    pen.setCosmetic(pen_.width <= 1);
    pen.setJoinStyle(Qt::MiterJoin);
    painter_.setPen(pen);
  }
  painter_.setBrush(QBrush(ToQColor(brush_.color)));
}

Pen QPainterCanvas::SelectPen(const Pen& pen) {
  const Pen previous = pen_;
  pen_ = pen;
  ApplyPenAndBrush();
  return previous;
}

Brush QPainterCanvas::SelectBrush(const Brush& brush) {
  const Brush previous = brush_;
  brush_ = brush;
  ApplyPenAndBrush();
  return previous;
}

Font QPainterCanvas::SelectFont(const Font& font) {
  const Font previous = font_;
  font_ = font;
  painter_.setFont(FontForCellHeight(font_));
  return previous;
}

BackgroundMode QPainterCanvas::SetBackgroundMode(BackgroundMode mode) { return std::exchange(backgroundMode_, mode); }
Color QPainterCanvas::SetBackgroundColor(Color color) { return std::exchange(backgroundColor_, color); }
Color QPainterCanvas::SetTextColor(Color color) { return std::exchange(textColor_, color); }
TextAlign QPainterCanvas::SetTextAlign(TextAlign align) { return std::exchange(align_, align); }

void QPainterCanvas::DrawLine(Point from, Point to) {
  if (pen_.style == PenStyle::kNone || from == to) return;
  const int dx = to.x - from.x;
  const int dy = to.y - from.y;
  const int steps = std::max(std::abs(dx), std::abs(dy));
  // The last pixel of the line is left out; one step back along the major axis.
  const QPointF end(from.x + static_cast<double>(dx) * (steps - 1) / steps,
                    from.y + static_cast<double>(dy) * (steps - 1) / steps);
  const QPoint last(static_cast<int>(std::lround(end.x())), static_cast<int>(std::lround(end.y())));
  if (last == QPoint(from.x, from.y)) {
    painter_.drawPoint(from.x, from.y);
  } else {
    painter_.drawLine(QPoint(from.x, from.y), last);
  }
}

void QPainterCanvas::DrawRectangle(const Rect& rect) {
  if (rect.right <= rect.left || rect.bottom <= rect.top) return;
  if (pen_.style == PenStyle::kNone) {
    painter_.fillRect(QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top),
                      ToQColor(brush_.color));
    return;
  }
  painter_.drawRect(BoxOf(rect));
}

void QPainterCanvas::DrawPolygon(std::span<const Point> points) {
  QPolygon polygon;
  polygon.reserve(static_cast<qsizetype>(points.size()));
  for (const Point& point : points) polygon << QPoint(point.x, point.y);
  painter_.drawPolygon(polygon);
}

void QPainterCanvas::DrawEllipse(const Rect& box) { painter_.drawEllipse(BoxOf(box)); }

void QPainterCanvas::DrawPie(const Rect& box, Point start, Point end) {
  const double startAngle = AngleAbout(box, start);
  const double span = SpanBetween(startAngle, AngleAbout(box, end));
  if (span >= 360.0) {
    painter_.drawEllipse(BoxOf(box));
    return;
  }
  painter_.drawPie(BoxOf(box), static_cast<int>(std::lround(startAngle * 16)), static_cast<int>(std::lround(span * 16)));
}

void QPainterCanvas::DrawArc(const Rect& box, Point start, Point end) {
  const double startAngle = AngleAbout(box, start);
  const double span = SpanBetween(startAngle, AngleAbout(box, end));
  painter_.drawArc(BoxOf(box), static_cast<int>(std::lround(startAngle * 16)), static_cast<int>(std::lround(span * 16)));
}

void QPainterCanvas::DrawText(Point at, std::string_view text) {
  if (text.empty()) return;
  const QString qtext = ToQString(text);
  const QFontMetrics metrics(painter_.font());
  const int width = metrics.horizontalAdvance(qtext);
  int left = at.x;
  if (align_ & kAlignHCenter) {
    left -= width / 2;
  } else if (align_ & kAlignRight) {
    left -= width;
  }
  int baseline = at.y + metrics.ascent();
  if (align_ & kAlignBaseline) {
    baseline = at.y;
  } else if (align_ & kAlignBottom) {
    baseline = at.y - metrics.descent();
  }
  if (backgroundMode_ == BackgroundMode::kOpaque) {
    painter_.fillRect(QRect(left, baseline - metrics.ascent(), width, metrics.height()), ToQColor(backgroundColor_));
  }
  painter_.save();
  painter_.setPen(ToQColor(textColor_));
  painter_.drawText(QPoint(left, baseline), qtext);
  painter_.restore();
}

TextMetrics QPainterCanvas::GetTextMetrics() const {
  const QFontMetrics metrics(painter_.font());
  // The widest printable ASCII character: scalable fonts report a maximum
  // over all their glyphs, far wider than any text the charts draw.
  int widest = 0;
  for (char16_t c = 0x20; c < 0x7F; ++c) widest = std::max(widest, metrics.horizontalAdvance(QChar(c)));
  return TextMetrics{metrics.averageCharWidth(), widest, metrics.height()};
}

Size QPainterCanvas::GetTextExtent(std::string_view text) const {
  const QFontMetrics metrics(painter_.font());
  return Size{metrics.horizontalAdvance(ToQString(text)), metrics.height()};
}

std::unique_ptr<Canvas> QPainterCanvas::CreateImage(Size size) { return std::make_unique<QImageCanvas>(size); }

void QPainterCanvas::DrawImage(Point at, const Canvas& image) {
  const auto* offscreen = dynamic_cast<const QImageCanvas*>(&image);
  if (offscreen == nullptr) return;
  painter_.save();
  painter_.setCompositionMode(QPainter::CompositionMode_Source);
  painter_.drawImage(QPoint(at.x, at.y), offscreen->Image());
  painter_.restore();
}

void QPainterCanvas::ShowMessage(std::string_view text) {
  if (messageHandler_) {
    messageHandler_(text);
    return;
  }
  // A modal box cannot open inside a paint; it opens right after it.
  QTimer::singleShot(0, [message = ToQString(text)] { QMessageBox::information(nullptr, QString(), message); });
}

QImageCanvas::QImageCanvas(Size size)
    : image_(std::max(1, size.width), std::max(1, size.height), QImage::Format_RGB32) {
  image_.fill(Qt::black);
  painter_ = std::make_unique<QPainter>(&image_);
  canvas_ = std::make_unique<QPainterCanvas>(*painter_, size);
}

QImageCanvas::~QImageCanvas() {
  canvas_.reset();
  painter_.reset();
}

const QImage& QImageCanvas::Image() const { return image_; }

}  // namespace quorvel
