#pragma once

#include <functional>
#include <string>
#include <vector>

#include "graphs/canvas.h"

namespace quorvel {

enum class PrimitiveKind { kLine, kRectangle, kPolygon, kEllipse, kPie, kArc, kText, kImage, kMessage };

// One drawing call with the state in effect when it was made.
struct Primitive {
  PrimitiveKind kind = PrimitiveKind::kLine;
  // kLine: from, to. kPolygon: the corners. kPie/kArc: start, end.
  // kText, kImage: the reference point.
  std::vector<Point> points;
  Rect rect;  // kRectangle, kEllipse, kPie, kArc
  std::string text;  // kText, kMessage
  Pen pen;
  Brush brush;
  Font font;
  Color textColor;
  Color backgroundColor;
  BackgroundMode backgroundMode = BackgroundMode::kOpaque;
  TextAlign align = kAlignLeft;
  Size imageSize;                 // kImage
  std::vector<Primitive> image;   // kImage: what was drawn on the image
};

// A Canvas that draws nothing and keeps every call, for tests and
// benchmarks. Text metrics are fixed (or given per font by a provider);
// the extent of a text is its length times the average width by the height.
class RecordingCanvas final : public Canvas {
 public:
  using MetricsProvider = std::function<TextMetrics(const Font&)>;

  // Defaults are those of a fresh window surface: black 1-pixel pen, white
  // brush, opaque white background, black text, left/top alignment.
  RecordingCanvas(Size clientSize, TextMetrics metrics);

  void SetMetricsProvider(MetricsProvider provider) { metricsProvider_ = std::move(provider); }

  const std::vector<Primitive>& Primitives() const { return primitives_; }
  // The primitives of one kind, in drawing order.
  std::vector<Primitive> OfKind(PrimitiveKind kind) const;
  void Clear() { primitives_.clear(); }

  const Pen& CurrentPen() const { return pen_; }
  const Brush& CurrentBrush() const { return brush_; }
  const Font& CurrentFont() const { return font_; }

  Size ClientSize() const override { return clientSize_; }
  Pen SelectPen(const Pen& pen) override;
  Brush SelectBrush(const Brush& brush) override;
  Font SelectFont(const Font& font) override;
  BackgroundMode SetBackgroundMode(BackgroundMode mode) override;
  Color SetBackgroundColor(Color color) override;
  Color SetTextColor(Color color) override;
  TextAlign SetTextAlign(TextAlign align) override;

  void DrawLine(Point from, Point to) override;
  void DrawRectangle(const Rect& rect) override;
  void DrawPolygon(std::span<const Point> points) override;
  void DrawEllipse(const Rect& box) override;
  void DrawPie(const Rect& box, Point start, Point end) override;
  void DrawArc(const Rect& box, Point start, Point end) override;
  void DrawText(Point at, std::string_view text) override;

  TextMetrics GetTextMetrics() const override;
  Size GetTextExtent(std::string_view text) const override;

  std::unique_ptr<Canvas> CreateImage(Size size) override;
  void DrawImage(Point at, const Canvas& image) override;
  void ShowMessage(std::string_view text) override;

 private:
  Primitive& Record(PrimitiveKind kind);

  Size clientSize_;
  TextMetrics metrics_;
  MetricsProvider metricsProvider_;
  Pen pen_;
  Brush brush_;
  Font font_;
  Color textColor_ = kBlack;
  Color backgroundColor_ = kWhite;
  BackgroundMode backgroundMode_ = BackgroundMode::kOpaque;
  TextAlign align_ = kAlignLeft;
  std::vector<Primitive> primitives_;
};

}  // namespace quorvel
