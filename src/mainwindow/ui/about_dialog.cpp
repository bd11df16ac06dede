#include "mainwindow/ui/about_dialog.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quorvel {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About"));
  setObjectName(QStringLiteral("CAboutDlg"));
  setModal(true);
  setAutoFillBackground(true);
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::Base, Qt::white);
  setPalette(white);

  auto* banner = new QLabel(this);
  banner->setPixmap(QPixmap(QStringLiteral(":/icons/banner.png")));
  banner->setAlignment(Qt::AlignCenter);

  auto* icon = new QLabel(this);
  icon->setPixmap(QIcon(QStringLiteral(":/icons/quorvel.png")).pixmap(48, 48));
  auto* version = new QLabel(QStringLiteral("Quorvel Version 2.2"), this);
  QFont bold = version->font();
  bold.setBold(true);
  bold.setPointSizeF(bold.pointSizeF() * 1.2);
  version->setFont(bold);
  auto* line = new QLabel(QStringLiteral("Every connection of this computer, live: who talks, to whom, how much."), this);
  line->setWordWrap(true);

  auto* group = new QGroupBox(this);
  auto* texts = new QVBoxLayout;
  texts->addWidget(version);
  texts->addWidget(line);
  auto* row = new QHBoxLayout(group);
  row->addWidget(icon, 0, Qt::AlignTop);
  row->addLayout(texts, 1);

  auto* ok = new QPushButton(QStringLiteral("&OK"), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(banner);
  layout->addWidget(group);
  layout->addWidget(ok, 0, Qt::AlignRight);
  setFixedWidth(420);
}

}  // namespace quorvel
