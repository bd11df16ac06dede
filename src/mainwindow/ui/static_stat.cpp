#include "mainwindow/ui/static_stat.h"

#include <QPainter>

#include "graphs/ui/qpainter_canvas.h"

namespace quorvel {
namespace {

constexpr Color kSummaryColor{33, 93, 198};

}  // namespace

CStaticStat::CStaticStat(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("CStaticStat"));
  setFixedSize(kWidth, kHeight);
  setAccessibleName(QStringLiteral("Traffic Summary"));
}

void CStaticStat::SetSummary(std::string text) {
  summary_ = std::move(text);
  setAccessibleDescription(QString::fromStdString(summary_));
  update();
}

void CStaticStat::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::TextAntialiasing, true);
  QPainterCanvas canvas(painter, Size{width(), height()});
  canvas.SetTextColor(kSummaryColor);
  canvas.SetBackgroundMode(BackgroundMode::kTransparent);
  canvas.SetTextAlign(kAlignHCenter);
  const Font previous = canvas.SelectFont(Font{"Arial", 15, 400});
  canvas.DrawText(Point{width() / 2, 5}, "Traffic Summary:");
  canvas.SelectFont(Font{"Arial", 15, 900});
  canvas.DrawText(Point{width() / 2, 25}, summary_);
  canvas.SelectFont(previous);
}

}  // namespace quorvel
