#pragma once

#include <string>

class QWidget;

namespace quorvel {

enum class MessageIcon { kNone, kStop, kExclamation, kInformation };
enum class MessageButtons { kOk, kYesNo };
enum class MessageAnswer { kOk, kYes, kNo };

struct MessageBoxRequest {
  std::string text;
  std::string title;
  MessageIcon icon = MessageIcon::kNone;
  MessageButtons buttons = MessageButtons::kOk;
};

// Modal message boxes, behind an interface so tests can answer them.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual MessageAnswer Show(const MessageBoxRequest& request) = 0;
};

// QMessageBox over a parent window (which may be null).
class QtMessageBoxes final : public MessageBoxes {
 public:
  explicit QtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}
  void SetParent(QWidget* parent) { parent_ = parent; }
  MessageAnswer Show(const MessageBoxRequest& request) override;

 private:
  QWidget* parent_;
};

// Writes each message to standard error and answers OK, or No to a
// question, for unattended runs where no one can press a button.
class StderrMessageBoxes final : public MessageBoxes {
 public:
  MessageAnswer Show(const MessageBoxRequest& request) override;
};

}  // namespace quorvel
