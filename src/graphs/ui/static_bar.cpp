#include "graphs/ui/static_bar.h"

#include <QPaintEvent>
#include <QPainter>

#include "graphs/traffic_history.h"
#include "graphs/ui/qpainter_canvas.h"

namespace quorvel {

CStaticBar::CStaticBar(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("CStaticBar"));
  setFixedSize(kWidth, kHeight);
  setAccessibleName(QStringLiteral("Traffic history"));
}

void CStaticBar::SetSource(std::mutex* statMutex, TrafficHistory* history, const std::atomic<bool>* freezeGraph) {
  statMutex_ = statMutex;
  history_ = history;
  freezeGraph_ = freezeGraph;
  update();
}

void CStaticBar::paintEvent(QPaintEvent*) {
  if (history_ == nullptr || statMutex_ == nullptr) return;
  QPainter painter(this);
  QPainterCanvas canvas(painter, Size{width(), height()});
  std::lock_guard lock(*statMutex_);
  if (freezeGraph_ != nullptr) history_->SetFreezeGraph(freezeGraph_->load());
  history_->DrawHistoryGraph(canvas);
}

}  // namespace quorvel
