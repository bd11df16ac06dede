#pragma once

#include <QDockWidget>

namespace quorvel {

class CDownloadView;
struct EngineState;
struct TrafficStats;

// The docking bar "Traffic Bar": a splitter with the folders "Download" and
// "Upload", each holding one share pie.
class CTrafficShareBar final : public QDockWidget {
  Q_OBJECT

 public:
  CTrafficShareBar(EngineState& state, QWidget* parent = nullptr);

  // Rebuilds both pies, download first; the caller holds statMutex.
  void RebuildPies(const TrafficStats& stats);

  CDownloadView& downloadView() { return *downloadView_; }
  CDownloadView& uploadView() { return *uploadView_; }

 private:
  CDownloadView* downloadView_ = nullptr;
  CDownloadView* uploadView_ = nullptr;
};

}  // namespace quorvel
