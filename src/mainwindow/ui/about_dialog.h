#pragma once

#include <QDialog>

namespace quorvel {

// "About": the icon, a banner, "Quorvel Version 2.2" and one line more, on white.
class CAboutDlg final : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace quorvel
