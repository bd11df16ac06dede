#pragma once

#include <QDialog>
#include <string>

class QLineEdit;

namespace quorvel {

class MessageBoxes;

// "New filter": asks for the two patterns of one rule. OK is refused, with a
// message, while a pattern holds text that filters.dat cannot store.
class CNewFilterDlg final : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kIdHeading = 1025;
  static constexpr int kIdExamples = 1026;
  static constexpr int kIdRemoteLabel = 1023;
  static constexpr int kIdRemoteEdit = 1008;
  static constexpr int kIdLocalLabel = 1024;
  static constexpr int kIdLocalEdit = 1009;

  explicit CNewFilterDlg(MessageBoxes& messages, QWidget* parent = nullptr);

  // The texts exactly as typed (UTF-8, not trimmed); empty means "<ANY>".
  std::string RemotePattern() const;
  std::string LocalPattern() const;

  void accept() override;

 private:
  MessageBoxes& messages_;
  QLineEdit* remote_ = nullptr;
  QLineEdit* local_ = nullptr;
};

}  // namespace quorvel
