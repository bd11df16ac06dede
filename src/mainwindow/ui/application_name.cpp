#include "mainwindow/ui/application_name.h"

#include <QCoreApplication>

namespace quorvel {

void NameApplication() { QCoreApplication::setApplicationName(QStringLiteral("Quorvel")); }

}  // namespace quorvel
