#include "mainwindow/ui/message_boxes.h"

#include <QMessageBox>
#include <QString>
#include <cstdio>

namespace quorvel {
namespace {

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kStop:
      return QMessageBox::Critical;
    case MessageIcon::kExclamation:
      return QMessageBox::Warning;
    case MessageIcon::kInformation:
      return QMessageBox::Information;
    case MessageIcon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

MessageAnswer QtMessageBoxes::Show(const MessageBoxRequest& request) {
  const bool yesNo = request.buttons == MessageButtons::kYesNo;
  QMessageBox box(ToQtIcon(request.icon), QString::fromStdString(request.title),
                  QString::fromStdString(request.text),
                  yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, parent_);
  const int answer = box.exec();
  if (!yesNo) return MessageAnswer::kOk;
  return answer == QMessageBox::Yes ? MessageAnswer::kYes : MessageAnswer::kNo;
}

MessageAnswer StderrMessageBoxes::Show(const MessageBoxRequest& request) {
  std::fprintf(stderr, "quorvel: %s: %s\n", request.title.c_str(), request.text.c_str());
  return request.buttons == MessageButtons::kYesNo ? MessageAnswer::kNo : MessageAnswer::kOk;
}

}  // namespace quorvel
