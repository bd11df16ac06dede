#include "graphs/recording_canvas.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace quorvel {

RecordingCanvas::RecordingCanvas(Size clientSize, TextMetrics metrics)
    : clientSize_(clientSize), metrics_(metrics), font_{"System", 16, 700} {}

std::vector<Primitive> RecordingCanvas::OfKind(PrimitiveKind kind) const {
  std::vector<Primitive> found;
  std::copy_if(primitives_.begin(), primitives_.end(), std::back_inserter(found),
               [kind](const Primitive& p) { return p.kind == kind; });
  return found;
}

Pen RecordingCanvas::SelectPen(const Pen& pen) { return std::exchange(pen_, pen); }
Brush RecordingCanvas::SelectBrush(const Brush& brush) { return std::exchange(brush_, brush); }
Font RecordingCanvas::SelectFont(const Font& font) { return std::exchange(font_, font); }
BackgroundMode RecordingCanvas::SetBackgroundMode(BackgroundMode mode) {
  return std::exchange(backgroundMode_, mode);
}
Color RecordingCanvas::SetBackgroundColor(Color color) {
  return std::exchange(backgroundColor_, color);
}
Color RecordingCanvas::SetTextColor(Color color) { return std::exchange(textColor_, color); }
TextAlign RecordingCanvas::SetTextAlign(TextAlign align) { return std::exchange(align_, align); }

Primitive& RecordingCanvas::Record(PrimitiveKind kind) {
  Primitive& p = primitives_.emplace_back();
  p.kind = kind;
  p.pen = pen_;
  p.brush = brush_;
  p.font = font_;
  p.textColor = textColor_;
  p.backgroundColor = backgroundColor_;
  p.backgroundMode = backgroundMode_;
  p.align = align_;
  return p;
}

void RecordingCanvas::DrawLine(Point from, Point to) {
  Record(PrimitiveKind::kLine).points = {from, to};
}

void RecordingCanvas::DrawRectangle(const Rect& rect) { Record(PrimitiveKind::kRectangle).rect = rect; }

void RecordingCanvas::DrawPolygon(std::span<const Point> points) {
  Record(PrimitiveKind::kPolygon).points.assign(points.begin(), points.end());
}

void RecordingCanvas::DrawEllipse(const Rect& box) { Record(PrimitiveKind::kEllipse).rect = box; }

void RecordingCanvas::DrawPie(const Rect& box, Point start, Point end) {
  Primitive& p = Record(PrimitiveKind::kPie);
  p.rect = box;
  p.points = {start, end};
}

void RecordingCanvas::DrawArc(const Rect& box, Point start, Point end) {
  Primitive& p = Record(PrimitiveKind::kArc);
  p.rect = box;
  p.points = {start, end};
}

void RecordingCanvas::DrawText(Point at, std::string_view text) {
  Primitive& p = Record(PrimitiveKind::kText);
  p.points = {at};
  p.text = std::string(text);
}

TextMetrics RecordingCanvas::GetTextMetrics() const {
  return metricsProvider_ ? metricsProvider_(font_) : metrics_;
}

Size RecordingCanvas::GetTextExtent(std::string_view text) const {
  const TextMetrics metrics = GetTextMetrics();
  return {TextLength(text) * metrics.averageCharWidth, metrics.height};
}

std::unique_ptr<Canvas> RecordingCanvas::CreateImage(Size size) {
  auto image = std::make_unique<RecordingCanvas>(size, metrics_);
  image->metricsProvider_ = metricsProvider_;
  return image;
}

void RecordingCanvas::DrawImage(Point at, const Canvas& image) {
  // Images come from CreateImage, so they are recording canvases too.
  const auto& recorded = dynamic_cast<const RecordingCanvas&>(image);
  Primitive& p = Record(PrimitiveKind::kImage);
  p.points = {at};
  p.imageSize = recorded.clientSize_;
  p.image = recorded.primitives_;
}

void RecordingCanvas::ShowMessage(std::string_view text) {
  Record(PrimitiveKind::kMessage).text = std::string(text);
}

}  // namespace quorvel
