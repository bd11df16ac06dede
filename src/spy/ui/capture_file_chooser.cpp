#include "spy/ui/capture_file_chooser.h"

#include <QFileDialog>
#include <QStringList>

namespace quorvel {

std::optional<QString> ChooseCaptureFileWithDialog(QWidget* parent) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(QStringLiteral("Dump files(*.dmp)"));
  dialog.setDefaultSuffix(QStringLiteral("dmp"));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.front();
}

}  // namespace quorvel
