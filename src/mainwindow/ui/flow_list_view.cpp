#include "mainwindow/ui/flow_list_view.h"

#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>

#include "mainwindow/ui/flow_list_model.h"

namespace quorvel {
namespace {

// Draws the engine's highlighted rows with the style's selection look and
// the last clicked row with a faint tint.
class FlowRowDelegate final : public QStyledItemDelegate {
 public:
  explicit FlowRowDelegate(CPelkwindView* view) : QStyledItemDelegate(view), view_(*view) {}

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->state &= ~QStyle::State_HasFocus;
    if (index.data(FlowListModel::kSelectedRole).toBool()) {
      option->state |= QStyle::State_Selected | QStyle::State_Active;
    } else if (index.row() == view_.MarkedRow()) {
      QColor tint = option->palette.color(QPalette::Highlight);
      tint.setAlpha(40);
      option->backgroundBrush = tint;
    }
  }

 private:
  const CPelkwindView& view_;
};

}  // namespace

CPelkwindView::CPelkwindView(QWidget* parent) : QTableView(parent) {
  setObjectName(QStringLiteral("CPelkwindView"));
  setItemDelegate(new FlowRowDelegate(this));
  // The highlight belongs to the engine; clicks only pick the current row.
  setSelectionMode(QAbstractItemView::NoSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setShowGrid(true);
  setGridStyle(Qt::SolidLine);
  setWordWrap(false);
  setTextElideMode(Qt::ElideRight);
  setAlternatingRowColors(false);
  setIconSize(QSize(16, 16));
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  setFocusPolicy(Qt::StrongFocus);
  setContextMenuPolicy(Qt::DefaultContextMenu);
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
  QHeaderView* header = horizontalHeader();
  header->setSectionsClickable(true);
  header->setSectionsMovable(false);
  header->setHighlightSections(false);
  header->setStretchLastSection(false);
  header->setSortIndicatorShown(true);
  header->setSortIndicator(-1, Qt::DescendingOrder);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setMinimumSectionSize(20);
}

void CPelkwindView::SetMarkedRow(int row) {
  if (row == markedRow_) return;
  markedRow_ = row;
  viewport()->update();
}

int CPelkwindView::DefaultColumnWidth(int column) const {
  if (column < 0 || column >= kFlowColumnCount) return 0;
  const int listed = kFlowColumns[column].initialWidth;
  const char* widest = nullptr;
  if (column >= kColumnDownload && column <= kColumnTotal) widest = "1023.99 KB";
  if (column == kColumnFirstActivity || column == kColumnLastActivity) widest = "2026-12-31 23:59:59";
  if (widest == nullptr) return listed;
  // The listed widths suit an 8-point font 6 pixels wide on average.
  constexpr int kListedAverageWidth = 6;
  const QFontMetrics metrics(font());
  const int scaled = listed * std::max(metrics.averageCharWidth(), 1) / kListedAverageWidth;
  // The delegate keeps a margin on each side of the text, and the grid a pixel.
  const int margin = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1) + 1;
  return std::max({listed, scaled, metrics.horizontalAdvance(QString::fromLatin1(widest)) + margin});
}

int CPelkwindView::RowAt(const QPoint& viewportPoint) const {
  const QModelIndex index = indexAt(viewportPoint);
  return index.isValid() ? index.row() : -1;
}

void CPelkwindView::mousePressEvent(QMouseEvent* event) {
  const QPoint point = event->position().toPoint();
  if (event->button() == Qt::LeftButton) {
    QTableView::mousePressEvent(event);
    emit rowLeftClicked(RowAt(point));
    return;
  }
  if (event->button() == Qt::RightButton) {
    emit rowRightClicked(RowAt(point), event->globalPosition().toPoint());
    event->accept();
    return;
  }
  QTableView::mousePressEvent(event);
}

void CPelkwindView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    emit rowDoubleClicked(RowAt(event->position().toPoint()));
    event->accept();
    return;
  }
  QTableView::mouseDoubleClickEvent(event);
}

void CPelkwindView::contextMenuEvent(QContextMenuEvent* event) {
  // Mouse menus come with the right button press; this is the menu key.
  if (event->reason() == QContextMenuEvent::Mouse) {
    event->accept();
    return;
  }
  const int row = markedRow_;
  const QRect rowRect = visualRect(model() ? model()->index(std::max(row, 0), 0) : QModelIndex());
  emit rowRightClicked(row, viewport()->mapToGlobal(rowRect.isValid() ? rowRect.bottomLeft() : QPoint(8, 8)));
  event->accept();
}

}  // namespace quorvel
