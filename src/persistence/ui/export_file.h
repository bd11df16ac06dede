#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <string_view>

class QWidget;

namespace quorvel {

class MessageBoxes;

// Asks where to save an export, given a name filter such as "CSV files
// (*.csv)" and the suffix added to a name without one; nothing when the user
// cancels. Behind a function so tests need no dialog.
using SaveFileChooser =
    std::function<std::optional<QString>(QWidget* parent, const QString& filter, const QString& suffix)>;

std::optional<QString> ChooseSaveFileWithDialog(QWidget* parent, const QString& filter, const QString& suffix);

// Asks for a file (with `choose`, or the desktop's dialog when it is empty)
// and writes the bytes made by `bytes` into it whole or not at all; a
// failure is shown as "Can't write to %s" titled "Error". Returns whether a
// file was written.
bool SaveExport(QWidget* parent, const SaveFileChooser& choose, MessageBoxes& messages, const QString& filter,
                const QString& suffix, const std::function<std::string()>& bytes);

}  // namespace quorvel
