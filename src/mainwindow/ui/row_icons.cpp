#include "mainwindow/ui/row_icons.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>

#include "engine/flow_rows.h"

namespace quorvel {
namespace {

constexpr std::size_t kMaxCachedIcons = 4096;

// The program an Exec line starts: its first word without quotes or path,
// skipping "env" and VAR=value words.
QString ExecutableOf(const QString& exec) {
  const QStringList words = exec.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  for (QString word : words) {
    word.remove(QLatin1Char('"'));
    if (word == QLatin1String("env") || word.contains(QLatin1Char('='))) continue;
    return QFileInfo(word).fileName();
  }
  return {};
}

}  // namespace

RowIconProvider::RowIconProvider()
    : program_(QStringLiteral(":/icons/program.png")), network_(QStringLiteral(":/icons/network.png")) {}

QIcon RowIconProvider::IconFor(const FlowRow& row) {
  const std::string& path = row.iconPath.empty() ? row.columns[kColumnFullPath] : row.iconPath;
  return IconForPath(path);
}

QIcon RowIconProvider::IconForPath(const std::string& path) {
  if (path.empty()) return network_;
  if (const auto found = cache_.find(path); found != cache_.end()) return found->second;
  if (cache_.size() >= kMaxCachedIcons) cache_.clear();
  QIcon icon = Lookup(QString::fromStdString(path));
  cache_.emplace(path, icon);
  return icon;
}

QIcon RowIconProvider::Lookup(const QString& path) {
  if (!entriesLoaded_) {
    iconByExecutable_ = ReadDesktopEntries(QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation));
    entriesLoaded_ = true;
  }
  const QFileInfo info(path);
  const QString iconName = iconByExecutable_.value(info.fileName());
  if (!iconName.isEmpty()) {
    const QIcon themed = QFileInfo(iconName).isAbsolute() ? QIcon(iconName) : QIcon::fromTheme(iconName);
    if (!themed.isNull()) return themed;
  }
  // Only an icon from the desktop's theme says something about the file
  // type; the style's stand-in is a blank page.
  const QIcon typed = files_.icon(info);
  if (!typed.isNull() && !typed.name().isEmpty()) return typed;
  return program_;
}

QHash<QString, QString> RowIconProvider::ReadDesktopEntries(const QStringList& directories) {
  QHash<QString, QString> icons;
  for (const QString& directory : directories) {
    const QDir dir(directory);
    const QStringList files = dir.entryList({QStringLiteral("*.desktop")}, QDir::Files | QDir::Readable);
    for (const QString& name : files) {
      QFile file(dir.filePath(name));
      if (file.size() > 256 * 1024 || !file.open(QIODevice::ReadOnly | QIODevice::Text)) continue;
      QTextStream in(&file);
      QString exec;
      QString icon;
      bool inEntry = false;
      while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
          inEntry = line == QLatin1String("[Desktop Entry]");
          continue;
        }
        if (!inEntry) continue;
        if (exec.isEmpty() && line.startsWith(QLatin1String("Exec="))) exec = line.mid(5);
        if (icon.isEmpty() && line.startsWith(QLatin1String("Icon="))) icon = line.mid(5);
      }
      const QString executable = ExecutableOf(exec);
      if (!executable.isEmpty() && !icon.isEmpty() && !icons.contains(executable)) icons.insert(executable, icon);
    }
  }
  return icons;
}

}  // namespace quorvel
