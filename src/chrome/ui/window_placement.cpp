#include "chrome/ui/window_placement.h"

#include <QApplication>
#include <QDockWidget>
#include <QFont>
#include <QMainWindow>
#include <QPalette>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QStyleFactory>

namespace quorvel {
bool WindowPlacement::Restore(QMainWindow& frame, QDockWidget* const* bars, int barCount) const {
  QSettings settings(QStringLiteral("Dorvane"), QStringLiteral("Pelkwind"));
  settings.beginGroup(profileName_ + QStringLiteral("-Main"));
  const QByteArray geometry = settings.value(QStringLiteral("geometry")).toByteArray();
  const QByteArray layout = settings.value(QStringLiteral("state")).toByteArray();
  const QVariant status = settings.value(QStringLiteral("status"));
  settings.endGroup();
  if (geometry.isEmpty()) return false;
  frame.restoreGeometry(geometry);
  if (!layout.isEmpty()) frame.restoreState(layout);
  if (status.isValid() && frame.statusBar() != nullptr) frame.statusBar()->setVisible(status.toBool());
  for (int i = 0; i < barCount; ++i) {
    settings.beginGroup(profileName_ + QStringLiteral("-Bar") + QString::number(i));
    const QVariant visible = settings.value(QStringLiteral("visible"));
    settings.endGroup();
    if (visible.isValid()) bars[i]->setVisible(visible.toBool());
  }
  return true;
}

void WindowPlacement::Save(const QMainWindow& frame, QDockWidget* const* bars, int barCount) const {
  QSettings settings(QStringLiteral("Dorvane"), QStringLiteral("Pelkwind"));
  settings.beginGroup(profileName_ + QStringLiteral("-Main"));
  settings.setValue(QStringLiteral("geometry"), frame.saveGeometry());
  settings.setValue(QStringLiteral("state"), frame.saveState());
  settings.setValue(QStringLiteral("status"), frame.statusBar() != nullptr && !frame.statusBar()->isHidden());
  settings.endGroup();
  for (int i = 0; i < barCount; ++i) {
    const QDockWidget& bar = *bars[i];
    settings.beginGroup(profileName_ + QStringLiteral("-Bar") + QString::number(i));
    settings.setValue(QStringLiteral("visible"), !bar.isHidden());
    settings.setValue(QStringLiteral("floating"), bar.isFloating());
    settings.setValue(QStringLiteral("area"), static_cast<int>(frame.dockWidgetArea(const_cast<QDockWidget*>(&bar))));
    settings.setValue(QStringLiteral("sizeHorz.cx"), bar.width());
    settings.setValue(QStringLiteral("sizeHorz.cy"), bar.height());
    settings.endGroup();
  }
  settings.sync();
}

void ApplyDesktopStyle() {
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);
  QPalette palette = QApplication::style()->standardPalette();
  palette.setColor(QPalette::Window, QColor(244, 246, 249));
  palette.setColor(QPalette::Base, Qt::white);
  palette.setColor(QPalette::AlternateBase, QColor(247, 249, 252));
  palette.setColor(QPalette::Button, QColor(240, 242, 246));
  palette.setColor(QPalette::Highlight, QColor(33, 93, 198));
  palette.setColor(QPalette::HighlightedText, Qt::white);
  palette.setColor(QPalette::ToolTipBase, QColor(255, 255, 240));
  QApplication::setPalette(palette);
  // A compact sans face, so the list's narrow default columns show whole texts.
  QFont font = QApplication::font();
  font.setFamilies({QStringLiteral("Noto Sans"), QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
                    QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
  font.setPointSizeF(9.0);
  QApplication::setFont(font);
  qApp->setStyleSheet(QStringLiteral(
      "QToolBar { border: none; border-bottom: 1px solid #d5dae3; spacing: 4px; padding: 2px 6px; }"
      "QToolButton { border: 1px solid transparent; border-radius: 6px; padding: 3px; }"
      "QToolButton:hover { background: #e3ebf8; border-color: #c3d3ee; }"
      "QToolButton:pressed { background: #cfdcf3; }"
      "QHeaderView::section { background: #eef1f6; border: none; border-right: 1px solid #d5dae3;"
      "  border-bottom: 1px solid #c9cfda; padding: 4px 6px; }"
      "QTableView { gridline-color: #e3e7ee; border: none; }"
      "QTableView::item { padding: 0 1px; }"
      "QDockWidget::title { background: #e8ecf3; padding: 5px 8px; }"
      "QStatusBar { border-top: 1px solid #d5dae3; }"
      "QStatusBar QLabel { padding: 0 6px; }"));
}

}  // namespace quorvel
