#include "graphs/ui/traffic_share_bar.h"

#include <QSplitter>
#include <QTabWidget>
#include <mutex>

#include "engine/engine_state.h"
#include "graphs/ui/download_view.h"

namespace quorvel {
namespace {

QTabWidget* Folder(CDownloadView* view, const QString& title, QWidget* parent) {
  auto* folder = new QTabWidget(parent);
  folder->setDocumentMode(true);
  folder->addTab(view, title);
  return folder;
}

}  // namespace

CTrafficShareBar::CTrafficShareBar(EngineState& state, QWidget* parent)
    : QDockWidget(QStringLiteral("Traffic Bar"), parent) {
  setObjectName(QStringLiteral("TrafficBar"));
  setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
  setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);

  auto* splitter = new QSplitter(Qt::Vertical, this);
  splitter->setChildrenCollapsible(false);
  splitter->setHandleWidth(6);
  downloadView_ = new CDownloadView(state.graphMutex);
  downloadView_->setObjectName(QStringLiteral("DownloadView"));
  downloadView_->setAccessibleName(QStringLiteral("Hi"));
  uploadView_ = new CDownloadView(state.graphMutex);
  uploadView_->setObjectName(QStringLiteral("UploadView"));
  uploadView_->setAccessibleName(QStringLiteral("Hi!"));
  splitter->addWidget(Folder(downloadView_, QStringLiteral("Download"), splitter));
  splitter->addWidget(Folder(uploadView_, QStringLiteral("Upload"), splitter));
  setWidget(splitter);

  // The engine may already run when a window is built over existing state.
  std::lock_guard lock(state.statMutex);
  RebuildPies(state.stats);
}

void CTrafficShareBar::RebuildPies(const TrafficStats& stats) {
  downloadView_->BuildSharePie(stats.downloadRemotes);
  uploadView_->BuildSharePie(stats.uploadRemotes);
}

}  // namespace quorvel
