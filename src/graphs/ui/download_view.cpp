#include "graphs/ui/download_view.h"

#include <QPaintEvent>
#include <QPainter>

#include "graphs/share_pie.h"
#include "graphs/ui/qpainter_canvas.h"

namespace quorvel {

CDownloadView::CDownloadView(std::mutex& graphMutex, QWidget* parent) : QWidget(parent), graphMutex_(graphMutex) {
  setMinimumSize(240, 200);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

CDownloadView::~CDownloadView() {
  std::lock_guard lock(graphMutex_);
  if (chart_) chart_->ClearSeries();
  chart_.reset();
}

void CDownloadView::BuildSharePie(const RemoteMap& remotes) {
  {
    std::lock_guard lock(graphMutex_);
    ready_ = 0;
    ::quorvel::BuildSharePie(remotes, chart_);
    ready_ = 1;
  }
  update();
}

void CDownloadView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (ready_.load() != 1) {
    painter.fillRect(rect(), Qt::white);
    return;
  }
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setRenderHint(QPainter::TextAntialiasing, true);
  QPainterCanvas canvas(painter, Size{width(), height()});
  std::lock_guard lock(graphMutex_);
  if (chart_) chart_->DrawChart(canvas);
}

}  // namespace quorvel
