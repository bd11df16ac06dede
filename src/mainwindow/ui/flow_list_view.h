#pragma once

#include <QPoint>
#include <QTableView>

namespace quorvel {

// The flow list (the document's view): grid lines, whole rows, the engine's
// activity highlight drawn as the selection. Reports the row under each
// click (-1 on empty space); the main window decides what a click means.
class CPelkwindView final : public QTableView {
  Q_OBJECT

 public:
  explicit CPelkwindView(QWidget* parent = nullptr);

  // The row of the last click, drawn with a light mark; -1 for none.
  void SetMarkedRow(int row);
  int MarkedRow() const { return markedRow_; }
  // The row at a point of the viewport; -1 on empty space.
  int RowAt(const QPoint& viewportPoint) const;
  // A column's width before the user sets one: the listed width, made wide
  // enough in the byte and time columns for "1023.99 KB" and a whole time
  // in this view's font.
  int DefaultColumnWidth(int column) const;

 signals:
  void rowLeftClicked(int row);
  void rowRightClicked(int row, const QPoint& globalPosition);
  void rowDoubleClicked(int row);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  int markedRow_ = -1;
};

}  // namespace quorvel
