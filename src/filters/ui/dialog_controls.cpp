#include "filters/ui/dialog_controls.h"

#include <QPalette>
#include <QStyleOptionGroupBox>
#include <QStylePainter>

namespace quorvel {

DialogButtons AddOkCancel(QDialog& dialog) {
  auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
  SetControlId(*ok, kIdOk);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
  SetControlId(*cancel, kIdCancel);
  QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  row->addWidget(ok);
  row->addWidget(cancel);
  return {ok, cancel, row};
}

void SetControlId(QWidget& control, int id) {
  control.setProperty(kControlIdProperty, id);
  control.setObjectName(QStringLiteral("control%1").arg(id));
}

int ControlId(const QWidget& control) { return control.property(kControlIdProperty).toInt(); }

ColoredGroupBox::ColoredGroupBox(const QString& title, const QColor& captionColor, QWidget* parent)
    : QGroupBox(title, parent), captionColor_(captionColor) {}

void ColoredGroupBox::paintEvent(QPaintEvent*) {
  // As QGroupBox paints itself, with the caption colour put into the option.
  QStylePainter painter(this);
  QStyleOptionGroupBox option;
  initStyleOption(&option);
  if (isEnabled()) {
    // Some styles take the caption colour from the option, Fusion from its palette.
    option.textColor = captionColor_;
    option.palette.setColor(QPalette::WindowText, captionColor_);
  }
  painter.drawComplexControl(QStyle::CC_GroupBox, option);
}

void SetTextColor(QWidget& widget, const QColor& color) {
  QPalette palette = widget.palette();
  for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    palette.setColor(group, QPalette::WindowText, color);
    palette.setColor(group, QPalette::Text, color);
  }
  widget.setPalette(palette);
}

}  // namespace quorvel
