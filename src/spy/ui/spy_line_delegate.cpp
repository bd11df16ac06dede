#include "spy/ui/spy_line_delegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QStringList>
#include <QStyle>
#include <algorithm>

#include "spy/spy_packet_list.h"

namespace quorvel {
namespace {

// Lines hold Latin-1 characters only, so anything above U+00FF is a symbol
// the model put in place of a control character.
bool IsSymbol(QChar c) { return c.unicode() > 0xFF; }

}  // namespace

QFont SpyLineFont() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  // A second family that has the control symbols, where the first lacks them.
  font.setFamilies(QStringList{font.family(), QStringLiteral("DejaVu Sans Mono")});
  font.setStyleHint(QFont::TypeWriter);
  font.setKerning(false);
  const auto advanceAt = [&font](qreal points) {
    QFont sized = font;
    sized.setPointSizeF(points);
    return QFontMetricsF(sized).horizontalAdvance(QLatin1Char('M'));
  };
  // The largest size that leaves the letters close together in their cells.
  qreal points = font.pointSizeF();
  while (points > 6 && advanceAt(points) > kSpyPixelsPerByte) points -= 0.5;
  while (points < 14 && advanceAt(points + 0.5) <= kSpyPixelsPerByte - 0.6) points += 0.5;
  font.setPointSizeF(points);
  font.setLetterSpacing(QFont::AbsoluteSpacing, kSpyPixelsPerByte - advanceAt(points));
  return font;
}

void SpyLineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem item = option;
  initStyleOption(&item, index);
  const QString text = item.text;
  item.text.clear();
  item.state &= ~QStyle::State_HasFocus;  // the selection shows the line; no dotted frame
  const QWidget* widget = item.widget;
  QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
  style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);  // background and selection

  const bool selected = (item.state & QStyle::State_Selected) != 0;
  const QPalette::ColorGroup group = (item.state & QStyle::State_Enabled) ? QPalette::Normal : QPalette::Disabled;
  const QColor ink = item.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
  QColor dim = ink;
  dim.setAlphaF(0.4);

  // The cells in view: the rest of a long line is never laid out.
  const auto* view = qobject_cast<const QAbstractItemView*>(widget);
  const int viewWidth = view != nullptr ? view->viewport()->width() : option.rect.right();
  const int left = option.rect.left() + kSpyLinePadding;
  const auto length = static_cast<int>(text.size());
  const int first = std::clamp(-left / kSpyPixelsPerByte, 0, length);
  const int last = std::clamp((viewWidth - left) / kSpyPixelsPerByte + 1, first, length);

  const QFontMetricsF metrics(item.font);
  const qreal baseline = option.rect.top() + (option.rect.height() - metrics.height()) / 2 + metrics.ascent();
  painter->save();
  painter->setFont(item.font);
  painter->setClipRect(option.rect);
  for (int i = first; i < last;) {
    int end = i + 1;
    const bool symbol = IsSymbol(text[i]);
    if (!symbol) {
      while (end < last && !IsSymbol(text[end])) ++end;
    }
    const qreal x = left + static_cast<qreal>(i) * kSpyPixelsPerByte;
    if (symbol) {
      // Each symbol centred in its own cell: it may come from another font.
      painter->setPen(dim);
      painter->drawText(QRectF(x, option.rect.top(), kSpyPixelsPerByte, option.rect.height()), Qt::AlignCenter,
                        QString(text[i]));
    } else {
      painter->setPen(ink);
      painter->drawText(QPointF(x, baseline), text.mid(i, end - i));
    }
    i = end;
  }
  painter->restore();
}

}  // namespace quorvel
