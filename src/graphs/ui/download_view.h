#pragma once

#include <QWidget>
#include <atomic>
#include <memory>
#include <mutex>

#include "engine/flow_types.h"
#include "graphs/chart.h"

namespace quorvel {

// One traffic share pie. The chart is rebuilt and drawn under graphMutex;
// ready is 0 only while a rebuild runs, so no half-built pie is painted.
class CDownloadView final : public QWidget {
  Q_OBJECT

 public:
  CDownloadView(std::mutex& graphMutex, QWidget* parent = nullptr);
  ~CDownloadView() override;

  // Rebuilds the pie from one remote map; the caller holds the map's lock
  // (statMutex), this takes graphMutex inside it.
  void BuildSharePie(const RemoteMap& remotes);

  bool Ready() const { return ready_.load() == 1; }
  // Null until the first build. Read under graphMutex.
  const CChart* Chart() const { return chart_.get(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::mutex& graphMutex_;
  std::unique_ptr<CChart> chart_;
  std::atomic<int> ready_{0};
};

}  // namespace quorvel
