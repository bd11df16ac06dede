#pragma once

#include <QWidget>
#include <string>

namespace quorvel {

// The traffic summary on the toolbar: "Traffic Summary:" above the
// "DL: %s  UL: %s" text, Arial 15, colour 33, 93, 198.
class CStaticStat final : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 200;
  static constexpr int kHeight = 50;

  explicit CStaticStat(QWidget* parent = nullptr);

  void SetSummary(std::string text);
  const std::string& Summary() const { return summary_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::string summary_ = "DL: 0 B  UL: 0 B";
};

}  // namespace quorvel
