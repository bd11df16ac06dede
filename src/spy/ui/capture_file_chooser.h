#pragma once

#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace quorvel {

// Asks for the capture file ("Dump files(*.dmp)", default extension "dmp");
// nothing when the user cancels. Behind a function so tests need no dialog.
using CaptureFileChooser = std::function<std::optional<QString>(QWidget* parent)>;

// The desktop's file dialog. The file need not exist: it is created when
// capture opens it for appending.
std::optional<QString> ChooseCaptureFileWithDialog(QWidget* parent);

}  // namespace quorvel
