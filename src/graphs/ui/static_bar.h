#pragma once

#include <QImage>
#include <QWidget>
#include <atomic>
#include <mutex>

namespace quorvel {

class TrafficHistory;

// The history strip on the toolbar: 200 pixels wide, one sample per pixel
// less 4. Paints the history under statMutex; while frozen it keeps showing
// the last picture it drew.
class CStaticBar final : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 200;
  static constexpr int kHeight = 50;

  explicit CStaticBar(QWidget* parent = nullptr);

  // What to draw; null history (before creation or after exit) draws nothing.
  // The objects outlive this widget or are detached before they go.
  void SetSource(std::mutex* statMutex, TrafficHistory* history, const std::atomic<bool>* freezeGraph);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::mutex* statMutex_ = nullptr;
  TrafficHistory* history_ = nullptr;
  const std::atomic<bool>* freezeGraph_ = nullptr;
  QImage lastPicture_;
};

}  // namespace quorvel
