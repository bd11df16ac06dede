#pragma once

#include <QImage>
#include <QPainter>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "graphs/canvas.h"

class QFont;

namespace quorvel {

// The graph code's Canvas drawn with a QPainter, with GDI's conventions:
// lines leave out their end point, rectangles and ellipses cover left..right-1,
// fonts are chosen by cell height, pies run counter-clockwise from start to end.
class QPainterCanvas : public Canvas {
 public:
  QPainterCanvas(QPainter& painter, Size clientSize);

  // Where ShowMessage goes; by default a message box opened once the current
  // paint is over.
  void SetMessageHandler(std::function<void(std::string_view)> handler) { messageHandler_ = std::move(handler); }

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
  void ApplyPenAndBrush();

  QPainter& painter_;
  Size clientSize_;
  Pen pen_;
  Brush brush_;
  Font font_;
  Color textColor_ = kBlack;
  Color backgroundColor_ = kWhite;
  BackgroundMode backgroundMode_ = BackgroundMode::kOpaque;
  TextAlign align_ = kAlignLeft;
  std::function<void(std::string_view)> messageHandler_;
};

// The QFont whose line height (ascent + descent) is at most the cell height,
// as GDI picks a font by a positive height.
QFont FontForCellHeight(const Font& font);

// An off-screen image, black until drawn on.
class QImageCanvas final : public Canvas {
 public:
  explicit QImageCanvas(Size size);
  ~QImageCanvas() override;

  // The pixels drawn so far.
  const QImage& Image() const;

  Size ClientSize() const override { return canvas_->ClientSize(); }
  Pen SelectPen(const Pen& pen) override { return canvas_->SelectPen(pen); }
  Brush SelectBrush(const Brush& brush) override { return canvas_->SelectBrush(brush); }
  Font SelectFont(const Font& font) override { return canvas_->SelectFont(font); }
  BackgroundMode SetBackgroundMode(BackgroundMode mode) override { return canvas_->SetBackgroundMode(mode); }
  Color SetBackgroundColor(Color color) override { return canvas_->SetBackgroundColor(color); }
  Color SetTextColor(Color color) override { return canvas_->SetTextColor(color); }
  TextAlign SetTextAlign(TextAlign align) override { return canvas_->SetTextAlign(align); }
  void DrawLine(Point from, Point to) override { canvas_->DrawLine(from, to); }
  void DrawRectangle(const Rect& rect) override { canvas_->DrawRectangle(rect); }
  void DrawPolygon(std::span<const Point> points) override { canvas_->DrawPolygon(points); }
  void DrawEllipse(const Rect& box) override { canvas_->DrawEllipse(box); }
  void DrawPie(const Rect& box, Point start, Point end) override { canvas_->DrawPie(box, start, end); }
  void DrawArc(const Rect& box, Point start, Point end) override { canvas_->DrawArc(box, start, end); }
  void DrawText(Point at, std::string_view text) override { canvas_->DrawText(at, text); }
  TextMetrics GetTextMetrics() const override { return canvas_->GetTextMetrics(); }
  Size GetTextExtent(std::string_view text) const override { return canvas_->GetTextExtent(text); }
  std::unique_ptr<Canvas> CreateImage(Size size) override { return canvas_->CreateImage(size); }
  void DrawImage(Point at, const Canvas& image) override { canvas_->DrawImage(at, image); }
  void ShowMessage(std::string_view text) override { canvas_->ShowMessage(text); }

 private:
  QImage image_;
  std::unique_ptr<QPainter> painter_;
  std::unique_ptr<QPainterCanvas> canvas_;
};

}  // namespace quorvel
