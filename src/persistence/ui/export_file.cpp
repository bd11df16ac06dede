#include "persistence/ui/export_file.h"

#include <QFileDialog>
#include <QStringList>
#include <string>

#include "mainwindow/ui/message_boxes.h"
#include "persistence/text_file.h"

namespace quorvel {

std::optional<QString> ChooseSaveFileWithDialog(QWidget* parent, const QString& filter, const QString& suffix) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(filter);
  dialog.setDefaultSuffix(suffix);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.front();
}

bool SaveExport(QWidget* parent, const SaveFileChooser& choose, MessageBoxes& messages, const QString& filter,
                const QString& suffix, const std::function<std::string()>& bytes) {
  const std::optional<QString> path =
      choose ? choose(parent, filter, suffix) : ChooseSaveFileWithDialog(parent, filter, suffix);
  if (!path) return false;
  const Status written = WriteFileAtomically(path->toStdString(), bytes());
  if (!written) messages.Show(MessageBoxRequest{written.error, "Error", MessageIcon::kStop, MessageButtons::kOk});
  return written.ok;
}

}  // namespace quorvel
