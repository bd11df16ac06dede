#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QDialog>
#include <QImage>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <functional>

#include "filters/ui/dialog_controls.h"

namespace quorvel::testing {

// Answers the next modal dialog of type T from inside its exec(). A dialog
// of another type is rejected, so a wrong dialog fails the test instead of
// hanging it.
template <typename T>
void AnswerNextDialog(std::function<void(T&)> answer) {
  QTimer::singleShot(0, [answer = std::move(answer)] {
    QWidget* modal = QApplication::activeModalWidget();
    auto* dialog = qobject_cast<T*>(modal);
    if (dialog == nullptr) {
      ADD_FAILURE() << "expected a " << T::staticMetaObject.className() << ", got "
                    << (modal != nullptr ? modal->metaObject()->className() : "no dialog");
      if (auto* other = qobject_cast<QDialog*>(modal)) other->reject();
      return;
    }
    answer(*dialog);
  });
}

// The dialog's control of that id and type; a missing one ends the test program.
template <typename T>
T& Control(const QWidget& dialog, int id) {
  T* control = FindControl<T>(dialog, id);
  if (control == nullptr) {
    ADD_FAILURE() << "no control " << id;
    std::abort();
  }
  return *control;
}

// Pixels of the widget's picture within `tolerance` of `color` in every channel.
inline int PixelsNear(QWidget& widget, const QColor& color, int tolerance = 24) {
  const QImage image = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor pixel = image.pixelColor(x, y);
      if (std::abs(pixel.red() - color.red()) <= tolerance && std::abs(pixel.green() - color.green()) <= tolerance &&
          std::abs(pixel.blue() - color.blue()) <= tolerance) {
        ++count;
      }
    }
  }
  return count;
}

}  // namespace quorvel::testing
