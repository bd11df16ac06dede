#pragma once

#include <QFont>
#include <QStyledItemDelegate>

namespace quorvel {

// Pixels before a line's first character.
inline constexpr int kSpyLinePadding = 4;

// The font of the packet lines: fixed pitch and spaced so that every
// character takes exactly the 9 pixels per byte of the list's extent.
QFont SpyLineFont();

// Paints a packet line on one row, character i in the 9-pixel cell i, and
// only the cells in view, so that a 64 KB line costs no more than a short
// one. The symbols that stand for control characters (SpyLineModel) are
// dimmed.
class SpyLineDelegate final : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace quorvel
