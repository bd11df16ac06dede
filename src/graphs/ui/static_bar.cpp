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
  const bool frozen = freezeGraph_ != nullptr && freezeGraph_->load();
  if (!frozen) {
    // Drawn into the kept picture first: a paint must cover the whole
    // window, and while frozen the picture is all there is to show.
    QImage picture(size(), QImage::Format_RGB32);
    picture.fill(Qt::black);
    {
      QPainter painter(&picture);
      QPainterCanvas canvas(painter, Size{width(), height()});
      std::lock_guard lock(*statMutex_);
      history_->SetFreezeGraph(false);
      history_->DrawHistoryGraph(canvas);
    }
    lastPicture_ = std::move(picture);
  }
  if (!lastPicture_.isNull()) QPainter(this).drawImage(0, 0, lastPicture_);
}

}  // namespace quorvel
