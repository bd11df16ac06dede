#pragma once

#include <QColor>
#include <QDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace quorvel {

// The dialogs give their controls the numeric ids users of the old program
// and the help texts refer to; tests find controls by them.
inline constexpr char kControlIdProperty[] = "controlId";
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

void SetControlId(QWidget& control, int id);
int ControlId(const QWidget& control);  // 0 when it has none
// The child of `dialog` with that id; null when there is none or it is no T.
template <typename T>
T* FindControl(const QWidget& dialog, int id) {
  for (T* child : dialog.findChildren<T*>()) {
    if (ControlId(*child) == id) return child;
  }
  return nullptr;
}

// A dialog's "OK" and "Cancel" buttons (ids 1 and 2) wired to accept and
// reject, right-aligned in a row of their own; the caller picks the default.
struct DialogButtons {
  QPushButton* ok;
  QPushButton* cancel;
  QHBoxLayout* row;
};
DialogButtons AddOkCancel(QDialog& dialog);

// A group box whose caption is drawn in its own colour while it is enabled;
// the controls inside keep the normal text colour. Disabled, it looks like
// any disabled group box.
class ColoredGroupBox final : public QGroupBox {
  Q_OBJECT

 public:
  ColoredGroupBox(const QString& title, const QColor& captionColor, QWidget* parent = nullptr);
  QColor CaptionColor() const { return captionColor_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor captionColor_;
};

// Draws the widget's own text (a label's text, an edit's typed text) in colour.
void SetTextColor(QWidget& widget, const QColor& color);

}  // namespace quorvel
